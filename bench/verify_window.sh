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
n=${1:-707}
. "$(dirname "$0")/window_setup.sh"

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
