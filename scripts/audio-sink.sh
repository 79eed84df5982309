# Sourced by the scripts that play media headless: starts a PulseAudio daemon
# with a null sink for this shell and stops it when the shell exits, so media
# plays in real time through a real audio output.
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
