#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless: an X server from
# Xvfb (with Mesa for video) managed by openbox, as a desktop is, and a
# PulseAudio daemon with a null sink. Tests labelled bare-display run
# afterwards on a display without a window manager.
# Arguments go to ctest, e.g. `-R tst_journey`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/audio-sink.sh

# 96 DPI: a screen at 100 %, as desktops report it (Xvfb's own default would
# make the program scale by 104 %).
display="-screen 0 1920x1080x24 -dpi 96 +extension GLX"
status=0
xvfb-run -a -s "$display" bash scripts/window-manager.sh \
  ctest --test-dir build --output-on-failure --timeout 600 -LE bare-display "$@" || status=$?
if ctest --test-dir build -N -L bare-display "$@" | grep -q '^ *Test *#'; then
  xvfb-run -a -s "$display" \
    ctest --test-dir build --output-on-failure --timeout 600 -L bare-display "$@" || status=$?
fi
exit $status
