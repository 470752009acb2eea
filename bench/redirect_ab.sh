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
# shellcheck source=ab_compare.sh
. "$(dirname "$0")/ab_compare.sh"
require_programs ab nginx curl

use_bench_machine redirect-bench

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
start_nginx

echo
compare_with_nginx "redirection answer of $BODY_BYTES body bytes" "$REQUESTS" "$REDIRECT_PATH"
