#!/usr/bin/env bash
# Pass-through throughput: the relay in front of the data-centre simulator
# against the simulator asked directly, in one run, with ab (HTTP/1.0, no
# keep-alive); then the relay's memory and threads under 200 concurrent
# viewers. Everything runs on loopback, on a machine root of its own.
#   bench/passthrough_ab.sh [requests (default 20000)] [concurrency (default 16)]
# BUILD_DIR (default build) holds bin/zondrel, bin/dcsim and bin/zondrelctl.
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${1:-20000}
CONCURRENCY=${2:-16}
PATH_ASKED=/KIBO-1/5-1
TARGET_RATIO=0.45

# shellcheck source=ports.sh
. "$(dirname "$0")/ports.sh"
# shellcheck source=relay_setup.sh
. "$(dirname "$0")/relay_setup.sh"
require_programs ab python3

use_bench_machine bench

# Requests per second of one ab run, failing when any request failed.
ab_rate() {
  local out
  out=$(ab -q -n "$REQUESTS" -c "$CONCURRENCY" "http://127.0.0.1:$1$PATH_ASKED" 2>&1)
  local failed
  failed=$(awk '/^Failed requests:/ {print $3}' <<<"$out")
  local non2xx
  non2xx=$(awk '/^Non-2xx responses:/ {print $3}' <<<"$out")
  if [ "${failed:-1}" != "0" ] || [ -n "$non2xx" ]; then
    echo "ab against port $1: failed ${failed:-?}, non-2xx ${non2xx:-0}" >&2
    echo "$out" >&2
    return 1
  fi
  awk '/^Requests per second:/ {print $4}' <<<"$out"
}

start_simulator
configure_relay
start_relay

# A first round warms both up (threads, registry connections, caches).
ab -q -n 500 -c "$CONCURRENCY" "http://127.0.0.1:$SIM_PORT$PATH_ASKED" >/dev/null 2>&1
ab -q -n 500 -c "$CONCURRENCY" "http://127.0.0.1:$RELAY_PORT$PATH_ASKED" >/dev/null 2>&1

DIRECT=$(ab_rate "$SIM_PORT")
RELAYED=$(ab_rate "$RELAY_PORT")
RATIO=$(awk -v r="$RELAYED" -v d="$DIRECT" 'BEGIN {printf "%.3f", r / d}')
echo "requests $REQUESTS, concurrency $CONCURRENCY, path $PATH_ASKED"
echo "simulator directly:           $DIRECT requests/s"
echo "relay -> simulator (passed):  $RELAYED requests/s"
echo "ratio:                        $RATIO (target >= $TARGET_RATIO)"

# 200 concurrent viewers: the relay's peak memory and threads while they run.
status_value() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$RELAY_PID/status"; }
RSS_BEFORE=$(status_value VmRSS)
THREADS_BEFORE=$(status_value Threads)
ab -q -n $((REQUESTS / 2)) -c 200 "http://127.0.0.1:$RELAY_PORT$PATH_ASKED" >"$ZONDREL_ROOT/ab200.txt" 2>&1 &
AB_PID=$!
MAX_RSS=$RSS_BEFORE
MAX_THREADS=$THREADS_BEFORE
while kill -0 "$AB_PID" 2>/dev/null; do
  rss=$(status_value VmRSS)
  threads=$(status_value Threads)
  [ "$rss" -le "$MAX_RSS" ] || MAX_RSS=$rss
  [ "$threads" -le "$MAX_THREADS" ] || MAX_THREADS=$threads
  sleep 0.05
done
wait "$AB_PID" || true
RATE200=$(awk '/^Requests per second:/ {print $4}' "$ZONDREL_ROOT/ab200.txt")
FAILED200=$(awk '/^Failed requests:/ {print $3}' "$ZONDREL_ROOT/ab200.txt")
echo "200 concurrent viewers:       ${RATE200:-?} requests/s, failed ${FAILED200:-?}"
echo "relay memory (VmRSS):         ${RSS_BEFORE} kB before, ${MAX_RSS} kB at most, peak $(status_value VmHWM) kB"
echo "relay threads:                ${THREADS_BEFORE} before, ${MAX_THREADS} at most"

awk -v r="$RATIO" -v t="$TARGET_RATIO" 'BEGIN {exit !(r >= t)}' || { echo "ratio below target" >&2; exit 1; }
