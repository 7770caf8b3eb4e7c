# Runs every tcltest file of this folder, each in a tclsh of its own, and
# exits with 1 when any test failed (0 when all passed).  The dialog tests
# need a display: run.sh gives them one.
package require tcltest 2.5
tcltest::configure -testdir [file dirname [file normalize [info script]]] {*}$argv
exit [tcltest::runAllTests]
