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
require_programs ab nginx curl python3
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

export ZONDREL_ROOT
ZONDREL_ROOT=$(mktemp -d /tmp/zondrel-cache-bench-XXXXXX)
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

sim_set() { curl -s "http://127.0.0.1:$SIM_PORT/dcsim/set/$1/$2" >/dev/null; }
sim_requests() { curl -s "http://127.0.0.1:$SIM_PORT/dcsim/stats" | awk -F= '$1 == "requests" {print $2}'; }
relay_kb() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$RELAY_PID/status"; }

# CPU time (clock ticks) used so far by the given processes, all threads.
cpu_ticks() {
  local ticks=0 stat
  for pid in "$@"; do
    for stat in /proc/"$pid"/task/*/stat; do
      ticks=$((ticks + $(awk '{print $14 + $15}' "$stat" 2>/dev/null || echo 0)))
    done
  done
  echo "$ticks"
}

# One ab run against a port: "<requests/s> <p50 ms> <p99 ms>"; fails when
# any request failed or was not answered 200.
ab_run() {
  local out
  out=$(ab -n "$2" -c "$CONCURRENCY" "http://127.0.0.1:$1$CACHED_PATH" 2>&1)
  local failed non2xx
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
mkdir -p "$ZONDREL_ROOT/nginx/www$(dirname "$CACHED_PATH")"
curl -s -0 -o "$ZONDREL_ROOT/nginx/www$CACHED_PATH" "http://127.0.0.1:$RELAY_PORT$CACHED_PATH"
BODY_BYTES=$(stat -c %s "$ZONDREL_ROOT/nginx/www$CACHED_PATH")
# nginx's workers may run as another user: they must reach the file.
chmod o+x "$ZONDREL_ROOT"
chmod -R o+rX "$ZONDREL_ROOT/nginx"
NGINX_PORT=$(free_port)
cat >"$ZONDREL_ROOT/nginx/nginx.conf" <<EOF
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
EOF
"$NGINX" -c "$ZONDREL_ROOT/nginx/nginx.conf" -p "$ZONDREL_ROOT/nginx" >"$ZONDREL_ROOT/nginx/stdout.txt" 2>&1 &
NGINX_PID=$!
wait_for_port "$NGINX_PORT"

# A first round warms both up; then each is measured twice, alternately,
# and its better run counts.
ab_run "$RELAY_PORT" 2000 >/dev/null
ab_run "$NGINX_PORT" 2000 >/dev/null
FETCHES_BEFORE=$(sim_requests)
best() {  # the run with the higher rate
  awk '{ if ($1 > best) { best = $1; line = $0 } } END {print line}'
}
# One measured run, with the server's CPU time per request appended (us).
measured_run() {  # port pid...
  local port=$1 before after result
  shift
  before=$(cpu_ticks "$@")
  result=$(ab_run "$port" "$REQUESTS")
  after=$(cpu_ticks "$@")
  awk -v r="$result" -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$REQUESTS" \
    'BEGIN {printf "%s %.1f\n", r, t * 1e6 / hz / n}'
}
NGINX_PIDS="$NGINX_PID $(pgrep -P "$NGINX_PID" | tr '\n' ' ')"
RELAY_RUNS=""
NGINX_RUNS=""
for _ in 1 2; do
  RELAY_RUNS+="$(measured_run "$RELAY_PORT" "$RELAY_PID")"$'\n'
  # shellcheck disable=SC2086
  NGINX_RUNS+="$(measured_run "$NGINX_PORT" $NGINX_PIDS)"$'\n'
done
read -r RELAY_RATE RELAY_P50 RELAY_P99 RELAY_CPU <<<"$(best <<<"$RELAY_RUNS")"
read -r NGINX_RATE NGINX_P50 NGINX_P99 NGINX_CPU <<<"$(best <<<"$NGINX_RUNS")"
FETCHES_DURING=$(( $(sim_requests) - FETCHES_BEFORE ))
echo
echo "1. cached answer of $BODY_BYTES body bytes, $REQUESTS requests, ab -c $CONCURRENCY, HTTP/1.0, no keep-alive"
echo "   (better of two alternating runs each; server CPU = all its threads, user and system)"
printf '   relay: %10s requests/s   p50 %4s ms   p99 %4s ms   server CPU %6s us/request   (upstream fetches: %s)\n' \
  "$RELAY_RATE" "$RELAY_P50" "$RELAY_P99" "$RELAY_CPU" "$FETCHES_DURING"
printf '   nginx: %10s requests/s   p50 %4s ms   p99 %4s ms   server CPU %6s us/request\n' \
  "$NGINX_RATE" "$NGINX_P50" "$NGINX_P99" "$NGINX_CPU"
awk -v r="$RELAY_RATE" -v n="$NGINX_RATE" -v rp="$RELAY_P99" -v np="$NGINX_P99" \
  'BEGIN {printf "   ratio relay/nginx: %.3f (goal >= 1.0), p99 %s ms against %s ms (goal: no worse)\n", r / n, rp, np}'

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
