# Sourced by the scripts that play media headless: starts a PulseAudio daemon
# with a null sink for this shell and stops it when the shell exits, so media
# plays in real time through a real audio output. Without it the practice would
# go untested, so a sink that does not start ends the sourcing script (unless
# TAVROLIN_ALLOW_SKIPS=1, set by hand, lets it go on with a warning).
pulse_dir=$(mktemp -d)
export PULSE_RUNTIME_PATH="$pulse_dir"
export PULSE_SERVER="unix:$pulse_dir/native"
pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
  --load="module-null-sink" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_dir/native" \
  >"$pulse_dir/log" 2>&1 &
pulse_pid=$!
stop_audio_sink() {
  kill "$pulse_pid" 2>/dev/null || true
  wait "$pulse_pid" 2>/dev/null || true
  rm -rf "$pulse_dir"
}
trap stop_audio_sink EXIT
for _ in $(seq 50); do [ -S "$pulse_dir/native" ] && break; sleep 0.1; done
if ! pactl list short sinks 2>/dev/null | grep -q .; then
  echo "$(basename "$0"): sound is missing: the PulseAudio null sink did not start, so nothing can be played." >&2
  sed 's/^/  pulseaudio: /' "$pulse_dir/log" >&2
  if [ "${TAVROLIN_ALLOW_SKIPS:-}" != 1 ]; then
    exit 1
  fi
  echo "$(basename "$0"): TAVROLIN_ALLOW_SKIPS=1: going on without sound." >&2
fi
