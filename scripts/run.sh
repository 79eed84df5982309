#!/usr/bin/env bash
# Builds the application and starts it against the bundled sample service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

if [ -x build/service/tavrolin-service ] && [ -z "${TAVROLIN_SERVICE_HOST:-}" ]; then
  http_port="${TAVROLIN_SERVICE_HTTP_PORT:-8780}"
  https_port="${TAVROLIN_SERVICE_HTTPS_PORT:-8781}"
  # The service logs every request with its signature headers.
  build/service/tavrolin-service --data build/service/content \
    --http-port "$http_port" --https-port "$https_port" 2>build/service/service.log &
  service_pid=$!
  trap 'kill $service_pid 2>/dev/null || true' EXIT
  export TAVROLIN_SERVICE_CA="$PWD/build/service/content/service-cert.pem"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$http_port") 2>/dev/null && break
    kill -0 "$service_pid" 2>/dev/null || { cat build/service/service.log >&2; exit 1; }
    sleep 0.1
  done
  echo "Sample service on http://127.0.0.1:$http_port and https://127.0.0.1:$https_port (log: build/service/service.log)"
fi

build/tavrolin "$@"
