# The export dialog of qel_export (Tcl/Tk 8.6, themed widgets).  Sourcing
# it only defines procedures (no window, variable or Tk command), so it also
# loads without a display.
#
# qel_export_dialog OPTIONS VERSION opens .x_export_save, one check button
# per switch of the option string and a spin box for the decimal places
# (character 49), and returns OPTIONS.  Export and "Export as..." call
#     molv qel_save export|save_as NAME OPTIONS
# with the file name without its ".x" and $qel_opt_anz option characters;
# every character the dialog does not show (0, 16, 24-27, 30-48) or the
# user left alone keeps its value.  A switch without effect while another
# is off (Textures without Materials, ...) is greyed out and keeps its
# character.
#
# The export runs inside the button's command; the plug-in grabs the dialog
# and lets Tk process events while it works, so Cancel sets qel_cancel to 1,
# and the plug-in clears it and destroys the dialog.  Everything else is
# disabled meanwhile: no second export starts from inside the first.
#
# Of the host, where it has them: ::molv::status (the status line; "Ready !"
# after a complete export), ::molv::progress, and ::molv::gui::scene_name
# (the model's file, "" for the sample; it names the file proposed).  During
# an export the help line shows its phase and a bar its progress.  After
# "Ready !" the dialog closes; after a cancelled chooser or a failed export
# (the plug-in said why) it stays open.
#
# Window names, for scripts that drive the dialog:
#   .x_export_save.file.name       the file name (entry)
#   .x_export_save.file.browse     Browse...
#   $::qel_export::button(N)       the check button of switch N
#   .x_export_save.groups.numbers.decimals   the decimal places (spin box)
#   .x_export_save.help            the help line
#   .x_export_save.buttons.progress          the export's progress (0-100)
#   .x_export_save.buttons.defaults, .export, .saveas, .cancel

namespace eval ::qel_export {}

# The switches as the user sees them: groups of {index label help}.  Switch
# 3 is shown the other way round: its box is ticked when the character is
# not "1" (z mirrored).
proc ::qel_export::groups {} {
    return {
        header "Comments in the file" {
            {1 "Model statistics at the top"
             "Start the file with comment lines: the model's name and its totals of objects, vertices and faces."}
            {2 "Object notes"
             "Write each object's notes (its data text) as a comment line before its frame."}
            {21 "Lines as comments"
             "Lines are no geometry in a .x file: write each as a comment line with the positions of its points."}
        }
        geometry "Geometry" {
            {3 "Mirror z (left-handed)"
             "Mirror every z (z becomes -z), for engines with a left-handed frame. Off: z as the modeller holds it."}
            {9 "Triangulate"
             "Split every face of more than three corners into triangles."}
            {22 "Two-sided faces as two faces"
             "Write a two-sided face twice, the second copy facing the other way, for engines that cull back faces."}
            {23 "Merge equal vertices"
             "Write equal vertices of a mesh once and let the faces share them: a smaller file, the same shape."}
            {13 "Vertex duplication indices"
             "Add a VertexDuplicationIndices block to every mesh: for each vertex the first one at its place."}
            {28 "Subdivided shape"
             "Export an object held subdivided through its subdivided (smooth) shape, not its cage."}
        }
        materials "Materials and textures" {
            {6 "Materials"
             "Write the materials and the material of every face. Off: no materials, no textures, no texture coordinates."}
            {5 "Textures"
             "Write texture file names and texture coordinates (needs Materials)."}
            {4 "Texture file name only"
             "Name each texture by its file name without its folder: keep the images beside the .x (needs Textures)."}
            {19 "Textures tinted by their material"
             "A texture takes the colours of the material it is first used with. Off: plain white (needs Materials)."}
            {18 "Matte (no specular)"
             "Write every material with specular colour and power 0 (needs Materials)."}
        }
        normals "Normals and shading" {
            {7 "Normals"
             "Write every mesh's normals, for the lighting."}
            {8 "Flip normals"
             "Turn every normal to the other side, for a model that looks inside out (needs Normals)."}
            {11 "Keep the modeller's winding"
             "List the corners of each face in the modeller's order and turn the normals with them. Off: the reverse order."}
            {12 "Flat faces stay flat"
             "A face shaded flat takes its face normal; normals are rounded to six places. Off: the modeller's vertex normals."}
        }
        names "Names and frames" {
            {14 "Object names"
             "Frames and meshes are named after their objects."}
            {15 "Index names"
             "Frames and meshes are named by their place in the object tree (FRM_..., MSH_...)."}
            {29 "'_' before a leading digit"
             "An object name that begins with a digit gets a leading '_', as the .x format and the DirectX runtime need (needs Object names)."}
            {10 "No frames"
             "Write no Frame blocks; the meshes keep the modeller's positions."}
            {20 "No frame for childless objects"
             "An object without children gets no frame of its own; its mesh sits in its parent's frame (needs frames)."}
        }
        numbers "Numbers" {
            {17 "Fixed-point numbers"
             "Write numbers with six significant digits in fixed form. Off: the short form (%g), which the DirectX runtime refuses (1 and 1e-07 are no floats to it)."}
        }
    }
}

# Switches shown ticked when their character is not "1".
proc ::qel_export::inverted {n} {
    return [expr {$n == 3}]
}

# What a switch needs to have an effect: {switch on/off ...}, every pair
# must hold, or the switch is greyed out.  "decimals" is the spin box.
proc ::qel_export::needs {} {
    return {
        5 {6 1}
        4 {6 1 5 1}
        19 {6 1}
        18 {6 1}
        8 {7 1}
        29 {14 1}
        20 {10 0}
        decimals {17 1}
    }
}

# The plug-in's built-in options, which Defaults brings back.
proc ::qel_export::defaults {} {
    return 00001111000010100101001111101100000000000000000006
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

# The character switch N shows as ticked (1) or not (0).
proc ::qel_export::shown {n c} {
    set set [expr {$c eq "1"}]
    return [expr {[inverted $n] ? !$set : $set}]
}

proc ::qel_export::build {w options version} {
    variable given $options
    variable busy 0
    variable on
    variable button
    variable editable {}
    variable help ""
    variable percent 0
    array unset on
    array unset button
    propose_file

    toplevel $w
    wm withdraw $w
    wm title $w "Export Direct X File - qel_export $version"
    wm protocol $w WM_DELETE_WINDOW ::qel_export::cancel
    if {[winfo viewable .]} {wm transient $w .}
    build_file $w
    build_groups $w $options
    build_buttons $w
    # The buttons and the help line from the bottom up, so that the
    # buttons stay where they are whatever the help says.
    pack $w.buttons -side bottom -fill x
    pack $w.help -side bottom -fill x
    pack $w.file -fill x
    pack $w.groups -fill both -expand 1

    bind $w <Return> {::qel_export::confirm export}
    bind $w <KP_Enter> {::qel_export::confirm export}
    bind $w <Escape> ::qel_export::cancel
    # The underlined letters: Alt and the letter presses the button.
    foreach {key widget} {f file.name b file.browse d buttons.defaults e buttons.export
                          a buttons.saveas c buttons.cancel} {
        bind $w <Alt-KeyPress-$key> [list ::qel_export::mnemonic $w.$widget]
    }
    grey_out
    hint ""
    place $w
    # One size whatever the help line says: room for two lines more.
    set extra [expr {2 * [font metrics TkDefaultFont -linespace]}]
    wm geometry $w [winfo reqwidth $w]x[expr {[winfo reqheight $w] + $extra}]
    wm deiconify $w
    focus $w.file.name
    # The proposed file follows the model the host opens.
    if {[info exists ::molv::gui::scene]} {
        trace add variable ::molv::gui::scene write ::qel_export::scene_changed
        bind $w <Destroy> {
            if {"%W" eq [winfo toplevel %W]} {
                trace remove variable ::molv::gui::scene write ::qel_export::scene_changed
            }
        }
    }
}

proc ::qel_export::scene_changed {args} {
    propose_file
}

proc ::qel_export::build_file {w} {
    variable editable
    ttk::frame $w.file -padding {10 10 10 4}
    ttk::label $w.file.label -text "File:" -underline 0
    ttk::entry $w.file.name -textvariable ::qel_export::filename -width 44
    ttk::button $w.file.browse -text "Browse..." -underline 0 -command ::qel_export::browse
    pack $w.file.label -side left
    pack $w.file.browse -side right
    pack $w.file.name -side left -fill x -expand 1 -padx 6
    describe $w.file.name \
        "The file to write; .x is added. Empty: Export asks for the file."
    describe $w.file.browse "Choose the file to write."
    lappend editable $w.file.name $w.file.browse
}

# Two columns of groups, read top to bottom.
proc ::qel_export::build_groups {w options} {
    variable on
    variable button
    variable editable
    set length [string length $options]
    ttk::frame $w.groups -padding {10 4}
    set row 0
    set column 0
    foreach {key title switches} [groups] {
        set g $w.groups.$key
        ttk::labelframe $g -text $title -padding {8 4}
        foreach entry $switches {
            lassign $entry n label text
            set b $g.o$n
            set on($n) [shown $n [string index $options $n]]
            ttk::checkbutton $b -text $label -variable ::qel_export::on($n) \
                -command ::qel_export::grey_out
            pack $b -anchor w -pady 1
            describe $b "$text (option $n)"
            set button($n) $b
            if {$n < $length} {
                lappend editable $b
            } else {
                $b state disabled
            }
        }
        if {$key eq "numbers"} {build_decimals $g $options}
        grid $g -row $row -column $column -sticky nsew -padx 4 -pady 4
        if {[incr row] == 3} {
            set row 0
            incr column
        }
    }
    grid columnconfigure $w.groups all -weight 1 -uniform groups
}

# The spin box of the decimal places (character 49) in group G.
proc ::qel_export::build_decimals {g options} {
    variable button
    variable editable
    variable decimals [decimals_shown [string index $options 49]]
    variable decimals_given $decimals
    ttk::frame $g.places
    ttk::label $g.places.label -text "Decimals below 1:"
    ttk::spinbox $g.decimals -from 0 -to 9 -increment 1 -format %.0f -width 3 \
        -textvariable ::qel_export::decimals -state readonly
    ttk::label $g.places.note -text "0 = no limit"
    pack $g.places.label -side left -in $g.places
    pack $g.decimals -side left -padx 6 -in $g.places
    pack $g.places.note -side left -in $g.places
    pack $g.places -anchor w -pady 2
    describe $g.decimals "At most this many decimal places for numbers\
        below 1 in the fixed form; 0 = no limit (option 49; needs Fixed-point numbers)."
    set button(decimals) $g.decimals
    if {49 < [string length $options]} {
        lappend editable $g.decimals
    } else {
        $g.decimals state disabled
    }
}

# The help line, and the buttons: Defaults on the left; during an export
# the bar takes the free room.
proc ::qel_export::build_buttons {w} {
    variable editable
    ttk::label $w.help -textvariable ::qel_export::help -padding {12 4} -foreground #505050
    # Lines a little narrower than the label: one as wide as its room would
    # make the label ask for more than it has, and lose its last letters.
    bind $w.help <Configure> {%W configure -wraplength [expr {%w - 36}]}
    ttk::frame $w.buttons -padding {10 4 10 10}
    ttk::button $w.buttons.defaults -text "Defaults" -underline 0 \
        -command ::qel_export::reset
    ttk::progressbar $w.buttons.progress -maximum 100 -variable ::qel_export::percent
    ttk::button $w.buttons.export -text "Export" -underline 0 -default active \
        -command [list ::qel_export::confirm export]
    ttk::button $w.buttons.saveas -text "Export as..." -underline 7 \
        -command [list ::qel_export::confirm save_as]
    ttk::button $w.buttons.cancel -text "Cancel" -underline 0 -command ::qel_export::cancel
    grid $w.buttons.defaults x $w.buttons.export $w.buttons.saveas $w.buttons.cancel \
        -padx 4 -sticky ew
    grid $w.buttons.progress -row 0 -column 1 -padx 12 -sticky ew
    grid remove $w.buttons.progress
    grid columnconfigure $w.buttons 1 -weight 1
    describe $w.buttons.defaults "Set every option to the plug-in's default."
    describe $w.buttons.export "Export to the file named above."
    describe $w.buttons.saveas "Choose a file, then export to it."
    describe $w.buttons.cancel "Close the dialog, or stop a running export."
    lappend editable $w.buttons.defaults $w.buttons.export $w.buttons.saveas
}

# Alt and an underlined letter: the button is pressed, the entry gets the
# keyboard.
proc ::qel_export::mnemonic {widget} {
    if {![winfo exists $widget] || [$widget instate disabled]} return
    if {[winfo class $widget] eq "TEntry"} {
        focus $widget
        $widget selection range 0 end
    } else {
        $widget invoke
    }
}

# The model's name in the current folder, as the command line names the
# file; a name the user typed for this model is kept.
proc ::qel_export::propose_file {} {
    variable filename
    variable filename_for
    set scene ""
    set known [llength [info commands ::molv::gui::scene_name]]
    if {$known} {catch {set scene [::molv::gui::scene_name]}}
    if {[info exists filename] && [info exists filename_for] && $filename_for eq $scene} return
    set filename_for $scene
    if {!$known} {
        set filename ""
        return
    }
    set stem [expr {$scene eq "" ? "sample" : [file rootname [name_of $scene]]}]
    # Joined as text: file join would take a stem "~m" for a home folder.
    set filename [string trimright [pwd] /]/$stem.x
}

# Puts the dialog beside the host's window, right of it or else left of
# it, so that neither hides the other; on a screen too narrow for both, at
# the screen's right edge.
proc ::qel_export::place {w} {
    update idletasks
    set width [winfo reqwidth $w]
    set height [winfo reqheight $w]
    set screen_width [winfo screenwidth $w]
    set screen_height [winfo screenheight $w]
    set x [expr {max(0, ($screen_width - $width) / 2)}]
    set y [expr {max(0, ($screen_height - $height) / 3)}]
    if {[winfo viewable .] &&
            [regexp {^(\d+)x(\d+)([+-]-?\d+)([+-]-?\d+)$} [wm geometry .] -> \
                 parent_width parent_height parent_x parent_y]} {
        # The frame of the window manager, as far as it shows left of the
        # window: as much again on its right.
        set frame [expr {max(0, [winfo rootx .] - $parent_x)}]
        set gap [expr {8 + 2 * $frame}]
        set right [expr {$parent_x + $parent_width + $gap}]
        set left [expr {$parent_x - $width - $gap}]
        if {$right + $width <= $screen_width} {
            set x $right
        } elseif {$left >= 0} {
            set x $left
        } else {
            set x [expr {max(0, $screen_width - $width)}]
        }
        set y [expr {max(0, min($parent_y, $screen_height - $height))}]
    }
    wm geometry $w +$x+$y
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
# particular.  While an export runs it shows the export's phase.
proc ::qel_export::hint {text} {
    variable busy
    variable help
    if {$busy} {
        follow
    } elseif {$text eq ""} {
        set help "Point at an option to see what it does."
    } else {
        set help $text
    }
}

# Greys out the switches that have no effect as the others stand now; a
# greyed switch keeps its state and its character.
proc ::qel_export::grey_out {} {
    variable on
    variable button
    variable busy
    variable editable
    foreach {n conditions} [needs] {
        if {![info exists button($n)] || $button($n) ni $editable} continue
        set active 1
        foreach {other state} $conditions {
            if {[info exists on($other)] && $on($other) != $state} {set active 0}
        }
        $button($n) state [expr {$active && !$busy ? "!disabled" : "disabled"}]
    }
}

# Defaults: every switch and the decimal places as the plug-in starts.
proc ::qel_export::reset {} {
    variable on
    variable decimals
    variable busy
    if {$busy} return
    set defaults [defaults]
    foreach n [array names on] {
        set on($n) [shown $n [string index $defaults $n]]
    }
    set decimals [string index $defaults 49]
    grey_out
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
        if {$on($n) != [shown $n [string index $given $n]]} {
            set set [expr {[inverted $n] ? !$on($n) : $on($n)}]
            set options [string replace $options $n $n [expr {$set ? 1 : 0}]]
        }
    }
    if {49 < $length && $decimals ne $decimals_given && [string match {[0-9]} $decimals]} {
        set options [string replace $options 49 49 $decimals]
    }
    return $options
}

# The last part of a file name as written: "~m.x" of "./~m.x" (Tcl's file
# tail keeps the "./" of a name that begins with "~").
proc ::qel_export::name_of {file} {
    regsub {^.*/} $file {}
}

# The NAME word of qel_save: the file name without one trailing ".x".
proc ::qel_export::export_name {} {
    variable filename
    set name [string trim $filename]
    if {[string match *.x $name]} {
        set name [string range $name 0 end-2]
    }
    # Taken literally, as the plug-in writes it: "~m" is a file here.
    if {[string match ~* $name]} {set name ./$name}
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
        lappend args -initialfile [name_of $name]
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
    if {[winfo exists $w.buttons.progress]} {
        if {$on} {
            grid $w.buttons.progress
        } else {
            grid remove $w.buttons.progress
        }
    }
    grey_out
    hint ""
}

# ---- the progress of a running export ------------------------------------------
#
# The plug-in's own value counts the vertices written: it stands still
# while a mesh's vertex list is made and merged and once its vertices are
# out (faces, normals, duplication indices).  The bar adds the phases of
# the mesh at hand to it, half and half: the phases by their place in a
# mesh's export and the figures their texts give, weighted by the mesh's
# share of the vertices (the last mesh's share until its own is known).
# It never goes back.

# The phases: a pattern of the status text, and where a mesh's export is
# in it, 0 to 100 (the duplication indices count down to 100).
proc ::qel_export::phases {} {
    return {
        "*Create Vertex List*" 5
        "*Optimize Vertices*" 10
        "*Mesh Vertices*" 20
        "*Mesh Surfaces*" 30
        "*Mesh Materials*" 32
        "*Texture Coordinates*" 34
        "*Mesh Normals*" 36
        "*Duplication Indices*" 40
    }
}

proc ::qel_export::follow_start {} {
    variable track
    array unset track
    array set track {phase -1 start 0 share 100 measured 0 count 0 shown 0}
    variable percent 0
}

# Reads the host's status and progress value and moves the bar and the
# help line.  Called a few times a second while the export runs.
proc ::qel_export::follow {} {
    variable track
    variable percent
    variable help
    variable status_written
    # Until the export writes the status line, it holds an older text.
    set text ""
    if {[info exists status_written] && $status_written && [info exists ::molv::status]} {
        set text $::molv::status
    }
    set value [expr {[info exists ::molv::progress] ? $::molv::progress : 0}]
    if {![string is double -strict $value]} {set value 0}
    set value [expr {max(0.0, min(100.0, double($value)))}]
    set phase -1
    set place 0
    foreach {pattern at} [phases] {
        incr phase
        if {[string match $pattern $text]} {
            set place $at
            break
        }
    }
    if {$place == 0} {set phase -1}
    if {$phase >= 0} {
        if {$phase < $track(phase) && $phase <= 2} {
            # The next mesh: its share is guessed from the last one.
            set track(start) [expr {max($track(start), $value)}]
            set track(measured) 0
        }
        if {$phase > 2 && !$track(measured)} {
            set track(share) [expr {max(0.0, $value - $track(start))}]
            set track(measured) 1
        }
        if {[regexp {\( *([0-9]+) *%} $text -> done]} {
            # Merging the vertices: its own per cent.
            set place [expr {10 + min(100, $done) / 10.0}]
        } elseif {[regexp {Duplication.*\( *([0-9]+) *\)} $text -> left]} {
            # The duplication indices: the entries left.
            if {$phase != $track(phase) || $left > $track(count)} {set track(count) $left}
            if {$track(count) > 0} {
                set place [expr {40 + 60.0 * ($track(count) - $left) / $track(count)}]
            }
        }
        set track(phase) $phase
        set estimate [expr {($value + $track(start) + $place * $track(share) / 100.0) / 2}]
        set track(shown) [expr {max($track(shown), min(100.0, $estimate))}]
    }
    if {$text eq "Ready !"} {set track(shown) 100}
    set percent [expr {int($track(shown))}]
    set phase_text [regsub {^Export X File - } [string trim $text] ""]
    if {$phase_text eq ""} {set phase_text "Exporting ..."}
    set help "$phase_text   $percent %   Cancel stops the export."
}

proc ::qel_export::tick {} {
    variable busy
    variable ticking
    if {!$busy || ![winfo exists .x_export_save]} {
        set ticking ""
        return
    }
    follow
    set ticking [after 100 ::qel_export::tick]
}

# Notes that the host's status line was written during the export.
proc ::qel_export::status_written {args} {
    variable status_written 1
    trace remove variable ::molv::status write ::qel_export::status_written
}

# True when NAME.x, the file Export writes, is the file of the model that
# is open (by the host's scene_name; links and other spellings included).
proc ::qel_export::is_open_model {name} {
    if {![llength [info commands ::molv::gui::scene_name]]} {return 0}
    if {[catch {::molv::gui::scene_name} scene] || $scene eq ""} {return 0}
    if {[catch {file stat $name.x target}] || [catch {file stat $scene model}]} {return 0}
    return [expr {$target(dev) == $model(dev) && $target(ino) == $model(ino)}]
}

# Export (COMMAND "export") or Export as... (COMMAND "save_as").
proc ::qel_export::confirm {command} {
    variable busy
    variable status_written
    variable ticking
    set w .x_export_save
    # A second press while Tk works for the running export does nothing.
    if {$busy || ![winfo exists $w]} return
    set name [export_name]
    set options [option_string]
    # Export writes over a file of the name without asking, as it should,
    # unless that file is the model itself.
    if {$command eq "export" && [is_open_model $name]} {
        set answer [tk_messageBox -parent $w -icon warning -type yesno -default no \
            -title "Export" -message "[name_of $name.x] is the model that is open." \
            -detail "The export would replace it. Replace the model's file?"]
        if {$answer ne "yes"} return
    } elseif {$command eq "export" && $name ne "" && [file exists $name.x]} {
        # As Browse... asks.
        set answer [tk_messageBox -parent $w -icon warning -type yesno -default no \
            -title "Export" -message "[name_of $name.x] already exists." \
            -detail "Do you want to replace it?"]
        if {$answer ne "yes"} return
    }
    set ::qel_cancel 0
    follow_start
    set_busy $w 1
    set status_written 0
    set traced [namespace exists ::molv]
    if {$traced} {
        trace add variable ::molv::status write ::qel_export::status_written
    }
    set ticking [after 100 ::qel_export::tick]
    try {
        molv qel_save $command $name $options
    } finally {
        if {$traced} {
            trace remove variable ::molv::status write ::qel_export::status_written
        }
        after cancel $ticking
        set done [expr {$status_written && [info exists ::molv::status]
                        && $::molv::status eq "Ready !"}]
        # The plug-in destroys the dialog when the user cancels.
        if {[winfo exists $w]} {
            set_busy $w 0
            catch {grab release $w}
            if {$done} {destroy $w}
        } else {
            set busy 0
        }
    }
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
