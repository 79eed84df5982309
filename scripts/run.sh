#!/usr/bin/env bash
# Builds the application and starts it against the bundled sample service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

if [ -x build/service/tavrolin-service ]; then
  build/service/tavrolin-service --data build/service/content &
  service_pid=$!
  trap 'kill $service_pid 2>/dev/null || true' EXIT
  export TAVROLIN_SERVICE_CA="$PWD/build/service/content/service-cert.pem"
fi

build/tavrolin "$@"
