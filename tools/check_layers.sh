#!/usr/bin/env bash
# Holds the tree to the layer table tools/layers.txt: every project include
# ("folder/file.h") of every source file must name its own folder or one the
# table allows it, test helpers only from tests and test helpers, and the
# table itself may only point down. Prints each violation; exits 1 on any.
#   tools/check_layers.sh [source root (default: this checkout)]
set -euo pipefail
ROOT=${1:-$(cd "$(dirname "$0")/.." && pwd)}
TABLE="$ROOT/tools/layers.txt"

declare -A allowed=()
declare -a order=()
failures=0
fail() { echo "layers: $*"; failures=$((failures + 1)); }

while IFS= read -r line; do
  line=${line%%#*}
  [[ $line =~ ^[[:space:]]*$ ]] && continue
  folder=${line%%:*}
  folder=${folder//[[:space:]]/}
  deps=${line#*:}
  for dep in $deps; do
    [[ -n ${allowed[$dep]+x} ]] || fail "tools/layers.txt: $folder names $dep, which is not on a line above it"
  done
  allowed[$folder]=" $folder $deps "
  order+=("$folder")
done <"$TABLE"

is_test_file() { [[ $1 =~ (_test|_testing)\.(cc|h)$ ]]; }

cd "$ROOT"
while IFS= read -r file; do
  folder=${file%%/*}
  if [[ -z ${allowed[$folder]+x} ]]; then
    fail "$file: folder $folder has no line in tools/layers.txt"
    continue
  fi
  while IFS=: read -r number include; do
    target=${include#*\"}
    target=${target%%\"*}
    [[ $target == */* ]] || continue
    to=${target%%/*}
    [[ -d $to ]] || continue  # not one of the project's folders
    if [[ ${allowed[$folder]} != *" $to "* ]]; then
      fail "$file:$number includes $target: $folder may not include $to"
    elif [[ $target =~ _testing\.h$ ]] && ! is_test_file "$file"; then
      fail "$file:$number includes the test helper $target"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(git ls-files '*.cc' '*.h' 2>/dev/null || find . -name '*.cc' -o -name '*.h' | sed 's|^\./||')

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures violation(s) of tools/layers.txt"
  exit 1
fi
echo "layers: every include points into its own folder or one below it (${#order[@]} layers)"
