# The relay in front of the data-centre simulator, for the benchmark scripts
# (sourced after ports.sh). Needs BUILD_DIR and ZONDREL_ROOT.

# Stops the script unless the relay's programs are built in BUILD_DIR and
# the named tools are installed.
require_programs() {
  local program
  for program in zondrel dcsim zondrelctl; do
    [ -x "$BUILD_DIR/bin/$program" ] || { echo "missing $BUILD_DIR/bin/$program: build first" >&2; exit 2; }
  done
  for program in "$@"; do
    command -v "$program" >/dev/null || [ -x "/usr/sbin/$program" ] ||
      { echo "$program is missing (Debian packages apache2-utils for ab, nginx, curl, python3)" >&2; exit 2; }
  done
}

reg_add() {  # key-below-Zondrel value type data
  "$BUILD_DIR/bin/zondrelctl" reg add "HKLM\\SOFTWARE\\Orrinvale\\Zondrel$1" /v "$2" /t "$3" /d "$4" /f >/dev/null
}

# Starts dcsim on a free port with the given switches: SIM_PORT, SIM_PID.
start_simulator() {
  SIM_PORT=$(free_port)
  "$BUILD_DIR/bin/dcsim" --listen "127.0.0.1:$SIM_PORT" --max-connections 256 "$@" \
    >"$ZONDREL_ROOT/dcsim.txt" 2>&1 &
  SIM_PID=$!
  wait_for_port "$SIM_PORT"
}

# Settles the relay's settings: its home below the machine root, one
# listener on a free port (RELAY_PORT), no administration ports, the
# simulator as upstream. More settings may follow before start_relay.
configure_relay() {
  RELAY_PORT=$(free_port)
  mkdir -p "$ZONDREL_ROOT/home"
  reg_add "" HomeDirectory REG_SZ "$ZONDREL_ROOT/home/"
  reg_add "\\Comm" LISTEN1 REG_SZ "127.0.0.1,$RELAY_PORT"
  reg_add "\\Admin" WebPort REG_DWORD 0
  reg_add "\\Admin" JavaPort REG_DWORD 0
  reg_add "\\IPList" "IP:PORT-1" REG_SZ "127.0.0.1,$SIM_PORT"
}

# Starts the relay in debug mode: RELAY_PID.
start_relay() {
  "$BUILD_DIR/bin/zondrel" -d </dev/null >"$ZONDREL_ROOT/relay.txt" 2>&1 &
  RELAY_PID=$!
  wait_for_port "$RELAY_PORT"
}

# A machine root of the benchmark's own (ZONDREL_ROOT, exported) that goes
# away with the processes the script started (RELAY_PID, NGINX_PID,
# VARNISH_PID, SIM_PID and the pids in OTHER_PIDS, each ended by its pid)
# when the script exits.
use_bench_machine() {  # name
  export ZONDREL_ROOT
  ZONDREL_ROOT=$(mktemp -d "/tmp/zondrel-$1-XXXXXX")
  SIM_PID=""
  RELAY_PID=""
  NGINX_PID=""
  VARNISH_PID=""
  OTHER_PIDS=""
  trap end_bench_machine EXIT
}

end_bench_machine() {
  local pids="${OTHER_PIDS:-} $RELAY_PID $NGINX_PID ${VARNISH_PID:-} $SIM_PID"
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  for pid in $pids; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$ZONDREL_ROOT"
}
