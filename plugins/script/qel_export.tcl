# The export dialog of qel_export.
#
# Sourced once when the plug-in starts; it only defines procedures, so it
# needs no display until the dialog is opened.  qel_export_dialog shows the
# toplevel .x_export_save with the option string it is given and calls
# "molv qel_save" when the user confirms.

namespace eval ::qel {
    variable options ""
    variable filename "export"
}

proc qel_export_dialog {options version} {
    global qel_cancel qel_opt_anz
    set ::qel::options $options
    set qel_cancel 0
    set w .x_export_save
    catch {destroy $w}
    toplevel $w
    wm title $w "Direct X Export v$version"
    ttk::frame $w.f -padding 8
    ttk::label $w.f.l -text "File name:"
    ttk::entry $w.f.e -textvariable ::qel::filename -width 40
    ttk::button $w.f.export -text "Export" -command [list ::qel::export export]
    ttk::button $w.f.saveas -text "Export as..." -command [list ::qel::export save_as]
    ttk::button $w.f.cancel -text "Cancel" -command ::qel::cancel
    grid $w.f -sticky nsew
    grid $w.f.l $w.f.e - - -sticky w -pady 4
    grid $w.f.export $w.f.saveas $w.f.cancel -sticky ew -padx 4
    return $options
}

proc ::qel::export {command} {
    global qel_cancel
    set qel_cancel 0
    set name [regsub {\.x$} $::qel::filename ""]
    molv qel_save $command $name $::qel::options
    if {[winfo exists .x_export_save]} {
        catch {grab release .x_export_save}
        destroy .x_export_save
    }
}

proc ::qel::cancel {} {
    global qel_cancel
    set qel_cancel 1
    if {[winfo exists .x_export_save] && [grab current] ne ".x_export_save"} {
        destroy .x_export_save
    }
}
