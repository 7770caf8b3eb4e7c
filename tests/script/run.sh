#!/usr/bin/env bash
# Runs the tcltest files of this folder on a private X display: a display
# already given in $QEL_TEST_DISPLAY, else an Xvfb started for the run and
# stopped after it.  Exit status 77 (a skip for CTest) when there is no Xvfb.
# Arguments go to tcltest (e.g. -file qel_export_dialog.test -verbose bpe).
set -u
here=$(cd "$(dirname "$0")" && pwd)
tclsh=${TCLSH:-tclsh8.6}

# tcltest's scratch folder, and where it looks for files a test left.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
run_tests() {
  (cd "$scratch" && DISPLAY=$1 "$tclsh" "$here/all.tcl" -tmpdir "$scratch" "${@:2}")
}

if [ -n "${QEL_TEST_DISPLAY:-}" ]; then
  run_tests "$QEL_TEST_DISPLAY" "$@"
  exit
fi
if ! command -v Xvfb >/dev/null; then
  echo "run.sh: no Xvfb, the dialog tests need a display" >&2
  exit 77
fi

# Xvfb picks a free display itself and writes its number once it accepts
# clients.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
number=""
read -r -t 30 number <"$fifo"
rm -f "$fifo"
if [ -z "$number" ]; then
  kill "$xvfb" 2>/dev/null
  echo "run.sh: Xvfb did not start" >&2
  exit 1
fi
run_tests ":$number" "$@"
status=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $status
