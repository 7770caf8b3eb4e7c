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
# Builds a Release build in build-bench/, or uses the build in $BUILD_DIR
# as it is configured.
set -euo pipefail
n=${1:-707}
frames=${2:-30}
. "$(dirname "$0")/window_setup.sh"

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
