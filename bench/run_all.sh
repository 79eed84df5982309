#!/usr/bin/env bash
# Runs every benchmark once, one after the other, headless with a null audio
# sink, and prints each one's figures. Build first (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/audio-sink.sh
screen="-screen 0 1280x1024x24 +extension GLX"
for b in bench_startup bench_signing bench_download bench_contentcipher bench_player bench_overshoot bench_heard bench_import bench_review \
  bench_shadowing; do
  echo "=== $b"
  xvfb-run -a -s "$screen" "build/bench/$b" 2>/dev/null
done
