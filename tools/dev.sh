#!/usr/bin/env bash
# The project's two everyday commands.
#   tools/dev.sh run    install what is missing, build, and start the relay in
#                       console debug mode on a local machine root (./.machine)
#   tools/dev.sh test   install what is missing, build, and run every test:
#                       the suite, the fuzz targets' short runs, the suite
#                       under AddressSanitizer + UndefinedBehaviorSanitizer
#                       and the concurrency-heavy test programs under
#                       ThreadSanitizer; as root, then the package test
#                       (installs the package on this system and purges it)
#   tools/dev.sh package  build the Debian package <build>/zondrel_<version>_amd64.deb
# Options through the environment: BUILD_DIR (default build), CMAKE_ARGS,
# ZONDREL_SANITIZERS=0 to leave out the two sanitizer passes, and
# ZONDREL_REQUIRE_PEERS=1 to fail rather than skip the tests whose peer
# programs (lighttpd, tinyproxy, dante, nginx) are missing.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT_DIR=$(pwd)
BUILD_DIR=${BUILD_DIR:-build}

# Debian packages the build needs, and those the tests add.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev)
TEST_PACKAGES=(clang libclang-rt-14-dev          # fuzz targets
               lighttpd tinyproxy dante-server    # real peers of the tests
               apache2-utils nginx varnish        # load generator and peers of the benchmarks
               chromium chromium-driver python3-selenium  # browser tests
               python3-prometheus-client          # parser of the /metrics text
               lintian)                           # the package test's check of the package

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    # Installed servers must not start on their own: the tests start their
    # own instances on loopback ports.
    local guard=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      guard=/usr/sbin/policy-rc.d
      printf '#!/bin/sh\nexit 101\n' | $sudo tee "$guard" >/dev/null
      $sudo chmod +x "$guard"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    [ -z "$guard" ] || $sudo rm -f "$guard"
  fi
}

# A compiler cache makes the repeated builds of the test command cheap when
# one is installed; nothing needs it.
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Test programs run under ThreadSanitizer (a ctest label each).
TSAN_TEST_PROGRAMS=(platform_tests regwrap_tests poolmgr_tests txlog_tests cache_tests channels_tests admin_tests redirect_tests presence_tests conn_tests service_tests)

# sanitizer_pass NAME CMAKE-OPTION... [-- TEST-PROGRAM...]: builds the tree
# (or the named test programs and what they run) in $BUILD_DIR-NAME with
# the options and runs their tests.
sanitizer_pass() {
  local name=$1 dir="$BUILD_DIR-$1" options=() programs=()
  shift
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -eq 0 ] || { shift; programs=("$@"); }
  echo "== tests under the $name build"
  cmake -S "$ROOT_DIR" -B "$dir" -G Ninja -DZONDREL_BENCH=OFF "${LAUNCHER[@]}" "${options[@]}" >/dev/null
  if [ ${#programs[@]} -eq 0 ]; then
    cmake --build "$dir" -j "$(nproc)"
    (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600 -LE '^package$')
  else
    cmake --build "$dir" -j "$(nproc)" --target "${programs[@]}"
    local labels
    labels=$(IFS='|'; echo "^(${programs[*]})\$")
    (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600 -L "$labels")
  fi
}

build() {
  # shellcheck disable=SC2086
  cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# Builds the package's programs and libraries and packs them:
# $BUILD_DIR/zondrel_<version>_amd64.deb.
package() {
  # shellcheck disable=SC2086
  cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target zondrel_package_files
  (cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
  ls "$BUILD_DIR"/zondrel_*_amd64.deb
}

case "${1:-}" in
  run)
    install_missing "${BUILD_PACKAGES[@]}"
    build
    export ZONDREL_ROOT=${ZONDREL_ROOT:-$ROOT_DIR/.machine}
    mkdir -p "$ZONDREL_ROOT/home"
    # The relay keeps its files under the machine root unless told otherwise.
    "$BUILD_DIR/bin/zondrelctl" reg query 'HKLM\SOFTWARE\Orrinvale\Zondrel' /v HomeDirectory >/dev/null 2>&1 ||
      "$BUILD_DIR/bin/zondrelctl" reg add 'HKLM\SOFTWARE\Orrinvale\Zondrel' /v HomeDirectory /t REG_SZ \
        /d "$ZONDREL_ROOT/home/" /f >/dev/null
    # The service entry, and the counters' names that zondrelctl perf reads.
    "$BUILD_DIR/bin/zondrel" -i >/dev/null 2>&1 || true
    # A sample corporate channel for a first look (CorpDirectory defaults to
    # home/corp); the company's own files replace it.
    [ -e "$ZONDREL_ROOT/home/corp" ] || cp -r "$ROOT_DIR/samples/corp" "$ZONDREL_ROOT/home/corp"
    # The administration console, served at http://127.0.0.1:8070/: installed
    # with the service (and the content types of its files); copied again
    # here so that a machine installed earlier serves the tree's console.
    mkdir -p "$ZONDREL_ROOT/home/Java"
    cp -R "$ROOT_DIR"/console/. "$ZONDREL_ROOT/home/Java/"
    # The data-centre simulator stands in for the upstream data centre, so
    # that relayed requests get real answers; it ends with the relay.
    SIM_ADDRESS=127.0.0.1:18081
    "$BUILD_DIR/bin/dcsim" --listen "$SIM_ADDRESS" >"$ZONDREL_ROOT/dcsim.log" 2>&1 &
    SIM_PID=$!
    trap 'kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true' EXIT
    "$BUILD_DIR/bin/zondrelctl" reg query 'HKLM\SOFTWARE\Orrinvale\Zondrel\IPList' /v IP:PORT-1 >/dev/null 2>&1 ||
      "$BUILD_DIR/bin/zondrelctl" reg add 'HKLM\SOFTWARE\Orrinvale\Zondrel\IPList' /v IP:PORT-1 /t REG_SZ \
        /d "${SIM_ADDRESS/:/,}" /f >/dev/null
    echo "Machine root: $ZONDREL_ROOT"
    echo "Data-centre simulator: $SIM_ADDRESS (output in $ZONDREL_ROOT/dcsim.log)"
    "$BUILD_DIR/bin/zondrel" -d
    ;;
  test)
    install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build
    (cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" --timeout 600 -LE '^package$')
    # The clang build: the whole tree with the fuzzers' instrumentation and
    # clang's thread-safety analysis, then short runs of the fuzz targets
    # (libFuzzer) on their seed corpora. The unit tests ran above already:
    # only the fuzz runs here.
    cmake -S "$ROOT_DIR" -B "$BUILD_DIR-fuzz" -G Ninja "${LAUNCHER[@]}" -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DZONDREL_FUZZ=ON -DZONDREL_BENCH=OFF >/dev/null
    cmake --build "$BUILD_DIR-fuzz" -j "$(nproc)"
    (cd "$BUILD_DIR-fuzz" && ctest --output-on-failure -j "$(nproc)" -R '_fuzz_30s$')
    if [ "${ZONDREL_SANITIZERS:-1}" != 0 ]; then
      sanitizer_pass asan -DZONDREL_ASAN=ON
      # The programs whose tests run many threads against each other.
      sanitizer_pass tsan -DZONDREL_TSAN=ON -- "${TSAN_TEST_PROGRAMS[@]}"
    fi
    # The package test installs the package on this system (and purges it
    # again): root only.
    if [ "$(id -u)" -eq 0 ]; then
      echo "== the package test"
      (cd "$BUILD_DIR" && ctest --output-on-failure --timeout 900 -L '^package$')
    else
      echo "== the package test needs root: left out"
    fi
    ;;
  package)
    install_missing "${BUILD_PACKAGES[@]}"
    package
    ;;
  *)
    echo "usage: tools/dev.sh run|test|package" >&2
    exit 2
    ;;
esac
