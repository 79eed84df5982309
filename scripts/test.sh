#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless: an X server from
# Xvfb (with Mesa for video) and a PulseAudio daemon with a null sink.
# Arguments go to ctest, e.g. `-R tst_journey`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/audio-sink.sh

xvfb-run -a -s "-screen 0 1920x1080x24 +extension GLX" \
  ctest --test-dir build --output-on-failure --timeout 600 "$@"
