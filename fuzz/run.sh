#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds
# (default 600), one after the other. Findings land in fuzz/findings/.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:-600}"
build="${FUZZ_BUILD_DIR:-$here/../build-fuzz}"
CXX=clang++ cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j2
mkdir -p "$here/findings"
for target in fuzz_decrypt fuzz_archive; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  if [ -d "$here/seeds/$target" ]; then cp -n "$here/seeds/$target"/* "$corpus"/ 2>/dev/null || true; fi
  echo "== $target for ${seconds}s"
  "$build/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$here/findings/$target-" "$corpus" 2>&1 | tail -n 15
done
