#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless: an X server from
# Xvfb (with Mesa for video) managed by openbox, as a desktop is, and a
# PulseAudio daemon with a null sink. Fails when the sink cannot be started or
# when any test function skipped: Qt Test counts a skip as a pass, and a skip
# leaves something untested. TAVROLIN_ALLOW_SKIPS=1, set by hand and never by
# CI, lets skips through with a warning.
# Arguments go to ctest, e.g. `-R tst_journey`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/audio-sink.sh

# 96 DPI: a screen at 100 %, as desktops report it (Xvfb's own default would
# make the program scale by 104 %).
display="-screen 0 1920x1080x24 -dpi 96 +extension GLX"
results="$PWD/build/Testing/results.xml"
rm -f "$results"
status=0
xvfb-run -a -s "$display" bash scripts/window-manager.sh \
  ctest --test-dir build --output-on-failure --timeout 600 \
  --output-junit "$results" --test-output-size-passed 8000000 "$@" || status=$?

# A failing test's own lines can be long; repeat just the failures at the end,
# where a truncated log still shows them.
if [ "$status" != 0 ] && [ -f "$results" ]; then
  echo "scripts/test.sh: failed test functions:"
  grep -hA1 'FAIL!  : ' "$results" | sed 's/^/  /' | head -n 60 || true
fi

# Every test's whole output is in the results, passed ones included.
skipped=$(grep -ho 'SKIP   : .*' "$results" 2>/dev/null || true)
if [ -n "$skipped" ]; then
  echo "$skipped" | sed 's/^/  /'
  if [ "${TAVROLIN_ALLOW_SKIPS:-}" = 1 ]; then
    echo "scripts/test.sh: $(echo "$skipped" | wc -l) test functions skipped (allowed by TAVROLIN_ALLOW_SKIPS=1)"
  else
    echo "scripts/test.sh: $(echo "$skipped" | wc -l) test functions skipped; a skip is a failure here"
    status=1
  fi
elif [ -f "$results" ]; then
  echo "scripts/test.sh: 0 test functions skipped"
fi
exit $status
