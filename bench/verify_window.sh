#!/usr/bin/env bash
# How the window answers while it reads an export back: a grid of about 1M
# triangles (707 x 707 quads, the grid of view_fps.sh) is exported through
# the dialog on a private Xvfb display, and a timer of 10 ms runs on the
# event loop from the export's end until the read-back has ended.  Prints
# the read-back's time, how often the timer ran, the longest gap between
# two runs (the longest the window did not answer) and each gap over
# 100 ms, and how the status line and the bar ended.
#
#   bench/verify_window.sh [QUADS_PER_SIDE]
#
# Builds a Release build in build-bench/, or uses the build in $BUILD_DIR
# as it is configured.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-bench}
n=${1:-707}
if [ -n "${BUILD_DIR:-}" ]; then
  :
elif [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target molv qel_export >/dev/null

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

awk -v n="$n" 'BEGIN {
  printf "o grid\n";
  for (y = 0; y <= n; y++) for (x = 0; x <= n; x++)
    printf "v %.4f %.4f %.4f\n", x * 0.25, y * 0.25, sin(x * 0.1) * cos(y * 0.1);
  for (y = 0; y < n; y++) for (x = 0; x < n; x++) {
    a = y * (n + 1) + x + 1;
    printf "f %d %d %d\nf %d %d %d\n", a, a + 1, a + n + 2, a, a + n + 2, a + n + 1;
  }
}' > "$work/grid.obj"

exec 3<> <(:)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb_pid=$!
read -r display <&3

cat > "$work/answer.tcl" <<'TCL'
# From the export's end (the read-back starts) to the read-back's end: the
# timer's runs and the longest gap between two.
set ::runs 0
set ::gap 0
set ::long {}
proc tick {} {
    set now [clock milliseconds]
    if {[info exists ::last]} {
        set gap [expr {$now - $::last}]
        set ::gap [expr {max($::gap, $gap)}]
        incr ::runs
        if {$gap > 100} {
            lappend ::long "$gap ms at [expr {$now - $::start}] ms ($::molv::status)"
        }
    }
    if {[::molv::gui::verifying] || ![info exists ::last]} {
        set ::last $now
        after 10 tick
    }
}
rename ::molv::gui::exported ::molv::gui::exported_plain
proc ::molv::gui::exported {args} {
    set ::start [clock milliseconds]
    ::molv::gui::exported_plain {*}$args
    tick
}
.menubar.file.export invoke 0
update
.x_export_save.file.name delete 0 end
.x_export_save.file.name insert 0 grid
.x_export_save.buttons.export invoke
::molv::gui::wait_check
puts [format "read-back of %s: %.2f s; the window answered %d times, the longest gap %d ms" \
    [lindex [.scene.agreement cget -text] 0] \
    [expr {([clock milliseconds] - $::start) / 1e3}] $::runs $::gap]
puts "gaps over 100 ms: [join $::long {; }]"
puts "status: $::molv::status"
puts "bar: $::molv::gui::bar"
puts "verdict: [.scene.agreement cget -text]"
exit 0
TCL
cd "$work"
DISPLAY=":$display" "$build/bin/molv" gui "$work/grid.obj" --plugin-dir "$build/plugin" \
  --script "$work/answer.tcl"
