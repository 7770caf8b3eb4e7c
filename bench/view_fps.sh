#!/usr/bin/env bash
# Frames per second of the window's 3D view on a grid of about 1M
# triangles (707 x 707 quads, the grid of compare.sh), drawn by Mesa in
# software on a private Xvfb display: the time to build the view's buffers
# from the model, the first frame (the upload) and the frames of a turning
# model after it; then the cost of the chosen object's outline (the grid
# chosen in the list: a frame with it against one without) and the
# longest pause of the window's event loop while the grid is chosen as a
# click in the list chooses it.
#
#   bench/view_fps.sh [QUADS_PER_SIDE] [FRAMES]
#
# Builds a Release build in build-bench/ (or $BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-bench}
n=${1:-707}
frames=${2:-30}
if [ -f "$build/CMakeCache.txt" ]; then
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

cat > "$work/fps.tcl" <<TCL
update
set build [lindex [time {::molv::gui::view build $work/grid.obj}] 0]
set first [lindex [time {::molv::gui::view redraw}] 0]
set t [lindex [time {::molv::gui::view orbit 5 0; ::molv::gui::view redraw} $frames] 0]
puts [format "view %dx%d, %d triangles: buffers built in %.2f s, first frame (upload) %.2f s, then %.1f frames per second (%.0f ms a frame)" \
    [winfo width .scene.gl] [winfo height .scene.gl] [expr {2 * $n * $n}] \
    [expr {\$build / 1e6}] [expr {\$first / 1e6}] [expr {1e6 / \$t}] [expr {\$t / 1e3}]]
::molv::gui::view select 1
set outlined [lindex [time {::molv::gui::view redraw} 10] 0]
::molv::gui::view select -1
set plain [lindex [time {::molv::gui::view redraw} 10] 0]
update
# Choosing the grid and choosing nothing, each drawn as the window draws it.
set choose [lindex [time {
    ::molv::gui::view select 1
    update idletasks
    ::molv::gui::view select -1
    update idletasks
} 10] 0]
# The event loop while the grid is chosen in the list: a tick every 5 ms.
set ::last [clock microseconds]
set ::longest 0
proc tick {} {
    set now [clock microseconds]
    set ::longest [expr {max(\$::longest, \$now - \$::last)}]
    set ::last \$now
    after 5 tick
}
after 5 tick
after 300 {.tree selection set o1}
after 1500 {set ::done 1}
vwait ::done
puts [format "the grid chosen: a whole frame with its outline %.0f ms, without %.0f ms; choosing it (or nothing) %.1f ms; longest pause of the event loop while choosing it in the list %.0f ms" \
    [expr {\$outlined / 1e3}] [expr {\$plain / 1e3}] [expr {\$choose / 2e3}] \
    [expr {\$::longest / 1e3}]]
exit 0
TCL
DISPLAY=":$display" "$build/bin/molv" gui "$work/grid.obj" --plugin-dir "$build/plugin" --script "$work/fps.tcl"
