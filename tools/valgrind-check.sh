#!/usr/bin/env bash
# Whole exports under valgrind's memcheck: no invalid read or write, no use
# of an uninitialised value, nothing definitely lost.
#
#   tools/valgrind-check.sh           the sample scene, a generated scene of
#                                     200,000 triangles, a cancelled and a
#                                     failed run (a few minutes)
#   tools/valgrind-check.sh --quick   the sample scene and the cancelled and
#                                     failed runs only (under a minute; CI)
#
# Uses the normal build in build/ (or $BUILD_DIR; configured when there is
# none), whose molv and plug-in it brings up to date; a sanitizer build
# cannot run under valgrind.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
command -v valgrind >/dev/null || { echo "$0: valgrind is not installed" >&2; exit 2; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if grep -q '^QEL_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$0: $build is a sanitizer build; valgrind needs a normal one (BUILD_DIR=...)" >&2
  exit 2
fi
cmake --build "$build" -j"${JOBS:-2}" --target molv qel_export >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The plug-in folder is copied: the options file a run saves stays there.
mkdir "$work/plugin"
cp "$build/plugin/qel_export.so" "$build/plugin/qel_export.tcl" "$work/plugin/"

failed=0
# check NAME EXPECTED-STATUS MOLV-ARGUMENTS...
check() {
  local name=$1 expected=$2
  shift 2
  local log=$work/$name.valgrind status=0
  local start=$SECONDS
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --error-exitcode=99 --track-origins=yes \
    --log-file="$log" "$build/bin/molv" export "$@" --plugin-dir "$work/plugin" --quiet \
    >"$work/$name.out" 2>"$work/$name.err" || status=$?
  local errors lost
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -1)
  printf '%-10s exit %s, %s errors, %s bytes definitely lost, %ss\n' \
    "$name" "$status" "${errors:-?}" "${lost:-0}" $((SECONDS - start))
  if [ "$status" != "$expected" ] || [ "${errors:-1}" != 0 ]; then
    echo "valgrind-check: $name: expected exit $expected and no error; valgrind's log:" >&2
    cat "$log" >&2
    cat "$work/$name.err" >&2
    failed=1
  fi
}

cd "$work"
check sample 0 -o sample --defaults
check cancelled 1 -o cancelled --defaults --set 13=1 --cancel-at-poll 6
check no-memory 1 -o no-memory --defaults --set 13=1 --fail-alloc-after 4
if [ $quick = 0 ]; then
  # 200,000 triangles: a grid of 100,000 quads cut in two (option 9).
  awk 'BEGIN {
    n = 316; m = 317
    printf "{\"world\":{\"children\":[{\"name\":\"grid\",\"vertices\":["
    for (y = 0; y <= n; y++) for (x = 0; x <= m; x++)
      printf "%s[%d,%d,%d]", (x || y) ? "," : "", x, y, (x * y) % 7
    printf "],\"surfaces\":["
    for (y = 0; y < n; y++) for (x = 0; x < m; x++) {
      a = y * (m + 1) + x; b = a + m + 1
      printf "%s{\"verts\":[%d,%d,%d,%d],\"material\":0}", (x || y) ? "," : "", a, a + 1, b + 1, b
    }
    printf "]}]}}\n"
  }' >"$work/large.json"
  check large 0 "$work/large.json" -o large --defaults --set 9=1 --set 13=1
  triangles=$(grep -o '^[0-9]*;$' "$work/large.x" | sed -n 2p)
  echo "large: ${triangles%;} faces written"
fi
exit $failed
