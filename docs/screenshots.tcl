# Takes the pictures of docs/window.md: the window, its view of the model
# and of the export, and the export dialog; run by
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

# The window on a textured model, turned a little, its tree opened one
# level deeper.
set spider /usr/share/assimp/models/OBJ/spider.obj
::molv::gui::load_model $spider
wm geometry . +0+0
update
foreach item [.tree children {}] {
    foreach child [.tree children $item] {.tree item $child -open 1}
}
::molv::gui::view orbit -40 10
.tree selection set o3

# File > Export > Direct X ...; the dialog places itself beside the window.
# The file field shows a name as a user's folder would give it.
.menubar.file.export invoke 0
set ::qel_export::filename /home/artist/models/sample.x
update
# The pointer over one option: its help line shows.
focus $::qel_export::button(9)
update
event generate $::qel_export::button(9) <Enter>
shoot . [file join $out window.png]
shoot .x_export_save [file join $out export-dialog.png]

# The export, and the model beside the .x as Assimp's reader sees it.
set ::qel_export::filename [file join [pwd] spider.x]
.x_export_save.buttons.export invoke
update
.tree selection set o0
set ::molv::gui::showing both
::molv::gui::show
shoot . [file join $out window-compare.png]

# The dialog during an export of a grid of 200 x 200 quads, taken while the
# plug-in writes the normals.
set size 200
set vertices {}
set faces {}
for {set y 0} {$y <= $size} {incr y} {
    for {set x 0} {$x <= $size} {incr x} {lappend vertices "\[$x,$y,0\]"}
}
for {set y 0} {$y < $size} {incr y} {
    for {set x 0} {$x < $size} {incr x} {
        set a [expr {$y * ($size + 1) + $x}]
        set b [expr {$a + $size + 1}]
        lappend faces "{\"verts\": \[$a,[expr {$a + 1}],[expr {$b + 1}],$b\]}"
    }
}
set f [open grid.json w]
puts $f "{\"world\": {\"children\": \[{\"name\": \"grid\",\
    \"vertices\": \[[join $vertices ,]\], \"surfaces\": \[[join $faces ,]\]}\]}}"
close $f
destroy .x_export_save
::molv::gui::load_model [file join [pwd] grid.json]
.menubar.file.export invoke 0
update
proc on_status {args} {
    if {[string match "*Mesh Normals*" $::molv::status] && !$::shot} {
        set ::shot 1
        ::qel_export::follow
        shoot .x_export_save [file join $::out export-progress.png]
    }
}
set shot 0
trace add variable ::molv::status write on_status
.x_export_save.buttons.export invoke
exit 0
