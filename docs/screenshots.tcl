# Takes the README's pictures of the window and the export dialog; run by
# docs/screenshots.sh as `molv gui --script`.  Needs Tk's Img package
# (Debian: libtk-img) for the "window" photo format.
package require img::window

set out [file dirname [file normalize [info script]]]

proc shoot {window file} {
    update
    after 300
    update
    set photo [image create photo -format window -data $window]
    $photo write $file -format png
    image delete $photo
}

# The window with its tree opened one level deeper, after an export.
wm geometry . +0+0
foreach item [.tree children {}] {
    foreach child [.tree children $item] {.tree item $child -open 1}
}
set ::molv::status "Ready !"

# File > Export > Direct X ...; the dialog places itself beside the window.
.menubar.file.export invoke 0
update
# The pointer over one option: its help line shows.
focus $::qel_export::button(9)
update
event generate $::qel_export::button(9) <Enter>
shoot . [file join $out window.png]
shoot .x_export_save [file join $out export-dialog.png]
exit 0
