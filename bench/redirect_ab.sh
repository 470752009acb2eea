#!/usr/bin/env bash
# Redirection answers: the relay answering viewers' redirection requests
# (category 66560, its [DataCenter] document for the viewer's address)
# against nginx serving the same answer body as a static file, both asked
# with ab (HTTP/1.0, no keep-alive), everything on loopback and on a machine
# root of its own. The relay is its own master with a table of 1,000 keys.
#   bench/redirect_ab.sh [requests (default 50000)]
# BUILD_DIR (default build) holds bin/zondrel, bin/dcsim and bin/zondrelctl.
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${1:-50000}
CONCURRENCY=50
REDIRECT_PATH=/KIBO-1/66560-1

# shellcheck source=ports.sh
. "$(dirname "$0")/ports.sh"
# shellcheck source=relay_setup.sh
. "$(dirname "$0")/relay_setup.sh"
require_programs ab nginx curl
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

export ZONDREL_ROOT
ZONDREL_ROOT=$(mktemp -d /tmp/zondrel-redirect-bench-XXXXXX)
SIM_PID=""
RELAY_PID=""
NGINX_PID=""
cleanup() {
  for pid in "$RELAY_PID" "$NGINX_PID" "$SIM_PID"; do
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  done
  for pid in "$RELAY_PID" "$NGINX_PID" "$SIM_PID"; do
    [ -z "$pid" ] || wait "$pid" 2>/dev/null || true
  done
  rm -rf "$ZONDREL_ROOT"
}
trap cleanup EXIT

ab_run() {  # port requests → "<requests/s> <p50 ms> <p99 ms>"
  local out failed non2xx
  out=$(ab -n "$2" -c "$CONCURRENCY" "http://127.0.0.1:$1$REDIRECT_PATH" 2>&1)
  failed=$(awk '/^Failed requests:/ {print $3}' <<<"$out")
  non2xx=$(awk '/^Non-2xx responses:/ {print $3}' <<<"$out")
  if [ "${failed:-1}" != "0" ] || [ -n "$non2xx" ]; then
    echo "ab against port $1: failed ${failed:-?}, non-2xx ${non2xx:-0}" >&2
    echo "$out" >&2
    return 1
  fi
  awk '/^Requests per second:/ {rate = $4} $1 == "50%" {p50 = $2} $1 == "99%" {p99 = $2}
       END {print rate, p50, p99}' <<<"$out"
}

# --- the relay, master of a table of its own ----------------------------------
start_simulator
configure_relay
reg_add "\\AgentsList" DefaultList REG_MULTI_SZ "66560,5"
mkdir -p "$ZONDREL_ROOT/etc"
echo "127.0.0.1 benchrelay" >"$ZONDREL_ROOT/etc/hosts"
"$BUILD_DIR/bin/zondrelctl" reg add "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName" \
  /v ComputerName /t REG_SZ /d benchrelay /f >/dev/null
{
  printf 'Bench Corp, benchrelay\r\nbenchrelay, %s\r\n' "$RELAY_PORT"
  for i in $(seq 1 1000); do printf '10.%d.%d.0/24, x\r\n' $((i / 250)) $((i % 250)); done
  printf '127.0.0.0/8, x\r\nall others, x\r\n'
} >"$ZONDREL_ROOT/home/redirect.csv"
start_relay

echo "machine: $(nproc) cores, $(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
echo "relay: $BUILD_DIR ($(awk -F= '/^CMAKE_BUILD_TYPE:/ {print $2}' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || echo '?'))"

# --- nginx with the relay's answer body ------------------------------------------
mkdir -p "$ZONDREL_ROOT/nginx/www$(dirname "$REDIRECT_PATH")"
for _ in $(seq 1 50); do
  curl -s -0 -o "$ZONDREL_ROOT/nginx/www$REDIRECT_PATH" "http://127.0.0.1:$RELAY_PORT$REDIRECT_PATH" && \
    grep -q DataCenter "$ZONDREL_ROOT/nginx/www$REDIRECT_PATH" && break
  sleep 0.1
done
BODY_BYTES=$(stat -c %s "$ZONDREL_ROOT/nginx/www$REDIRECT_PATH")
chmod o+x "$ZONDREL_ROOT"
chmod -R o+rX "$ZONDREL_ROOT/nginx"
NGINX_PORT=$(free_port)
cat >"$ZONDREL_ROOT/nginx/nginx.conf" <<EOF2
worker_processes auto;
daemon off;
pid $ZONDREL_ROOT/nginx/nginx.pid;
error_log $ZONDREL_ROOT/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log $ZONDREL_ROOT/nginx/access.log;
  client_body_temp_path $ZONDREL_ROOT/nginx/body;
  proxy_temp_path $ZONDREL_ROOT/nginx/proxy;
  fastcgi_temp_path $ZONDREL_ROOT/nginx/fastcgi;
  uwsgi_temp_path $ZONDREL_ROOT/nginx/uwsgi;
  scgi_temp_path $ZONDREL_ROOT/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $ZONDREL_ROOT/nginx/www;
  }
}
EOF2
"$NGINX" -c "$ZONDREL_ROOT/nginx/nginx.conf" -p "$ZONDREL_ROOT/nginx" >"$ZONDREL_ROOT/nginx/stdout.txt" 2>&1 &
NGINX_PID=$!
wait_for_port "$NGINX_PORT"

# --- measured: a warm-up each, then two alternating runs each, the better counts --
ab_run "$RELAY_PORT" 2000 >/dev/null
ab_run "$NGINX_PORT" 2000 >/dev/null
best() { awk '{ if ($1 > best) { best = $1; line = $0 } } END {print line}'; }
RELAY_RUNS=""
NGINX_RUNS=""
for _ in 1 2; do
  RELAY_RUNS+="$(ab_run "$RELAY_PORT" "$REQUESTS")"$'\n'
  NGINX_RUNS+="$(ab_run "$NGINX_PORT" "$REQUESTS")"$'\n'
done
read -r RELAY_RATE RELAY_P50 RELAY_P99 <<<"$(best <<<"$RELAY_RUNS")"
read -r NGINX_RATE NGINX_P50 NGINX_P99 <<<"$(best <<<"$NGINX_RUNS")"
echo
echo "redirection answer of $BODY_BYTES body bytes, $REQUESTS requests, ab -c $CONCURRENCY, HTTP/1.0, no keep-alive"
printf '   relay: %10s requests/s   p50 %4s ms   p99 %4s ms\n' "$RELAY_RATE" "$RELAY_P50" "$RELAY_P99"
printf '   nginx: %10s requests/s   p50 %4s ms   p99 %4s ms\n' "$NGINX_RATE" "$NGINX_P50" "$NGINX_P99"
awk -v r="$RELAY_RATE" -v n="$NGINX_RATE" 'BEGIN {printf "   ratio relay/nginx: %.3f (goal >= 1.0)\n", r / n}'
