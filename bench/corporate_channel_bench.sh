#!/usr/bin/env bash
# Corporate channel benchmark, in one run on this machine, everything on
# loopback and on a machine root of its own: the relay answering corp.dat
# (slot 0, a few KB) and a 100 KB logo from memory, each against nginx
# serving the same body bytes as a static file (ab, HTTP/1.0, no
# keep-alive, -c 50).
#   bench/corporate_channel_bench.sh [requests (default 50000)]
# BUILD_DIR (default build) holds bin/zondrel, bin/dcsim and bin/zondrelctl.
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${1:-50000}
CONCURRENCY=50
CORP_PATH='/KIBO-1/66816-1?data_file'
LOGO_PATH='/KIBO-1/66816-1?dvlogo_file'

# shellcheck source=ports.sh
. "$(dirname "$0")/ports.sh"
# shellcheck source=relay_setup.sh
. "$(dirname "$0")/relay_setup.sh"
# shellcheck source=ab_compare.sh
. "$(dirname "$0")/ab_compare.sh"
require_programs ab nginx curl python3

use_bench_machine corp-bench

# --- the channel: corp.dat with two groups of 10 documents, a 100 KB logo --------
CORP="$ZONDREL_ROOT/home/corp"
mkdir -p "$CORP/GROUPS"
printf 'NAME=Bench Channel\r\nDV_LOGO=dvlogo.gif\r\nAD_LOGO=adlogo.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\nGROUP_FILE=g1.dat,,\r\nGROUP_FILE=g2.dat,,\r\n' \
  >"$CORP/corp.dat"
for group in 1 2; do
  {
    printf 'GROUP=Group %s\r\n' "$group"
    for doc in $(seq 10); do
      printf 'DOC_ID=%s%02d\r\nDOC_SUBJECT=Document %s of group %s\r\nDOC_SUMMARY=<p>%s</p>\r\nDOC_SUMMARY_END\r\n' \
        "$group" "$doc" "$doc" "$group" "$(head -c 60 /dev/zero | tr '\0' 'x')"
    done
  } >"$CORP/GROUPS/g$group.dat"
done
head -c 102400 /dev/urandom >"$CORP/dvlogo.gif"
printf 'Flash: benchmark\r\n' >"$CORP/flash.dat"

start_simulator
configure_relay
start_relay
# The agent list arrives from the simulator on a thread of its own.
for _ in $(seq 100); do
  [ "$(curl -s -0 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$RELAY_PORT$CORP_PATH")" = 200 ] && break
  sleep 0.1
done

echo "machine: $(nproc) cores, $(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
     "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
echo "relay: $BUILD_DIR ($(awk -F= '/^CMAKE_BUILD_TYPE:/ {print $2}' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || echo '?'))"

copy_answer_to_nginx "$CORP_PATH" /corp/data_file
copy_answer_to_nginx "$LOGO_PATH" /corp/dvlogo_file
start_nginx

echo
compare_with_nginx "1. corp.dat of $(stat -c %s "$ZONDREL_ROOT/nginx/www/corp/data_file") body bytes" \
  "$REQUESTS" "$CORP_PATH" /corp/data_file
echo
compare_with_nginx "2. a logo of $(stat -c %s "$ZONDREL_ROOT/nginx/www/corp/dvlogo_file") body bytes" \
  "$REQUESTS" "$LOGO_PATH" /corp/dvlogo_file
