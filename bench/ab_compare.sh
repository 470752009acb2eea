# The relay against nginx serving the same bytes as static files, measured
# with ab (HTTP/1.0, no keep-alive) in one run (sourced after ports.sh).
# Needs ZONDREL_ROOT, RELAY_PORT, RELAY_PID and CONCURRENCY; start_nginx
# sets NGINX_PORT and NGINX_PID, and serves $ZONDREL_ROOT/nginx/www.

NGINX=$(command -v nginx || echo /usr/sbin/nginx)

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

# One ab run: "<requests/s> <p50 ms> <p99 ms>"; fails when any request
# failed or was not answered 2xx.
ab_run() {  # port requests path
  local out
  out=$(ab -n "$2" -c "$CONCURRENCY" "http://127.0.0.1:$1$3" 2>&1)
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

# The run with the higher rate.
best() {
  awk '{ if ($1 > best) { best = $1; line = $0 } } END {print line}'
}

# One measured run, with the server's CPU time per request appended (us).
measured_run() {  # port requests path pid...
  local port=$1 requests=$2 path=$3 before after result
  shift 3
  before=$(cpu_ticks "$@")
  result=$(ab_run "$port" "$requests" "$path")
  after=$(cpu_ticks "$@")
  awk -v r="$result" -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" \
    'BEGIN {printf "%s %.1f\n", r, t * 1e6 / hz / n}'
}

# Saves the relay's answer body for `path` as nginx's file of `nginx-path`
# (default: the same path).
copy_answer_to_nginx() {  # path [nginx-path]
  local file="$ZONDREL_ROOT/nginx/www${2:-$1}"
  mkdir -p "$(dirname "$file")"
  curl -s -0 -o "$file" "http://127.0.0.1:$RELAY_PORT$1"
}

# nginx in its default configuration, or with "tuned" as an operator would
# tune it: deferred accept and a queue per worker on the listening socket,
# tcp_nopush, no access log, room for a thousand viewers at once.
start_nginx() {  # [tuned]
  local main="" connections=1024 access_log="$ZONDREL_ROOT/nginx/access.log" tcp="" listen_options=""
  if [ "${1:-}" = tuned ]; then
    main="worker_rlimit_nofile 16384;"
    connections=8192
    access_log=off
    tcp="tcp_nopush on; open_file_cache max=16;"
    listen_options=" deferred reuseport"
  fi
  # nginx's workers may run as another user: they must reach the files.
  chmod o+x "$ZONDREL_ROOT"
  chmod -R o+rX "$ZONDREL_ROOT/nginx"
  NGINX_PORT=$(free_port)
  cat >"$ZONDREL_ROOT/nginx/nginx.conf" <<CONF
worker_processes auto;
$main
daemon off;
pid $ZONDREL_ROOT/nginx/nginx.pid;
error_log $ZONDREL_ROOT/nginx/error.log;
events { worker_connections $connections; }
http {
  access_log $access_log;
  client_body_temp_path $ZONDREL_ROOT/nginx/body;
  proxy_temp_path $ZONDREL_ROOT/nginx/proxy;
  fastcgi_temp_path $ZONDREL_ROOT/nginx/fastcgi;
  uwsgi_temp_path $ZONDREL_ROOT/nginx/uwsgi;
  scgi_temp_path $ZONDREL_ROOT/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  $tcp
  server {
    listen 127.0.0.1:$NGINX_PORT$listen_options;
    root $ZONDREL_ROOT/nginx/www;
  }
}
CONF
  "$NGINX" -c "$ZONDREL_ROOT/nginx/nginx.conf" -p "$ZONDREL_ROOT/nginx" >"$ZONDREL_ROOT/nginx/stdout.txt" 2>&1 &
  NGINX_PID=$!
  wait_for_port "$NGINX_PORT"
}

# Measures `path` on the relay and `nginx-path` (default: the same) on
# nginx: a first round warms both up,
# then each is measured twice, alternately, and its better run counts.
# Prints the two result lines and the ratio; RELAY_RATE, NGINX_RATE,
# RELAY_P99 and NGINX_P99 keep the figures.
compare_with_nginx() {  # label requests path [nginx-path]
  local label=$1 requests=$2 path=$3 nginx_path=${4:-$3} relay_runs="" nginx_runs="" nginx_pids
  ab_run "$RELAY_PORT" 2000 "$path" >/dev/null
  ab_run "$NGINX_PORT" 2000 "$nginx_path" >/dev/null
  nginx_pids="$NGINX_PID $(pgrep -P "$NGINX_PID" | tr '\n' ' ')"
  for _ in 1 2; do
    relay_runs+="$(measured_run "$RELAY_PORT" "$requests" "$path" "$RELAY_PID")"$'\n'
    # shellcheck disable=SC2086
    nginx_runs+="$(measured_run "$NGINX_PORT" "$requests" "$nginx_path" $nginx_pids)"$'\n'
  done
  read -r RELAY_RATE RELAY_P50 RELAY_P99 RELAY_CPU <<<"$(best <<<"$relay_runs")"
  read -r NGINX_RATE NGINX_P50 NGINX_P99 NGINX_CPU <<<"$(best <<<"$nginx_runs")"
  echo "$label, $requests requests, ab -c $CONCURRENCY, HTTP/1.0, no keep-alive"
  echo "   (better of two alternating runs each; server CPU = all its threads, user and system)"
  printf '   relay: %10s requests/s   p50 %4s ms   p99 %4s ms   server CPU %6s us/request\n' \
    "$RELAY_RATE" "$RELAY_P50" "$RELAY_P99" "$RELAY_CPU"
  printf '   nginx: %10s requests/s   p50 %4s ms   p99 %4s ms   server CPU %6s us/request\n' \
    "$NGINX_RATE" "$NGINX_P50" "$NGINX_P99" "$NGINX_CPU"
  awk -v r="$RELAY_RATE" -v n="$NGINX_RATE" -v rp="$RELAY_P99" -v np="$NGINX_P99" \
    'BEGIN {printf "   ratio relay/nginx: %.3f (goal >= 1.0), p99 %s ms against %s ms (goal: no worse)\n", r / n, rp, np}'
}
