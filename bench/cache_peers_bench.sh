#!/usr/bin/env bash
# The relay's cached answer against the servers an operator would put there
# instead, in one run on this machine, everything on loopback:
#   - nginx tuned as an operator would (deferred accept and reuseport on the
#     listening socket, sendfile, tcp_nopush, a worker per core, no access
#     log) serving the identical body bytes as a static file;
#   - Varnish (malloc storage, its own working folder) caching the same bytes
#     from that nginx;
# at each concurrency of CONCURRENCIES (default "50 200 1000"), ab HTTP/1.0
# without keep-alive, in rotations (the order of the servers turns each
# rotation). Prints per server the median requests/s, p50 and p99, failed
# requests, server CPU and thread switches per request; the ratios of the
# medians; the relay's memory (VmRSS at most, VmHWM) and threads. Then the
# relay passing requests through to the data-centre simulator against the
# simulator asked directly (ab -c 16), in the same rotations.
#   bench/cache_peers_bench.sh [requests per run (default 20000)] [rotations (default 3)]
# BUILD_DIR (default build) holds bin/zondrel, bin/dcsim and bin/zondrelctl.
# About two minutes with the defaults on two cores.
set -euo pipefail
[ -z "${BENCH_DEBUG:-}" ] || set -x

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${1:-20000}
ROTATIONS=${2:-3}
CONCURRENCIES=${CONCURRENCIES:-50 200 1000}
PASS_CONCURRENCY=16
PASS_PATH=/KIBO-1/5-1
CACHED_PATH=/KIBO-1/NumItm-4/1000-0

# shellcheck source=ports.sh
. "$(dirname "$0")/ports.sh"
# shellcheck source=relay_setup.sh
. "$(dirname "$0")/relay_setup.sh"
# shellcheck source=ab_compare.sh
. "$(dirname "$0")/ab_compare.sh"
require_programs ab nginx varnishd curl python3

# ab keeps one descriptor per concurrent connection.
for c in $CONCURRENCIES; do
  if [ "$(ulimit -n)" -lt $((c + 64)) ]; then
    ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
    [ "$(ulimit -n)" -ge $((c + 64)) ] || { echo "ulimit -n $(ulimit -n) is too low for ab -c $c" >&2; exit 2; }
  fi
  [ "$REQUESTS" -ge "$c" ] || { echo "ab needs at least $c requests for -c $c" >&2; exit 2; }
done

use_bench_machine peers-bench

# --- the servers -------------------------------------------------------------------
start_simulator --items 4 --item-size 1024
configure_relay
start_relay

# Varnish in the foreground (its manager is VARNISH_PID, the worker its
# child), caching what nginx serves for two minutes (its default).
start_varnish() {
  local dir="$ZONDREL_ROOT/varnish"
  mkdir -p "$dir/work"
  VARNISH_PORT=$(free_port)
  cat >"$dir/default.vcl" <<VCL
vcl 4.1;
backend nginx { .host = "127.0.0.1"; .port = "$NGINX_PORT"; }
VCL
  # -j none: no jail, the working folder stays the script's own.
  varnishd -F -j none -a "127.0.0.1:$VARNISH_PORT" -T 127.0.0.1:0 -n "$dir/work" -f "$dir/default.vcl" \
    -s malloc,64m -P "$dir/varnishd.pid" >"$dir/stdout.txt" 2>&1 &
  VARNISH_PID=$!
  wait_for_port "$VARNISH_PORT"
}

copy_answer_to_nginx "$CACHED_PATH"
BODY_BYTES=$(stat -c %s "$ZONDREL_ROOT/nginx/www$CACHED_PATH")
start_nginx tuned
start_varnish

# nginx and Varnish answer the file's bytes, the relay as many (its
# next-update line counts down), and Varnish answers from its cache.
for port in "$NGINX_PORT" "$VARNISH_PORT"; do
  cmp -s "$ZONDREL_ROOT/nginx/www$CACHED_PATH" <(curl -s -0 "http://127.0.0.1:$port$CACHED_PATH") ||
    { echo "port $port does not answer the same body bytes" >&2; exit 1; }
done
[ "$(curl -s -0 "http://127.0.0.1:$RELAY_PORT$CACHED_PATH" | wc -c)" = "$BODY_BYTES" ] ||
  { echo "the relay's answer changed its length" >&2; exit 1; }
AGE_HEADER=$(curl -s -0 -D - -o /dev/null "http://127.0.0.1:$VARNISH_PORT$CACHED_PATH" | tr -d '\r' |
             awk -F': ' 'tolower($1) == "x-varnish" {print $2}')
[ "$(wc -w <<<"$AGE_HEADER")" = 2 ] || { echo "Varnish does not answer from its cache (X-Varnish: $AGE_HEADER)" >&2; exit 1; }

echo "machine: $(nproc) cores, $(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
     "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "relay: $BUILD_DIR ($(awk -F= '/^CMAKE_BUILD_TYPE:/ {print $2}' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || echo '?'));" \
     "$($NGINX -v 2>&1 | sed 's/^nginx version: //'); $(varnishd -V 2>&1 | grep -o 'varnish-[0-9.]*' | head -1)"
echo "cached answer: $BODY_BYTES body bytes, $REQUESTS requests per run, $ROTATIONS rotations, ab HTTP/1.0 without keep-alive"

# --- measuring ------------------------------------------------------------------------
# The processes of a server: the named one and its children.
server_pids() {  # pid
  echo "$1 $(pgrep -P "$1" | tr '\n' ' ')"
}

# Thread switches (voluntary and not) of the given processes' live threads.
thread_switches() {
  local pid total=0
  for pid in "$@"; do
    total=$((total + $(cat /proc/"$pid"/task/*/status 2>/dev/null |
      awk '/^(non)?voluntary_ctxt_switches:/ {s += $2} END {print s + 0}')))
  done
  echo "$total"
}

# Connections the system dropped because a listen queue was full (all
# sockets of the machine; the runs take turns, so the delta is the run's).
listen_overflows() {
  awk '$1 == "TcpExt:" && !names {for (i = 2; i <= NF; ++i) column[$i] = i; names = 1; next}
       $1 == "TcpExt:" {print $column["ListenOverflows"]}' /proc/net/netstat
}

status_kb() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$RELAY_PID/status"; }

# Samples the relay's resident size and threads until killed; the largest
# of each stay in $1.
sample_relay() {  # file
  local rss threads max_rss=0 max_threads=0
  trap 'echo "$max_rss $max_threads" >"$1"; exit 0' TERM
  while :; do
    rss=$(status_kb VmRSS)
    threads=$(status_kb Threads)
    [ "$rss" -le "$max_rss" ] || max_rss=$rss
    [ "$threads" -le "$max_threads" ] || max_threads=$threads
    echo "$max_rss $max_threads" >"$1"
    sleep 0.05
  done
}

# One run: "<requests/s> <p50 ms> <p99 ms> <failed> <CPU us/request>
# <switches/request> <listen queue overflows>".
# Failed counts what ab counts as failed and what was not answered 2xx.
one_run() {  # port path concurrency requests pid...
  local port=$1 path=$2 concurrency=$3 requests=$4 out ticks switches overflows
  shift 4
  overflows=$(listen_overflows)
  ticks=$(cpu_ticks "$@")
  switches=$(thread_switches "$@")
  out=$(ab -r -n "$requests" -c "$concurrency" "http://127.0.0.1:$port$path" 2>&1 || true)
  ticks=$(( $(cpu_ticks "$@") - ticks ))
  switches=$(( $(thread_switches "$@") - switches ))
  overflows=$(( $(listen_overflows) - overflows ))
  awk -v t="$ticks" -v s="$switches" -v o="$overflows" -v hz="$(getconf CLK_TCK)" -v n="$requests" '
    /^Requests per second:/ {rate = $4}
    /^Failed requests:/ {failed = $3}
    /^Non-2xx responses:/ {non2xx = $3}
    $1 == "50%" {p50 = $2}
    $1 == "99%" {p99 = $2}
    END {
      if (rate == "") {rate = 0; failed = n}
      printf "%s %s %s %d %.1f %.2f %d\n", rate, (p50 == "" ? "-" : p50), (p99 == "" ? "-" : p99),
             failed + non2xx, t * 1e6 / hz / n, s / n, o
    }' <<<"$out"
}

# Medians of each column of run lines, failed and overflows summed: the
# same columns, then the rates of the runs.
summarise() {
  python3 -c '
import statistics, sys
rows = [line.split() for line in sys.stdin if line.strip()]
def med(i):
    values = [float(r[i]) for r in rows if r[i] != "-"]
    return statistics.median(values) if values else float("nan")
print("%.0f %.0f %.0f %d %.1f %.2f %d %s" % (med(0), med(1), med(2), sum(int(r[3]) for r in rows), med(4), med(5),
      sum(int(r[6]) for r in rows),
      "/".join("%.1fk" % (float(r[0]) / 1000) for r in rows)))'
}

SERVERS=(relay nginx varnish)
declare -A PORT=([relay]=$RELAY_PORT [nginx]=$NGINX_PORT [varnish]=$VARNISH_PORT)
declare -A PIDS=([relay]="$RELAY_PID" [nginx]="$(server_pids "$NGINX_PID")" [varnish]="$(server_pids "$VARNISH_PID")")
declare -A RATE_AT
print_row() {  # name summary
  local rate p50 p99 failed cpu switches overflows runs
  read -r rate p50 p99 failed cpu switches overflows runs <<<"$2"
  printf '   %-9s %6s/s (%s)  p50 %3s ms  p99 %4s ms  failed %d  CPU %5s us/req  switches %5s/req  queue overflows %d\n' \
    "$1" "$rate" "$runs" "$p50" "$p99" "$failed" "$cpu" "$switches" "$overflows"
}

for concurrency in $CONCURRENCIES; do
  echo
  for name in "${SERVERS[@]}"; do
    ab -r -n 2000 -c "$concurrency" "http://127.0.0.1:${PORT[$name]}$CACHED_PATH" >/dev/null 2>&1 || true
  done
  declare -A RUNS=([relay]="" [nginx]="" [varnish]="")
  SAMPLES="$ZONDREL_ROOT/relay-samples.txt"
  for rotation in $(seq 0 $((ROTATIONS - 1))); do
    for turn in 0 1 2; do
      name=${SERVERS[$(( (rotation + turn) % 3 ))]}
      SAMPLER_PID=""
      if [ "$name" = relay ]; then
        sample_relay "$SAMPLES.$rotation" &
        SAMPLER_PID=$!
      fi
      # shellcheck disable=SC2086
      RUNS[$name]+="$(one_run "${PORT[$name]}" "$CACHED_PATH" "$concurrency" "$REQUESTS" ${PIDS[$name]})"$'\n'
      if [ -n "$SAMPLER_PID" ]; then
        kill "$SAMPLER_PID"
        wait "$SAMPLER_PID" 2>/dev/null || true
      fi
    done
  done
  echo "ab -c $concurrency: medians of $ROTATIONS runs (runs in brackets); CPU and switches: all the server's threads"
  declare -A SUMMARY=()
  for name in "${SERVERS[@]}"; do
    SUMMARY[$name]=$(summarise <<<"${RUNS[$name]}")
    print_row "$name" "${SUMMARY[$name]}"
  done
  read -r R_RATE _ R_P99 _ <<<"${SUMMARY[relay]}"
  read -r N_RATE _ N_P99 _ <<<"${SUMMARY[nginx]}"
  read -r V_RATE _ V_P99 _ <<<"${SUMMARY[varnish]}"
  RATE_AT[$concurrency]=$R_RATE
  awk -v r="$R_RATE" -v n="$N_RATE" -v v="$V_RATE" -v rp="$R_P99" -v np="$N_P99" -v vp="$V_P99" 'BEGIN {
    printf "   relay/nginx   %.2f (goal >= 1.0), p99 %d against %d ms (goal: no worse)\n", r / n, rp, np
    printf "   relay/varnish %.2f (goal >= 2.0), p99 %d against %d ms: %.2f of it (goal <= 0.5)\n", r / v, rp, vp,
           (vp > 0 ? rp / vp : 0)
  }'
  MAX_RSS=0
  MAX_THREADS=0
  for file in "$SAMPLES".*; do
    read -r rss threads <"$file"
    [ "$rss" -le "$MAX_RSS" ] || MAX_RSS=$rss
    [ "$threads" -le "$MAX_THREADS" ] || MAX_THREADS=$threads
  done
  rm -f "$SAMPLES".*
  echo "   relay memory: VmRSS at most $MAX_RSS kB, VmHWM $(status_kb VmHWM) kB; threads at most $MAX_THREADS"
done

FIRST=${CONCURRENCIES%% *}
echo
for concurrency in $CONCURRENCIES; do
  [ "$concurrency" = "$FIRST" ] && continue
  awk -v c="$concurrency" -v f="$FIRST" -v r="${RATE_AT[$concurrency]}" -v b="${RATE_AT[$FIRST]}" \
    'BEGIN {printf "relay at -c %s: %.2f of its rate at -c %s (goal >= 0.90)\n", c, r / b, f}'
done

# --- pass-through -------------------------------------------------------------------
echo
ab -r -n 1000 -c "$PASS_CONCURRENCY" "http://127.0.0.1:$SIM_PORT$PASS_PATH" >/dev/null 2>&1 || true
ab -r -n 1000 -c "$PASS_CONCURRENCY" "http://127.0.0.1:$RELAY_PORT$PASS_PATH" >/dev/null 2>&1 || true
DIRECT_RUNS=""
RELAYED_RUNS=""
for rotation in $(seq 0 $((ROTATIONS - 1))); do
  if [ $((rotation % 2)) = 0 ]; then
    DIRECT_RUNS+="$(one_run "$SIM_PORT" "$PASS_PATH" "$PASS_CONCURRENCY" "$REQUESTS" "$SIM_PID")"$'\n'
    RELAYED_RUNS+="$(one_run "$RELAY_PORT" "$PASS_PATH" "$PASS_CONCURRENCY" "$REQUESTS" "$RELAY_PID")"$'\n'
  else
    RELAYED_RUNS+="$(one_run "$RELAY_PORT" "$PASS_PATH" "$PASS_CONCURRENCY" "$REQUESTS" "$RELAY_PID")"$'\n'
    DIRECT_RUNS+="$(one_run "$SIM_PORT" "$PASS_PATH" "$PASS_CONCURRENCY" "$REQUESTS" "$SIM_PID")"$'\n'
  fi
done
echo "pass-through $PASS_PATH, ab -c $PASS_CONCURRENCY: medians of $ROTATIONS runs"
DIRECT=$(summarise <<<"$DIRECT_RUNS")
RELAYED=$(summarise <<<"$RELAYED_RUNS")
print_row simulator "$DIRECT"
print_row relay "$RELAYED"
awk -v r="${RELAYED%% *}" -v d="${DIRECT%% *}" 'BEGIN {printf "   relay/simulator %.2f (goal >= 0.6)\n", r / d}'
