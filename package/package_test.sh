#!/usr/bin/env bash
# The package test: builds the Debian package, installs it on this system with
# dpkg, checks its files, its user, its machine root and the service entry,
# runs the relay as the user zondrel (without systemd) until it answers on
# 127.0.0.1:8080, upgrades it to a higher version with a changed setting,
# removes it and purges it. Whatever happens, the system is left as it was:
# the package purged, no relay running.
#   package/package_test.sh BUILD_DIR
# Root only: exits 77 (skipped) otherwise. A lock file keeps two runs apart.
set -euo pipefail

BUILD=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
ROOT=/var/lib/zondrel
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\Zondrel'
SETTINGS_KEY='HKLM\SOFTWARE\Orrinvale\Zondrel'

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the package test installs the package on this system and needs root"
  exit 77
fi

mkdir -p /run/lock
LOCK=/run/lock/zondrel-package-test.lock
exec 9>"$LOCK"
if ! flock -w 900 9; then
  echo "FAIL: another package test holds $LOCK"
  exit 1
fi

# What this test put on the system, for a run that was killed before it could
# clean up (a ctest timeout): the next run takes it away first.
STAMP=/run/lock/zondrel-package-test.installed
if [ -f "$STAMP" ]; then
  echo "note: a killed package test left the package installed; purging it"
  while read -r pid; do
    case "$pid" in ''|*[!0-9]*) continue ;; esac
    [ "$(ps -o user= -p "$pid" 2>/dev/null)" = zondrel ] && kill -KILL "$pid" 2>/dev/null || true
  done < <(grep '^relay ' "$STAMP" | cut -d' ' -f2)
  dpkg -P zondrel >/dev/null 2>&1 || true
  rm -f "$STAMP"
fi
# Work directories of killed runs (none of a running one: the lock is ours).
rm -rf /tmp/zondrel-package-test.*

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

# Nothing of a zondrel may be on the system before: the test would take it
# over and purge it.
if dpkg-query -W -f='${Status}' zondrel 2>/dev/null | grep -qv "not-installed"; then
  echo "FAIL: the package zondrel is on this system already; the package test leaves it alone"
  exit 1
fi
if getent passwd zondrel >/dev/null || [ -e "$ROOT" ]; then
  echo "FAIL: a user zondrel or $ROOT exists already; the package test leaves them alone"
  exit 1
fi

WORK=$(mktemp -d /tmp/zondrel-package-test.XXXXXX)
chmod 755 "$WORK"
RELAY_PID=""
cleanup() {
  if [ -n "$RELAY_PID" ] && kill -0 "$RELAY_PID" 2>/dev/null; then
    kill -TERM "$RELAY_PID" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$RELAY_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$RELAY_PID" 2>/dev/null || true
  fi
  if dpkg-query -W -f='${Status}' zondrel 2>/dev/null | grep -qv "not-installed"; then
    echo "cleanup: purging the package"
    dpkg -P zondrel >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
  if ! dpkg-query -W -f='${Status}' zondrel 2>/dev/null | grep -qv "not-installed"; then rm -f "$STAMP"; fi
}
trap cleanup EXIT

# --- the package, and the same package with a higher version -----------------
cmake --build "$BUILD" --target zondrel_package_files >/dev/null
(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >/dev/null)
DEB=$(ls "$WORK"/out/zondrel_*_amd64.deb)
VERSION=$(dpkg-deb -f "$DEB" Version)
HIGHER="$VERSION.1"
dpkg-deb -R "$DEB" "$WORK/higher"
sed -i "s/^Version: .*/Version: $HIGHER/" "$WORK/higher/DEBIAN/control"
dpkg-deb -b "$WORK/higher" "$WORK/zondrel_${HIGHER}_amd64.deb" >/dev/null
HIGHER_DEB="$WORK/zondrel_${HIGHER}_amd64.deb"
check "version $HIGHER sorts after $VERSION" dpkg --compare-versions "$HIGHER" gt "$VERSION"

if command -v lintian >/dev/null; then
  lintian --fail-on error "$DEB" >"$WORK/lintian.txt" 2>&1 &&
    echo "ok: lintian reports no error" || { cat "$WORK/lintian.txt"; fail "lintian reports errors"; }
elif [ "${ZONDREL_REQUIRE_PEERS:-0}" = 1 ]; then
  fail "lintian is not installed (apt-get install lintian)"
else
  echo "note: lintian is not installed (apt-get install lintian); the package is not checked by it"
fi

# zondrelctl of the build tree, runnable by the user zondrel: it stays when
# the package is removed.
mkdir -p "$WORK/tool/bin" "$WORK/tool/lib"
cp "$BUILD/bin/zondrelctl" "$WORK/tool/bin/"
cp "$BUILD"/lib/*.so "$WORK/tool/lib/"
chmod -R a+rX "$WORK/tool"

# Runs a command as zondrel on the installed machine root.
as_zondrel() {
  setpriv --reuid=zondrel --regid=zondrel --init-groups --reset-env -- env ZONDREL_ROOT="$ROOT" "$@"
}
reg() { as_zondrel "$WORK/tool/bin/zondrelctl" reg "$@"; }
owned_by_zondrel() { [ -z "$(find "$ROOT" ! -user zondrel -print -quit)" ]; }

# --- install -------------------------------------------------------------------
echo "package installed by the package test" >"$STAMP"
dpkg -i "$DEB" >"$WORK/install.txt" 2>&1 || { cat "$WORK/install.txt"; fail "dpkg -i"; exit 1; }
echo "ok: dpkg -i $(basename "$DEB")"
for file in /usr/sbin/zondrel /usr/bin/zondrelctl /usr/lib/zondrel/bin/viewexport /usr/lib/zondrel/bin/chanadmin \
            /usr/lib/zondrel/bin/notesdb; do
  check "$file is a program" test -x "$file"
done
for file in /usr/lib/zondrel/lib/libregwrap.so /usr/lib/zondrel/lib/libpoolmgr.so /usr/lib/zondrel/bin/evtmsgs.msg \
            /lib/systemd/system/zondrel.service /usr/share/man/man1/zondrelctl.1.gz \
            /usr/share/doc/zondrel/copyright /usr/share/doc/zondrel/examples/corp/corp.dat \
            /usr/share/doc/zondrel/examples/domino/names.json; do
  check "$file is installed" test -f "$file"
done
if [ -f "$BUILD/lib/libperfctr.so" ]; then
  check "the performance library is installed" test -f /usr/lib/zondrel/lib/libperfctr.so
fi
for program in /usr/lib/zondrel/bin/*; do
  [ "$program" = /usr/lib/zondrel/bin/evtmsgs.msg ] && continue
  check "$program finds its libraries" bash -c "! ldd $program | grep -q 'not found'"
done
check "zondrel is a system user without a login" \
  bash -c '[ "$(getent passwd zondrel | cut -d: -f3)" -lt 1000 ] && getent passwd zondrel | grep -q "nologin\|/bin/false"'
check "$ROOT belongs to zondrel" test "$(stat -c %U:%G "$ROOT")" = zondrel:zondrel
check "everything in $ROOT belongs to zondrel" owned_by_zondrel
check "the service entry names the program" \
  bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT; reg query '$SERVICE_KEY' /v ImagePath | grep -q /usr/lib/zondrel/bin/zondrel"
check "the Performance key names the performance library" \
  bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT; reg query '$SERVICE_KEY\\Performance' /v Library | grep -q libperfctr.so"
check "the event source names the message file" \
  bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT; reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog' /s | grep -q /usr/lib/zondrel/bin/evtmsgs.msg"
check "content types come from /etc/mime.types" \
  bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT; reg query 'HKCR\\.html' /v 'Content Type' | grep -q text/html"
check "zondrel -v says the service is installed" \
  bash -c "$(declare -f as_zondrel); ROOT=$ROOT; as_zondrel /usr/sbin/zondrel -v | grep -q 'currently installed'"
# The web console, when the package carries one: copied into home/Java.
CONSOLE_FILE=""
if [ -d /usr/share/zondrel/console ]; then
  check "the console is copied into the machine's home/Java" diff -r /usr/share/zondrel/console "$ROOT/home/Java"
  CONSOLE_FILE=$(cd /usr/share/zondrel/console && find . -type f -printf '%P\n' | head -n 1)
fi
if command -v deb-systemd-helper >/dev/null; then
  check "the unit is enabled" test -L /etc/systemd/system/multi-user.target.wants/zondrel.service
fi

# --- the relay runs as zondrel ---------------------------------------------------
# An answer on 8080 before the relay starts is someone else's server.
if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
  fail "127.0.0.1:8080 is in use before the relay starts"
else
  setpriv --reuid=zondrel --regid=zondrel --init-groups --reset-env -- env ZONDREL_ROOT="$ROOT" \
    /usr/sbin/zondrel -d </dev/null >"$WORK/relay.txt" 2>&1 &
  RELAY_PID=$!
  echo "relay $RELAY_PID" >>"$STAMP"
  answer=""
  for _ in $(seq 1 150); do
    # A viewer's request; without an upstream the pass-through answers 500:
    # any HTTP answer shows the relay runs.
    answer=$(timeout 10 bash -c 'exec 3<>/dev/tcp/127.0.0.1/8080 &&
      printf "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n" >&3 && head -c 12 <&3' 2>/dev/null || true)
    [ -z "$answer" ] || break
    kill -0 "$RELAY_PID" 2>/dev/null || break
    sleep 0.2
  done
  check "the relay answers on 127.0.0.1:8080 (${answer:-nothing})" test "${answer:0:7}" = "HTTP/1."
  check "the relay runs as zondrel" test "$(ps -o user= -p "$RELAY_PID")" = zondrel
  if [ -n "$CONSOLE_FILE" ]; then
    console=$(timeout 10 bash -c 'exec 3<>/dev/tcp/127.0.0.1/8070 &&
      printf "GET /Admin/%s HTTP/1.0\r\n\r\n" "$1" >&3 && head -c 15 <&3' _ "$CONSOLE_FILE" 2>/dev/null || true)
    check "the administration web server serves the console's /Admin/$CONSOLE_FILE (${console:-nothing})" \
      test "${console:9:3}" = 200
  fi
  kill -TERM "$RELAY_PID"
  stopped=0
  for _ in $(seq 1 900); do
    kill -0 "$RELAY_PID" 2>/dev/null || { stopped=1; break; }
    sleep 0.1
  done
  check "the relay stops on SIGTERM" test "$stopped" = 1
  wait "$RELAY_PID" 2>/dev/null || true
  [ "$stopped" = 1 ] || cat "$WORK/relay.txt"
  RELAY_PID=""
  check "everything in $ROOT still belongs to zondrel" owned_by_zondrel
fi

# --- upgrade: settings and logs stay -------------------------------------------
reg add "$SETTINGS_KEY" /v RecvTimeout /t REG_DWORD /d 33 /f >/dev/null
as_zondrel mkdir -p "$ROOT/home/Log"
as_zondrel bash -c "echo kept > $ROOT/home/Log/upgrade-marker.log"
dpkg -i "$HIGHER_DEB" >"$WORK/upgrade.txt" 2>&1 || { cat "$WORK/upgrade.txt"; fail "dpkg -i (upgrade)"; }
check "version $HIGHER is installed" test "$(dpkg-query -W -f='${Version}' zondrel)" = "$HIGHER"
check "the changed setting is kept" bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT;
  reg query '$SETTINGS_KEY' /v RecvTimeout | grep -q 0x21"
check "the logs are kept" grep -q kept "$ROOT/home/Log/upgrade-marker.log"
check "the service entry is still there" bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT;
  reg query '$SERVICE_KEY' /v ImagePath >/dev/null"
check "everything in $ROOT belongs to zondrel after the upgrade" owned_by_zondrel

# --- remove: the service entry goes, the machine stays ---------------------------
# A relay started as a service without systemd ("zondrel -s"): the removal
# stops it.
as_zondrel /usr/sbin/zondrel -s >/dev/null
for _ in $(seq 1 50); do
  [ -s "$ROOT/services/Zondrel/status" ] && break
  sleep 0.1
done
read -r RELAY_PID _ <"$ROOT/services/Zondrel/status" || true
echo "relay ${RELAY_PID:-0}" >>"$STAMP"
check "zondrel -s started the relay as zondrel" test "$(ps -o user= -p "${RELAY_PID:-0}")" = zondrel
dpkg -r zondrel >"$WORK/remove.txt" 2>&1 || { cat "$WORK/remove.txt"; fail "dpkg -r"; }
check "the removal stopped the relay" bash -c "! kill -0 ${RELAY_PID:-0} 2>/dev/null"
check "the programs are gone" bash -c '! test -e /usr/sbin/zondrel && ! test -e /usr/lib/zondrel'
check "the service entry is gone" bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT;
  ! reg query '$SERVICE_KEY' /v ImagePath >/dev/null 2>&1"
check "the settings stay until the purge" bash -c "$(declare -f as_zondrel reg); WORK=$WORK ROOT=$ROOT;
  reg query '$SETTINGS_KEY' /v RecvTimeout >/dev/null"

# --- purge: nothing is left ------------------------------------------------------
dpkg -P zondrel >"$WORK/purge.txt" 2>&1 || { cat "$WORK/purge.txt"; fail "dpkg -P"; }
check "dpkg knows no zondrel" bash -c '! dpkg-query -W -f="\${Status}" zondrel 2>/dev/null | grep -qv not-installed'
check "$ROOT is gone" test ! -e "$ROOT"
check "the user zondrel is gone" bash -c '! getent passwd zondrel >/dev/null'
check "the group zondrel is gone" bash -c '! getent group zondrel >/dev/null'
check "the unit and its links are gone" bash -c \
  '! test -e /lib/systemd/system/zondrel.service && ! test -e /etc/systemd/system/multi-user.target.wants/zondrel.service'
check "no file of the package is left" bash -c \
  '! test -e /usr/lib/zondrel && ! test -e /usr/share/doc/zondrel && ! test -e /usr/bin/zondrelctl'
check "no process of zondrel runs" bash -c '! ps -e -o user= | grep -qx zondrel'

if [ "$failures" -gt 0 ]; then
  echo "package test: $failures failure(s)"
  exit 1
fi
echo "package test: passed"
