#!/usr/bin/env bash
# Proxy cache benchmark, in one run on this machine, everything on loopback
# and on a machine root of its own, the data-centre simulator as upstream:
#   1. a cached category (4 items of 1 KiB) asked with ab (HTTP/1.0, no
#      keep-alive, -c 50): the relay against nginx serving the same answer
#      body as a static file with the same ab parameters;
#   2. coalescing: 200 concurrent viewers of one stale entry while upstream
#      takes a second to answer, and 64 arguments in one request while each
#      upstream answer takes half a second;
#   3. memory: the relay's resident size holding 10,000 entries of 4 KiB.
#   bench/proxy_cache_bench.sh [requests (default 50000)]
# BUILD_DIR (default build) holds bin/zondrel, bin/dcsim and bin/zondrelctl.
# TRACE_MASK sets the relay's TraceMask (default: the product's default).
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${1:-50000}
CONCURRENCY=50
CACHED_PATH=/KIBO-1/NumItm-4/1000-0
ADMIN_CATEGORY=2000

# shellcheck source=ports.sh
. "$(dirname "$0")/ports.sh"
# shellcheck source=relay_setup.sh
. "$(dirname "$0")/relay_setup.sh"
# shellcheck source=ab_compare.sh
. "$(dirname "$0")/ab_compare.sh"
require_programs ab nginx curl python3

use_bench_machine cache-bench

sim_set() { curl -s "http://127.0.0.1:$SIM_PORT/dcsim/set/$1/$2" >/dev/null; }
sim_requests() { curl -s "http://127.0.0.1:$SIM_PORT/dcsim/stats" | awk -F= '$1 == "requests" {print $2}'; }
relay_kb() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$RELAY_PID/status"; }

# --- the simulator and the relay ----------------------------------------------
start_simulator --items 4 --item-size 1024
configure_relay
# The cache report is asked for through a category of the admin agent.
reg_add "\\AgentsList" DefaultList REG_MULTI_SZ "$ADMIN_CATEGORY,6"
[ -z "${TRACE_MASK:-}" ] || reg_add "" TraceMask REG_DWORD "$TRACE_MASK"
start_relay

echo "machine: $(nproc) cores, $(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
     "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
echo "relay: $BUILD_DIR ($(awk -F= '/^CMAKE_BUILD_TYPE:/ {print $2}' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || echo '?'))," \
     "TraceMask ${TRACE_MASK:-default}"

# --- 1. throughput and latency against nginx ------------------------------------
# The relay's answer body (next-update line and items) becomes nginx's file.
copy_answer_to_nginx "$CACHED_PATH"
BODY_BYTES=$(stat -c %s "$ZONDREL_ROOT/nginx/www$CACHED_PATH")
start_nginx
FETCHES_BEFORE=$(sim_requests)
echo
compare_with_nginx "1. cached answer of $BODY_BYTES body bytes" "$REQUESTS" "$CACHED_PATH"
echo "   upstream fetches during the runs: $(( $(sim_requests) - FETCHES_BEFORE ))"

# --- 2. coalescing and parallel arguments -----------------------------------------
echo
sim_set delay 1000
FETCHES_BEFORE=$(sim_requests)
START=$(date +%s.%N)
COALESCED=$(ab -n 200 -c 200 "http://127.0.0.1:$RELAY_PORT/KIBO-1/NumItm-4/1001-0" 2>&1)
END=$(date +%s.%N)
FETCHES=$(( $(sim_requests) - FETCHES_BEFORE ))
OK200=$(awk '/^Complete requests:/ {c = $3} /^Failed requests:/ {f = $3} /^Non-2xx responses:/ {n = $3}
             END {print c - f - n}' <<<"$COALESCED")
echo "2. 200 concurrent viewers of one stale entry, upstream answering after 1 s:"
awk -v f="$FETCHES" -v ok="$OK200" -v s="$START" -v e="$END" \
  'BEGIN {printf "   upstream fetches: %d (goal 1), answered 200: %d of 200, all done in %.2f s\n", f, ok, e - s}'

sim_set delay 500
ARGUMENTS=$(seq -s + -f 'a%g' 0 63)
FETCHES_BEFORE=$(sim_requests)
TIMES=$(curl -s -0 -o "$ZONDREL_ROOT/arguments.bin" -w '%{http_code} %{time_total}' \
  "http://127.0.0.1:$RELAY_PORT/KIBO-1/NumItm-4/1002-0?$ARGUMENTS")
FETCHES=$(( $(sim_requests) - FETCHES_BEFORE ))
read -r CODE SECONDS_TAKEN <<<"$TIMES"
RECORDS=$(grep -ac '^LID:' "$ZONDREL_ROOT/arguments.bin" || true)
echo "   64 arguments in one request, upstream answering after 0.5 s:"
echo "   status $CODE, $FETCHES upstream fetches, $RECORDS items, $SECONDS_TAKEN s (one round trip 0.5 s, 64 in a row 32 s)"
sim_set delay 0

# --- 3. memory -------------------------------------------------------------------
echo
RSS_BEFORE=$(relay_kb VmRSS)
for first in $(seq 0 500 9500); do
  ARGUMENTS=$(seq -s + -f 'e%g' "$first" $((first + 499)))
  code=$(curl -s -0 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$RELAY_PORT/KIBO-1/NumItm-4/1003-0?$ARGUMENTS")
  [ "$code" = 200 ] || { echo "filling the cache: status $code" >&2; exit 1; }
done
RSS_AFTER=$(relay_kb VmRSS)
# The cache's own account of what it holds (cache totals only).
code=$(curl -s -0 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$RELAY_PORT/KIBO-1/$ADMIN_CATEGORY-0?PxyAgent+32")
[ "$code" = 204 ] || { echo "cache report: status $code" >&2; exit 1; }
REPORT=$(ls -t "$ZONDREL_ROOT/home/Log/"Dump\ for\ * | head -1)
FOLDERS=$(awk -F': ' '/^Total number of folders/ {print $2 + 0}' "$REPORT")
DATA_BYTES=$(awk -F': ' '/^Total Data Bytes in Cache/ {print $2 + 0}' "$REPORT")
BUFFER_BYTES=$(awk -F': ' '/^Total Buffer Bytes in Cache/ {print $2 + 0}' "$REPORT")
echo "3. memory holding 10,000 entries of 4 items of 1 KiB ($FOLDERS entries in all):"
awk -v b="$RSS_BEFORE" -v a="$RSS_AFTER" -v d="$DATA_BYTES" -v u="$BUFFER_BYTES" -v peak="$(relay_kb VmHWM)" 'BEGIN {
  grown = (a - b) * 1024
  printf "   resident %d kB before, %d kB after (peak %d kB): grew by %.1f MiB\n", b, a, peak, grown / 1048576
  printf "   bytes held: %.1f MiB of items (%.1f MiB of buffers)\n", d / 1048576, u / 1048576
  printf "   overhead of the growth over the bytes held: %.1f %% (goal <= 25 %%)\n", (grown - d) * 100 / d
}'
