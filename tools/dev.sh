#!/usr/bin/env bash
# The project's two everyday commands.
#   tools/dev.sh run    install what is missing, build, and start the relay in
#                       console debug mode on a local machine root (./.machine)
#   tools/dev.sh test   install what is missing, build, and run every test
# Options through the environment: BUILD_DIR (default build), CMAKE_ARGS.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT_DIR=$(pwd)
BUILD_DIR=${BUILD_DIR:-build}

# Debian packages the build and the tests need.
PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

build() {
  # shellcheck disable=SC2086
  cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

case "${1:-}" in
  run)
    install_missing
    build
    export ZONDREL_ROOT=${ZONDREL_ROOT:-$ROOT_DIR/.machine}
    mkdir -p "$ZONDREL_ROOT/home"
    # The relay keeps its files under the machine root unless told otherwise.
    "$BUILD_DIR/bin/zondrelctl" reg query 'HKLM\SOFTWARE\Orrinvale\Zondrel' /v HomeDirectory >/dev/null 2>&1 ||
      "$BUILD_DIR/bin/zondrelctl" reg add 'HKLM\SOFTWARE\Orrinvale\Zondrel' /v HomeDirectory /t REG_SZ \
        /d "$ZONDREL_ROOT/home/" /f >/dev/null
    echo "Machine root: $ZONDREL_ROOT"
    exec "$BUILD_DIR/bin/zondrel" -d
    ;;
  test)
    install_missing
    build
    cd "$BUILD_DIR"
    ctest --output-on-failure -j "$(nproc)" --timeout 600
    ;;
  *)
    echo "usage: tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
