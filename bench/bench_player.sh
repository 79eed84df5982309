#!/usr/bin/env bash
# Runs bench_player (media engine against the mpv command line) headless.
# Build first (scripts/build.sh); needs the packages of scripts/setup.sh, mpv included.
set -euo pipefail
cd "$(dirname "$0")/.."
exec xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX" build/bench/bench_player "$@"
