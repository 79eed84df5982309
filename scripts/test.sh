#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless: an X server from
# Xvfb (with Mesa for video) and a PulseAudio daemon with a null sink, so media
# plays in real time through a real audio output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

pulse_dir=$(mktemp -d)
export PULSE_RUNTIME_PATH="$pulse_dir"
export PULSE_SERVER="unix:$pulse_dir/native"
pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
  --load="module-null-sink" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_dir/native" \
  >"$pulse_dir/log" 2>&1 &
pulse_pid=$!
cleanup() {
  kill "$pulse_pid" 2>/dev/null || true
  wait "$pulse_pid" 2>/dev/null || true
  rm -rf "$pulse_dir"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -S "$pulse_dir/native" ] && break; sleep 0.1; done

xvfb-run -a -s "-screen 0 1920x1080x24 +extension GLX" \
  ctest --test-dir build --output-on-failure --timeout 600 "$@"
