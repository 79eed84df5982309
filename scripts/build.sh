#!/usr/bin/env bash
# Installs missing packages and builds everything into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROLIN_WERROR="${TAVROLIN_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
