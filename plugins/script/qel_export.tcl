# The export dialog of qel_export (Tcl/Tk 8.6, themed widgets).
#
# The plug-in sources this file once when it starts.  Sourcing only defines
# procedures: no window, no variable, no Tk command, so the file also loads
# in an interpreter without a display.
#
# qel_export_dialog OPTIONS VERSION opens the toplevel .x_export_save with
# one check button per switch of the option string and a spin box for the
# decimal places (character 49), and returns OPTIONS.  Export and
# "Export as..." call
#
#     molv qel_save export|save_as NAME OPTIONS
#
# with the file name without its ".x" and an option string of exactly
# $qel_opt_anz characters in which every character the dialog does not show
# (0, 16, 24-27, 30-48, and any switch the user left alone) keeps the value
# it came with.
#
# The export runs inside the button's command.  The plug-in shows the
# dialog again with a global grab and lets Tk process events ("update")
# while it works, so the Cancel button still works then: it sets qel_cancel
# to 1, the plug-in notices, clears qel_cancel again and destroys the
# dialog.  Everything else is disabled while the export runs, so no second
# export can start from inside the first.  After a complete export the
# dialog closes; after a file chooser that was cancelled or an export that
# failed (the plug-in has said why) it stays open.
#
# Window names, for scripts that drive the dialog:
#   .x_export_save.file.name       the file name (entry)
#   .x_export_save.file.browse     Browse...
#   $::qel_export::button(N)       the check button of switch N
#   .x_export_save.groups.numbers.decimals   the decimal places (spin box)
#   .x_export_save.help            the help line
#   .x_export_save.buttons.export, .saveas, .cancel

namespace eval ::qel_export {}

# The switches as the user sees them: groups of {index label help}.
proc ::qel_export::groups {} {
    return {
        header "File header and comments" {
            {1 "Model information in the header"
             "Start the file with the model's information and its vertex totals as comments."}
            {2 "Comments with object data"
             "Write each object's data text as a comment line ahead of its frame."}
            {21 "Comments for line surfaces"
             "Write each line surface as a comment line with the positions of its vertices."}
        }
        geometry "Geometry" {
            {3 "Keep the z axis"
             "Write z as the modeller holds it. Off: every z is mirrored (z becomes -z)."}
            {9 "Triangulate polygons"
             "Replace every polygon of more than three corners by triangles."}
            {22 "Double two-sided polygons"
             "Write a two-sided polygon twice, the second copy facing the other way."}
            {23 "Optimize vertices"
             "Write equal vertices of a mesh once; the faces refer to the merged vertices."}
            {13 "Vertex duplication indices"
             "Add a VertexDuplicationIndices block to every mesh."}
            {28 "Export subdivided forms"
             "Export an object that is held subdivided through its subdivided form."}
        }
        materials "Materials and textures" {
            {6 "Materials"
             "Write material templates and a material list in every mesh. Off: no materials, no texture coordinates."}
            {5 "Textures"
             "Write texture file names and texture coordinates (with Materials on)."}
            {4 "Texture names without folder"
             "Keep only the file name of a texture, without its folder."}
            {19 "Textures take their material's colours"
             "A texture takes the colours of the material it is first used with. Off: plain white textures."}
            {18 "No specular light"
             "Write power and specular colour 0 in every material."}
        }
        normals "Normals and shading" {
            {7 "Normals"
             "Add a MeshNormals block to every mesh."}
            {8 "Flip normals"
             "Turn every normal written to the other side."}
            {11 "Faces keep the modeller's corner order"
             "List the corners of each face in the modeller's order and turn the normals. Off: reverse order."}
            {12 "Flat surfaces use their surface normal"
             "Flat surfaces take the surface normal; normals are rounded to six places. Off: the modeller's vertex normals."}
        }
        names "Names and frames" {
            {14 "Object names"
             "Frame and mesh names carry the object's name."}
            {15 "Index names"
             "Frame and mesh names carry the object's place in the tree (FRM_..., MSH_...)."}
            {29 "Underscore before a leading digit"
             "A name that begins with a digit gets a leading '_'."}
            {10 "No frames"
             "Write no Frame blocks; meshes keep the modeller's positions."}
            {20 "No frames for leaf objects"
             "A polygon object without children gets no frame of its own."}
        }
        numbers "Numbers" {
            {17 "Fixed number form"
             "Write numbers with six significant digits in fixed form. Off: the short form (%g)."}
        }
    }
}

# The option string's length as the plug-in gives it.
proc ::qel_export::length {} {
    if {[info exists ::qel_opt_anz] && [string is integer -strict $::qel_opt_anz]
            && $::qel_opt_anz > 0} {
        return $::qel_opt_anz
    }
    return 50
}

# OPTIONS cut or padded with "0" to the plug-in's length.
proc ::qel_export::normalize {options} {
    set length [length]
    set options [string range $options 0 [expr {$length - 1}]]
    return $options[string repeat 0 [expr {$length - [string length $options]}]]
}

# The digit the spin box shows for character C: a digit as it is, other
# characters clamped the way the plug-in reads them.
proc ::qel_export::decimals_shown {c} {
    if {[string match {[0-9]} $c]} {return $c}
    return [expr {$c eq "" || [string compare $c 0] < 0 ? 0 : 9}]
}

proc qel_export_dialog {options version} {
    set w .x_export_save
    if {[winfo exists $w] && [info exists ::qel_export::busy] && $::qel_export::busy} {
        # An export from this dialog is running: keep it.
        raise $w
        return $options
    }
    catch {destroy $w}
    ::qel_export::build $w [::qel_export::normalize $options] $version
    return $options
}

proc ::qel_export::build {w options version} {
    variable given $options
    variable busy 0
    variable on
    variable button
    variable decimals
    variable editable {}
    variable help ""
    variable filename
    if {![info exists filename]} {set filename ""}
    array unset on
    array unset button
    set length [string length $options]

    toplevel $w
    wm title $w "Export Direct X File - qel_export $version"
    wm protocol $w WM_DELETE_WINDOW ::qel_export::cancel
    if {[winfo viewable .]} {wm transient $w .}

    ttk::frame $w.file -padding {10 10 10 4}
    ttk::label $w.file.label -text "File:"
    ttk::entry $w.file.name -textvariable ::qel_export::filename -width 48
    ttk::button $w.file.browse -text "Browse..." -command ::qel_export::browse
    pack $w.file.label -side left
    pack $w.file.browse -side right
    pack $w.file.name -side left -fill x -expand 1 -padx 6
    describe $w.file.name \
        "The file to write; .x is added. Empty: Export asks for the file."
    describe $w.file.browse "Choose the file to write."
    lappend editable $w.file.name $w.file.browse

    # Two columns of groups, read top to bottom.
    ttk::frame $w.groups -padding {10 4}
    set row 0
    set column 0
    foreach {key title switches} [groups] {
        set g $w.groups.$key
        ttk::labelframe $g -text $title -padding {8 4}
        foreach entry $switches {
            lassign $entry n label text
            set b $g.o$n
            set on($n) [expr {[string index $options $n] eq "1"}]
            ttk::checkbutton $b -text $label -variable ::qel_export::on($n)
            pack $b -anchor w -pady 1
            describe $b "$text (option $n)"
            set button($n) $b
            if {$n < $length} {
                lappend editable $b
            } else {
                $b state disabled
            }
        }
        if {$key eq "numbers"} {
            ttk::frame $g.places
            ttk::label $g.places.label -text "Decimal places below 1:"
            set decimals [decimals_shown [string index $options 49]]
            variable decimals_given $decimals
            ttk::spinbox $g.decimals -from 0 -to 9 -increment 1 -format %.0f -width 3 \
                -textvariable ::qel_export::decimals -state readonly
            ttk::label $g.places.note -text "0 = no limit"
            pack $g.places.label -side left -in $g.places
            pack $g.decimals -side left -padx 6 -in $g.places
            pack $g.places.note -side left -in $g.places
            pack $g.places -anchor w -pady 2
            describe $g.decimals "At most this many decimal places for numbers\
                below 1 in the fixed form; 0 = no limit (option 49)."
            if {49 < $length} {
                lappend editable $g.decimals
            } else {
                $g.decimals state disabled
            }
        }
        grid $g -row $row -column $column -sticky nsew -padx 4 -pady 4
        if {[incr row] == 3} {
            set row 0
            incr column
        }
    }
    grid columnconfigure $w.groups all -weight 1 -uniform groups

    ttk::label $w.help -textvariable ::qel_export::help -padding {12 4} -foreground #505050
    bind $w.help <Configure> {%W configure -wraplength [expr {%w - 24}]}
    ttk::frame $w.buttons -padding {10 4 10 10}
    ttk::button $w.buttons.export -text "Export" -default active \
        -command [list ::qel_export::confirm export]
    ttk::button $w.buttons.saveas -text "Export as..." \
        -command [list ::qel_export::confirm save_as]
    ttk::button $w.buttons.cancel -text "Cancel" -command ::qel_export::cancel
    pack $w.buttons.cancel $w.buttons.saveas $w.buttons.export -side right -padx 4
    describe $w.buttons.export "Export to the file named above."
    describe $w.buttons.saveas "Choose a file, then export to it."
    describe $w.buttons.cancel "Close the dialog, or stop a running export."
    lappend editable $w.buttons.export $w.buttons.saveas

    pack $w.file -fill x
    pack $w.groups -fill both -expand 1
    pack $w.help -fill x
    pack $w.buttons -fill x

    bind $w <Return> {::qel_export::confirm export}
    bind $w <KP_Enter> {::qel_export::confirm export}
    bind $w <Escape> ::qel_export::cancel
    hint ""
    focus $w.file.name
}

# Shows TEXT in the help line while the pointer is over WIDGET or the
# widget has the keyboard focus.
proc ::qel_export::describe {widget text} {
    # A binding's script has its % sequences replaced.
    set text [string map {% %%} $text]
    bind $widget <Enter> [list ::qel_export::hint $text]
    bind $widget <FocusIn> [list ::qel_export::hint $text]
    bind $widget <Leave> {::qel_export::hint ""}
}

# The help line: TEXT, or what it says when the pointer is nowhere in
# particular.  While an export runs it says how to stop it.
proc ::qel_export::hint {text} {
    variable busy
    variable help
    if {$busy} {
        set help "Exporting ... Cancel stops the export."
    } elseif {$text eq ""} {
        set help "Point at an option to see what it does."
    } else {
        set help $text
    }
}

# The option string as the dialog would send it now: what it was given,
# with the switches and the decimal places the user changed.
proc ::qel_export::option_string {} {
    variable given
    variable on
    variable decimals
    variable decimals_given
    set options $given
    set length [string length $options]
    foreach n [array names on] {
        if {$n >= $length} continue
        if {$on($n) != ([string index $given $n] eq "1")} {
            set options [string replace $options $n $n [expr {$on($n) ? 1 : 0}]]
        }
    }
    if {49 < $length && $decimals ne $decimals_given && [string match {[0-9]} $decimals]} {
        set options [string replace $options 49 49 $decimals]
    }
    return $options
}

# The NAME word of qel_save: the file name without one trailing ".x".
proc ::qel_export::export_name {} {
    variable filename
    set name [string trim $filename]
    if {[string match *.x $name]} {
        set name [string range $name 0 end-2]
    }
    return $name
}

proc ::qel_export::browse {} {
    variable filename
    set w .x_export_save
    set name [string trim $filename]
    set args [list -parent $w -title "Save X File" -defaultextension .x \
        -filetypes {{{X Files} {.x}} {{All Files} *}}]
    if {$name ne ""} {
        if {[file isdirectory [file dirname $name]]} {
            lappend args -initialdir [file dirname $name]
        }
        lappend args -initialfile [file tail $name]
    }
    set chosen [tk_getSaveFile {*}$args]
    if {$chosen ne ""} {set filename $chosen}
}

proc ::qel_export::set_busy {w on} {
    variable editable
    variable busy $on
    foreach widget $editable {
        if {[winfo exists $widget]} {
            $widget state [expr {$on ? "disabled" : "!disabled"}]
        }
    }
    hint ""
}

# Export (COMMAND "export") or Export as... (COMMAND "save_as").
proc ::qel_export::confirm {command} {
    variable busy
    set w .x_export_save
    # A second press while Tk works for the running export does nothing.
    if {$busy || ![winfo exists $w]} return
    set name [export_name]
    set options [option_string]
    set asks [expr {$command eq "save_as" || $name eq ""}]
    set ::qel_cancel 0
    set_busy $w 1
    set start [clock seconds]
    try {
        molv qel_save $command $name $options
    } finally {
        # The plug-in destroys the dialog when the user cancels.
        if {[winfo exists $w]} {
            set_busy $w 0
            set done [finished $w $asks $name $start]
            catch {grab release $w}
            if {$done} {destroy $w}
        } else {
            set busy 0
        }
    }
}

# Whether the export that just returned wrote its file.  The plug-in takes
# a global grab on the dialog once it has its file name, so without one the
# file chooser was cancelled.  A named file is there when it is new; a
# failure has been reported by the plug-in and leaves the dialog open for
# another try.
proc ::qel_export::finished {w asks name start} {
    if {[grab status $w] ne "global"} {return 0}
    if {$asks} {return 1}
    set file $name.x
    return [expr {[file isfile $file] && [file mtime $file] >= $start}]
}

proc ::qel_export::cancel {} {
    variable busy
    if {[info exists busy] && $busy} {
        # The plug-in reads this at its next poll and ends the export.
        set ::qel_cancel 1
        return
    }
    destroy .x_export_save
}
