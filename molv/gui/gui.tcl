# The molv window (molv gui): the Tk side.  gui.cpp compiles this file in,
# evaluates it once Tk runs, and provides the commands it calls:
#
#   ::molv::gui::model_rows     the object tree, one row per object in tree
#                               order: {id parent type name vertices surfaces}
#   ::molv::gui::load_file FILE replaces the model by a scene or model file;
#                               an error (the model kept) says why
#   ::molv::gui::scene_name     the name of the loaded file ("" for the sample)
#   ::molv::gui::export_entries the plug-ins' export menu: {label script} pairs
#   ::molv::gui::busy           1 while a plug-in command runs (an export)
#   ::molv::gui::cancel_export  asks the running export to stop, as Ctrl-C does
#   ::molv::gui::open_types     the file types File > Open offers
#   ::molv::gui::x_summary FILE what a written .x holds, in one line
#   ::molv::gui::load_warnings  what the load of the open model had to say
#   ::molv::gui::texture_warnings FILE  textures a written .x names that are not beside it,
#                               and what the export's textures had to say
#   ::molv::gui::load_start, load_poll, load_cancel, loading
#                               File > Open and the model of the command
#                               line in a thread (gui/background_load.h)
#   ::molv::gui::verify_start, verify_poll, verify_cancel, verifying
#                               the read-back of an export in a thread
#                               (gui/background_verify.h); a script waits
#                               for its verdict with wait_check
#   ::molv::gui::view ...       the 3D view (gui/view.h)
#
# The model of the command line is read as File > Open reads (begin_load):
# the window is up at once and answers while it loads; a --script runs
# once it is in (or the load was cancelled), and a model that cannot be
# read ends molv as a bad scene does.  ::molv::gui::load_polls says how
# often the window answered while the last load ran.
#
# The status line shows ::molv::status and the progress bar
# ::molv::progress; the host sets both for the plug-in.  A plug-in's dialog
# may read them too (the export dialog follows the export with them and
# takes a last status "Ready !" as a complete export), and scene_name for
# the file it proposes.
#
# Window names, for scripts (molv gui --script):
#   .menubar.file (Open..., Export, Quit), .menubar.file.export (the
#   plug-ins' entries, then the check buttons of ::molv::gui::extract_textures
#   and ::molv::gui::copy_textures),
#   .summary, .warnings (what the load had to say, one line each),
#   .textures.extract and .textures.copy (the texture choices under them,
#   where they help), .panes (the view above the list, a sash between),
#   .tree, .status (elided in the middle, the whole line in a tooltip:
#   ::molv::gui::show_tooltip W shows it at once), .progress, .cancel
#   (during a load), .scene.gl (the 3D view),
#   .scene.bar.model, .scene.bar.export, .scene.bar.both, .scene.bar.frame
#   (what it shows), .scene.agreement (the line under it)

namespace eval ::molv::gui {}

proc ::molv::gui::build {} {
    theme
    wm title . molv
    wm protocol . WM_DELETE_WINDOW ::molv::gui::quit
    option add *Menu.tearOff 0

    menu .menubar
    . configure -menu .menubar
    menu .menubar.file
    .menubar add cascade -label File -underline 0 -menu .menubar.file
    .menubar.file add command -label "Open..." -underline 0 -accelerator Ctrl+O \
        -command ::molv::gui::open_file
    menu .menubar.file.export
    .menubar.file add cascade -label Export -underline 0 -menu .menubar.file.export
    .menubar.file add separator
    .menubar.file add command -label Quit -underline 0 -accelerator Ctrl+Q \
        -command ::molv::gui::quit
    bind . <Control-o> ::molv::gui::open_file
    bind . <Control-q> ::molv::gui::quit

    ttk::label .summary -anchor w -padding {10 6}
    ttk::label .warnings -anchor w -padding {10 0 10 6} -foreground #9a5800 -justify left
    wrap_to_width .summary
    wrap_to_width .warnings
    ttk::panedwindow .panes -orient vertical
    ttk::frame .view
    ttk::treeview .tree -columns {type vertices surfaces} -selectmode browse \
        -yscrollcommand {.view.scroll set}
    ttk::scrollbar .view.scroll -orient vertical -command {.tree yview}
    .tree heading #0 -text Name -anchor w
    .tree heading type -text Type -anchor w
    .tree heading vertices -text Vertices -anchor e
    .tree heading surfaces -text Surfaces -anchor e
    # The counts next to the names: a dialog at the right edge of a narrow
    # screen (1024 wide) covers only the types.
    .tree configure -displaycolumns {vertices surfaces type}
    # A name of 24 letters whole in the window's first width; the names
    # and the types grow with the window.
    set count [expr {[font measure TkHeadingFont "Surfaces"] + 24}]
    .tree column #0 -width 260 -minwidth 80 -stretch 1
    .tree column type -width 120 -minwidth 60 -stretch 1
    .tree column vertices -width $count -minwidth 50 -anchor e -stretch 0
    .tree column surfaces -width $count -minwidth 50 -anchor e -stretch 0
    pack .view.scroll -side right -fill y
    pack .tree -in .view -side left -fill both -expand 1
    .tree configure -height 6
    bind .tree <<TreeviewSelect>> ::molv::gui::selected
    build_view

    ttk::frame .bottom
    # The status line elided in the middle when it is too long, the whole
    # line in a tooltip.
    ttk::label .status -anchor w -relief sunken -padding 2
    trace add variable ::molv::status write ::molv::gui::show_status
    bind .status <Configure> ::molv::gui::show_status
    show_status
    ttk::progressbar .progress -variable ::molv::gui::bar -maximum 100 -length 160
    namespace eval ::qel_export {}
    trace add variable ::molv::progress write ::molv::gui::follow_bar
    trace add variable ::qel_export::percent write ::molv::gui::follow_bar
    follow_bar
    ttk::button .cancel -text Cancel -command ::molv::gui::cancel_load
    # The bar is as tall as Cancel from the start: Cancel coming and going
    # would resize the view, and a frame of a large model drawn in
    # software holds the window.
    frame .bottom.strut -width 0 -height [winfo reqheight .cancel]
    pack .bottom.strut -side right
    pack .progress -in .bottom -side right -padx 4 -pady 2
    pack .status -in .bottom -side left -fill x -expand 1

    # The view and the list share the room the panels leave; the sash
    # between them moves.
    .panes add .scene -weight 3
    .panes add .view -weight 1
    pack .bottom -side bottom -fill x
    pack .summary -side top -fill x
    pack .panes -side top -fill both -expand 1 -padx 8 -pady {0 6}
    wm minsize . 420 360
    # Left of the middle, with room on its right for a plug-in's dialog of
    # about its own width (on a screen of 1280 or more).
    set x [expr {max(0, ([winfo screenwidth .] - 1270) / 2)}]
    set height [expr {min(740, [winfo screenheight .] - 60)}]
    set y [expr {max(0, ([winfo screenheight .] - $height) / 3)}]
    wm geometry . 600x$height+$x+$y

    fill_export_menu
    show_model
}

# The themed look for the window and the plug-ins' dialogs: clam, and its
# colours for the classic Tk widgets too (menus, message boxes, the file
# choosers).
proc ::molv::gui::theme {} {
    if {"clam" ni [ttk::style theme names]} return
    ttk::style theme use clam
    tk_setPalette background [ttk::style lookup . -background] \
        selectBackground [ttk::style lookup . -selectbackground] \
        selectForeground [ttk::style lookup . -selectforeground]
}

# The plug-ins' export entries (a menu that says so when there are none),
# and the choices for the textures, kept for the session.
set ::molv::gui::extract_textures 0
set ::molv::gui::copy_textures 0
proc ::molv::gui::fill_export_menu {} {
    .menubar.file.export delete 0 end
    set entries [export_entries]
    foreach entry $entries {
        lassign $entry label script
        .menubar.file.export add command -label $label \
            -command [list ::molv::gui::run_entry $label $script]
    }
    if {![llength $entries]} {
        .menubar.file.export add command -label "(no plug-in)" -state disabled
    }
    # What an export writes besides the .x, as molv export's
    # --extract-textures and --copy-textures (gui/export_textures.h).
    .menubar.file.export add separator
    .menubar.file.export add checkbutton -label "Extract embedded textures" \
        -variable ::molv::gui::extract_textures
    .menubar.file.export add checkbutton -label "Copy textures beside the .x" \
        -variable ::molv::gui::copy_textures
}

# The window's bar: while the export dialog follows an export, the figure
# it shows (the plug-in's own value weighed with the phases of each mesh),
# so that the two bars never disagree; else the host's progress value.
proc ::molv::gui::follow_bar {args} {
    if {[info exists ::qel_export::busy] && $::qel_export::busy &&
            [info exists ::qel_export::percent]} {
        set ::molv::gui::bar $::qel_export::percent
    } else {
        set ::molv::gui::bar [expr {[info exists ::molv::progress] ? $::molv::progress : 0}]
    }
}

# A plug-in's menu entry; what fails is said in a message, not as a
# background error.  While it runs, the current folder is the model's, so
# that a dialog proposing its file "here" proposes it beside the model
# (where the textures the model names are); the window's own folder is back
# once the entry has run.
proc ::molv::gui::run_entry {label script} {
    stop_check
    if {[loading]} {
        show_message "A model is loading: let it finish or cancel it first."
        return
    }
    clear_outcome
    set here [pwd]
    set folder [model_folder]
    if {$folder ne ""} {catch {cd $folder}}
    try {
        if {[catch {uplevel #0 $script} message]} {
            show_message "$label: $message"
        }
    } finally {
        catch {cd $here}
    }
}

# The folder of the loaded file, "" for the sample or a folder that has gone.
proc ::molv::gui::model_folder {} {
    set name [scene_name]
    if {$name eq ""} {return ""}
    set folder [file dirname [file normalize $name]]
    return [expr {[file isdirectory $folder] ? $folder : ""}]
}

# The loaded model in the tree, the summary and the title.
proc ::molv::gui::show_model {} {
    .tree delete [.tree children {}]
    set ids {}
    foreach row [model_rows] {
        lassign $row id parent type name vertices surfaces
        lappend ids $id
        if {$name eq ""} {set name "(no name)"}
        # The world is open, so its children show; deeper groups open on a
        # click.
        .tree insert $parent end -id $id -text $name \
            -values [list $type $vertices $surfaces] -open [expr {$parent eq ""}]
    }
    # A group counts everything below it.
    foreach item [lreverse $ids] {
        set parent [.tree parent $item]
        if {$parent eq ""} continue
        lassign [.tree item $parent -values] type v s
        lassign [.tree item $item -values] - cv cs
        if {$type in {group world}} {
            .tree item $parent -values [list $type [expr {$v + $cv}] [expr {$s + $cs}]]
        }
    }
    show_warnings {}
    set first [lindex [.tree children {}] 0]
    if {$first ne ""} {
        .tree selection set $first
        .tree focus $first
    }
    .summary configure -text [string map {"\n" "    "} [string trim [molv get_info]]]
    set name [scene_name]
    view build $name
    set ::molv::gui::showing model
    .scene.agreement configure -text ""
    foreach b {export both} {.scene.bar.$b state disabled}
    wm title . [expr {$name eq "" ? "molv - sample" : "molv - [name_of $name]"}]
}

# What the status line says once NAME is in: its objects, vertices and
# surfaces, and the size of its box.
proc ::molv::gui::opened_line {name} {
    set objects [expr {[llength [.tree children {}]] ? [count_rows {}] - 1 : 0}]
    set world [lindex [.tree children {}] 0]
    lassign [expr {$world eq "" ? {- 0 0} : [.tree item $world -values]}] - vertices surfaces
    set line "Opened $name: [counted $objects object objects],\
        [counted $vertices vertex vertices], [counted $surfaces surface surfaces]"
    set size [view size]
    if {[llength $size]} {
        append line "; size [join [lmap d $size {format %.4g $d}] { x }] (x y z)"
    }
    return $line
}

proc ::molv::gui::count_rows {item} {
    set count [llength [.tree children $item]]
    foreach child [.tree children $item] {incr count [count_rows $child]}
    return $count
}

# "1 vertex", "12,345 vertices".
proc ::molv::gui::counted {n one many} {
    set digits $n
    while {[regsub {^(\d+)(\d{3})} $digits {\1,\2} digits]} {}
    return "$digits [expr {$n == 1 ? $one : $many}]"
}

# The last part of a file name as written ("~m.x" of "./~m.x", where
# Tcl's file tail keeps the "./" of a name that begins with "~").
proc ::molv::gui::name_of {file} {
    regsub {^.*/} $file {}
}

proc ::molv::gui::open_file {} {
    stop_check
    if {[busy]} {
        show_message "An export is running: let it finish or cancel it first."
        return
    }
    if {[loading]} {
        show_message "A model is loading: let it finish or cancel it first."
        return
    }
    clear_outcome
    set args [list -parent . -title "Open" -filetypes [open_types]]
    set current [scene_name]
    if {$current ne "" && [file isdirectory [file dirname $current]]} {
        lappend args -initialdir [file dirname $current]
    }
    set file [tk_getOpenFile {*}$args]
    if {$file eq ""} return
    # A name as Tk's chooser gives it; "~" is a file name, not a home.
    if {[string match ~* $file]} {set file ./$file}
    load_model $file
}

# Reads FILE off the event loop: the window keeps painting and answering,
# the status line says how long the read has taken, Cancel (or Escape)
# keeps the model that was open.  Returns once the load has ended.
proc ::molv::gui::load_model {file} {
    if {[catch {begin_load $file} why]} {
        show_message $why
        return
    }
    vwait ::molv::gui::load_ended
}

# Starts reading FILE and returns at once; the reading is followed by
# events (poll_load), and ::molv::gui::load_ended is set to how it ended.
# STARTUP: the model of the command line, whose failure is said in the
# status line and the panel (and on standard error) rather than in a
# message, and which leaves the status line as it was when it is in.
proc ::molv::gui::begin_load {file {startup 0}} {
    load_start $file
    variable load_polls 0
    set size ""
    catch {set size " ([format %.1f [expr {[file size $file] / 1e6}]] MB)"}
    variable reading [list $file [name_of $file] $size $startup $::molv::status]
    set ::molv::status "Loading [name_of $file]$size ..."
    .progress configure -mode indeterminate
    .progress start 20
    pack .cancel -in .bottom -side right -before .progress -padx 2
    bind . <Escape> ::molv::gui::cancel_load
    after 5 ::molv::gui::poll_load
}

proc ::molv::gui::poll_load {} {
    variable reading
    lassign $reading file name size startup before
    lassign [load_poll] state detail percent
    if {$state eq "running"} {
        variable load_polls
        incr load_polls
        set ::molv::status "Loading $name$size ... $percent %, [format %.1f $detail] s"
        after 100 ::molv::gui::poll_load
        return
    }
    if {$state eq "cancelling"} {
        # The reader's child is being ended; the earlier model comes back
        # once the thread has let go of it.
        set ::molv::status "Cancelling the load of $name ..."
        after 50 ::molv::gui::poll_load
        return
    }
    bind . <Escape> {}
    pack forget .cancel
    .progress stop
    .progress configure -mode determinate
    set ::molv::progress 0
    switch -- $state {
        done {
            show_model
            set ::molv::status [opened_line $name]
        }
        failed {
            if {$startup} {
                # molv ends as for a bad scene (gui.cpp).
                variable start_failed 1
                puts stderr "molv: $detail"
            } else {
                set ::molv::status ""
                show_message $detail
            }
        }
        default {
            set ::molv::status "Loading $name cancelled; the model stays as it was"
        }
    }
    set ::molv::gui::load_ended $state
}

# Returns once no model is loading, the event loop running meanwhile: the
# window waits so for the model of the command line before a --script.
proc ::molv::gui::wait_load {} {
    while {[loading]} {
        after 20 {set ::molv::gui::tick 1}
        vwait ::molv::gui::tick
    }
}

proc ::molv::gui::cancel_load {} {
    load_cancel
}

# tk_getSaveFile for the plug-in's file chooser: TITLE and FILTERS, a list
# of description and pattern pairs.  Returns "" when the user cancels.
proc ::molv::gui::choose_save_file {title filters} {
    set types {}
    foreach {description pattern} $filters {
        lappend types [list $description $pattern]
    }
    set args [list -parent [dialog_parent] -title $title]
    set folder [model_folder]
    if {$folder ne ""} {lappend args -initialdir $folder}
    if {[llength $types]} {
        lappend args -filetypes $types
        # A name typed without extension gets the first filter's.
        set first [lindex $types 0 1]
        if {[string match {.[A-Za-z0-9]*} $first]} {
            lappend args -defaultextension $first
        }
    }
    return [tk_getSaveFile {*}$args]
}

# The plug-in's modal message.
proc ::molv::gui::show_message {text} {
    tk_messageBox -parent [dialog_parent] -title molv -icon warning -message $text
}

# The toplevel the user works in: a plug-in's dialog when it has the focus.
proc ::molv::gui::dialog_parent {} {
    set focus [focus]
    if {$focus ne "" && [winfo exists $focus]} {
        return [winfo toplevel $focus]
    }
    return .
}

# Quit: a running export is cancelled first, and molv ends once it has
# cleaned up.
proc ::molv::gui::quit {} {
    if {[verifying]} {
        verify_cancel
        after 50 ::molv::gui::quit
        return
    }
    if {[loading]} {
        load_cancel
        after 50 ::molv::gui::quit
        return
    }
    if {[busy]} {
        cancel_export
        after 50 ::molv::gui::quit
        return
    }
    destroy .
}

# ---- text that fits ------------------------------------------------------------

# A label whose lines wrap between words at its width (a little inside
# it: a line as wide as the room makes the label ask for more than it has,
# and lose its last letters).
proc ::molv::gui::wrap_to_width {w} {
    bind $w <Configure> {%W configure -wraplength [expr {max(40, %w - 36)}]}
}

proc ::molv::gui::show_status {args} {
    fit_text .status [expr {[info exists ::molv::status] ? $::molv::status : ""}]
}

# TEXT in the label W, elided in the middle when it is wider than W (the
# start and the end of a file name and the counts after it stay); the whole
# text is then the label's tooltip.
proc ::molv::gui::fit_text {w text} {
    if {![winfo exists $w]} return
    set font [ttk::style lookup [winfo class $w] -font]
    if {$font eq ""} {set font TkDefaultFont}
    set room [expr {[winfo width $w] - 12}]
    if {[winfo width $w] <= 1 || [font measure $font $text] <= $room} {
        $w configure -text $text
        set_tooltip $w ""
        return
    }
    # The most characters that fit, found by halving.
    set low 0
    set high [string length $text]
    while {$low < $high} {
        set middle [expr {($low + $high + 1) / 2}]
        if {[font measure $font [elide $text $middle]] <= $room} {
            set low $middle
        } else {
            set high [expr {$middle - 1}]
        }
    }
    $w configure -text [elide $text $low]
    set_tooltip $w $text
}

# TEXT with KEEP of its characters: the first half and the last, an
# ellipsis between them.
proc ::molv::gui::elide {text keep} {
    set head [expr {($keep + 1) / 2}]
    set tail [expr {$keep - $head}]
    set end [expr {$tail > 0 ? [string range $text end-[expr {$tail - 1}] end] : ""}]
    return "[string range $text 0 [expr {$head - 1}]]\u2026$end"
}

# The tooltip of W: TEXT shown half a second after the pointer comes in,
# gone when it leaves; "" none.
proc ::molv::gui::set_tooltip {w text} {
    variable tooltips
    if {$text eq ""} {
        unset -nocomplain tooltips($w)
        return
    }
    set tooltips($w) $text
    bind $w <Enter> [list ::molv::gui::tooltip_soon $w]
    bind $w <Leave> ::molv::gui::hide_tooltip
}

proc ::molv::gui::tooltip_soon {w} {
    variable tooltip_job
    catch {after cancel $tooltip_job}
    set tooltip_job [after 500 [list ::molv::gui::show_tooltip $w]]
}

proc ::molv::gui::show_tooltip {w} {
    variable tooltips
    hide_tooltip
    if {![info exists tooltips($w)] || ![winfo exists $w]} return
    toplevel .tooltip -borderwidth 0
    wm overrideredirect .tooltip 1
    label .tooltip.text -text $tooltips($w) -justify left -background #ffffe1 \
        -foreground black -relief solid -borderwidth 1 -padx 4 -pady 2 \
        -wraplength [expr {min(700, [winfo screenwidth $w] - 40)}]
    pack .tooltip.text
    update idletasks
    # Under the pointer, inside the screen.
    set x [expr {min([winfo pointerx $w] + 8,
                     [winfo screenwidth $w] - [winfo reqwidth .tooltip] - 4)}]
    set y [expr {[winfo pointery $w] + 18}]
    if {$y + [winfo reqheight .tooltip] > [winfo screenheight $w]} {
        set y [expr {[winfo pointery $w] - [winfo reqheight .tooltip] - 8}]
    }
    wm geometry .tooltip +[expr {max(0, $x)}]+[expr {max(0, $y)}]
}

proc ::molv::gui::hide_tooltip {} {
    variable tooltip_job
    catch {after cancel $tooltip_job}
    destroy .tooltip
}

# ---- the 3D view ----------------------------------------------------------------

# The view, the buttons above it and the line under it.  Left button turns
# the model, the middle button (or Shift and the left) moves it, the right
# button or the wheel brings it closer; F frames the whole model, X
# switches between the model and the exported file, B shows them side by
# side.
proc ::molv::gui::build_view {} {
    package require Togl 2.0
    # Textures in JPEG and TGA files too where Tk's Img package is there.
    foreach format {jpeg tga} {catch {package require img::$format}}
    ttk::frame .scene
    ttk::frame .scene.bar
    ttk::radiobutton .scene.bar.model -text Model -value model \
        -variable ::molv::gui::showing -command ::molv::gui::show -style Toolbutton
    ttk::radiobutton .scene.bar.export -text ".x as read back" -value export \
        -variable ::molv::gui::showing -command ::molv::gui::show -style Toolbutton
    ttk::radiobutton .scene.bar.both -text "Side by side" -value both \
        -variable ::molv::gui::showing -command ::molv::gui::show -style Toolbutton
    ttk::button .scene.bar.frame -text "Frame (F)" -command {::molv::gui::view frame} \
        -style Toolbutton
    pack .scene.bar.model .scene.bar.export .scene.bar.both -side left
    pack .scene.bar.frame -side right
    # The stencil buffer holds what each object covers, for the outline of
    # the chosen one; a display without one still shows the model.
    set options {-width 480 -height 360 -rgba true -double true -depth true
        -createcommand ::molv::gui::view_create -displaycommand ::molv::gui::view_display}
    if {[catch {togl .scene.gl {*}$options -stencil true}]} {
        catch {destroy .scene.gl}
        togl .scene.gl {*}$options
    }
    # Three lines always (the verdict, wrapped, and what the options asked
    # for): a line more or less would resize the view, and a frame of a
    # large model drawn in software holds the window.  Nor may a long line
    # widen the window.
    label .scene.agreement -anchor w -justify left -height 3 -width 1 -padx 2 -pady 2
    set background [ttk::style lookup TFrame -background]
    if {$background ne ""} {.scene.agreement configure -background $background}
    wrap_to_width .scene.agreement
    pack .scene.bar -side top -fill x -pady {0 2}
    pack .scene.agreement -side bottom -fill x
    pack .scene.gl -side top -fill both -expand 1
    set ::molv::gui::showing model

    bind .scene.gl <ButtonPress> {
        focus %W
        ::molv::gui::clear_outcome
        set ::molv::gui::last [list %x %y]
    }
    bind .scene.gl <B1-Motion> {::molv::gui::drag orbit %x %y}
    bind .scene.gl <Shift-B1-Motion> {::molv::gui::drag pan %x %y}
    bind .scene.gl <B2-Motion> {::molv::gui::drag pan %x %y}
    bind .scene.gl <B3-Motion> {::molv::gui::drag zoom %x %y}
    bind .scene.gl <Button-4> {::molv::gui::view zoom 0.9}
    bind .scene.gl <Button-5> {::molv::gui::view zoom 1.1}
    bind .scene.gl <MouseWheel> {::molv::gui::view zoom [expr {%D > 0 ? 0.9 : 1.1}]}
    # The keys work wherever the window has the focus but in a text field.
    foreach {key script} {
        f {::molv::gui::view frame}
        x {::molv::gui::toggle export}
        b {::molv::gui::toggle both}
    } {
        bind . <Key-$key> [list ::molv::gui::key %W $script]
        bind . <Key-[string toupper $key]> [list ::molv::gui::key %W $script]
    }
}

proc ::molv::gui::key {w script} {
    if {[winfo class $w] in {TEntry Entry TSpinbox Spinbox Text}} return
    uplevel #0 $script
}

proc ::molv::gui::drag {how x y} {
    lassign $::molv::gui::last x0 y0
    set ::molv::gui::last [list $x $y]
    set dx [expr {$x - $x0}]
    set dy [expr {$y - $y0}]
    if {$how eq "zoom"} {
        view zoom [expr {exp($dy * 0.01)}]
    } else {
        view $how $dx $dy
    }
}

proc ::molv::gui::show {} {
    view show $::molv::gui::showing
    set ::molv::gui::showing [view showing]
}

# X and B: the export (or both) and back to the model.
proc ::molv::gui::toggle {what} {
    set ::molv::gui::showing [expr {$::molv::gui::showing eq $what ? "model" : $what}]
    show
}

# A failed or cancelled export is said once: the next action clears it.
proc ::molv::gui::clear_outcome {} {
    if {[string match {\*\*\* * \*\*\*} $::molv::status]} {set ::molv::status ""}
}

# The object chosen in the list, highlighted in the view.
proc ::molv::gui::selected {} {
    clear_outcome
    set item [lindex [.tree selection] 0]
    view select [expr {[string match o* $item] ? [string range $item 1 end] : -1}]
}

# What the load of the open model had to say and what the last export
# has to say (EXPORTED), one line each, as the command line says them,
# after ERRORS (lines as they are); the panel is there only when there is
# something to say.
proc ::molv::gui::show_warnings {exported {errors {}}} {
    set lines $errors
    foreach line [concat [load_warnings] $exported] {lappend lines "warning: $line"}
    # A long list leaves the view its room: the first lines, and the whole
    # list in the panel's tooltip.
    set_tooltip .warnings ""
    if {[llength $lines] > 3} {
        set_tooltip .warnings [join $lines \n]
        set more [expr {[llength $lines] - 2}]
        set lines [lreplace $lines 2 end "... and $more more (point here for all)"]
    }
    .warnings configure -text [join $lines \n]
    if {[llength $lines]} {
        pack .warnings -side top -fill x -after .summary
    } else {
        pack forget .warnings
    }
    offer_texture_choices [expr {[llength $exported] > 0}]
}

# Under the warnings, the texture choices for the next export where they
# help: Extract when the model embeds images, Copy once an export names
# textures that are not beside it (MISSING).  The Export menu holds them
# too.
proc ::molv::gui::offer_texture_choices {missing} {
    if {![winfo exists .textures]} {
        ttk::frame .textures -padding {10 0 10 6}
        ttk::checkbutton .textures.extract -variable ::molv::gui::extract_textures \
            -text "Extract textures: write the embedded images beside the .x at the next export"
        ttk::checkbutton .textures.copy -variable ::molv::gui::copy_textures \
            -text "Copy textures: put the texture files beside the .x at the next export"
    }
    pack forget .textures.extract .textures.copy
    if {[embedded_textures] > 0} {pack .textures.extract -side top -anchor w}
    if {$missing || $::molv::gui::copy_textures} {pack .textures.copy -side top -anchor w}
    if {[llength [pack slaves .textures]]} {
        pack .textures -side top -fill x -after [expr {[winfo manager .warnings] eq "pack" ? ".warnings" : ".summary"}]
    } else {
        pack forget .textures
    }
}

# A complete export of FILE, written under OPTIONS: what it holds in the
# status line, then the check of molv export --verify in a thread
# (poll_check), with the status line and the bar following it; the view's
# picture of the .x comes from the same reading as the verdict under it.
proc ::molv::gui::exported {file options} {
    show_warnings [texture_warnings $file]
    # The earlier picture is not this file's.
    view forget_export
    set ::molv::gui::showing [view showing]
    foreach b {export both} {.scene.bar.$b state disabled}
    .scene.agreement configure -text "Reading [name_of $file] back ..." -foreground #505050
    if {[catch {verify_start $file $options} result]} {
        if {[catch {x_summary $file} ::molv::status]} {set ::molv::status ""}
        .scene.agreement configure -text "The .x could not be read back: $result" \
            -foreground #a00000
        return
    }
    variable checking $file
    set ::molv::status "Reading [name_of $file] back ..."
    .cancel configure -command ::molv::gui::verify_cancel
    pack .cancel -in .bottom -side right -before .progress -padx 2
    bind . <Escape> ::molv::gui::verify_cancel
    after 20 ::molv::gui::poll_check
}

proc ::molv::gui::poll_check {} {
    variable checking
    set file $checking
    set result [verify_poll]
    lassign $result state detail
    if {$state eq "running"} {
        set ::molv::progress $detail
        set ::molv::status "Reading [name_of $file] back ... $detail %"
        after 50 ::molv::gui::poll_check
        return
    }
    bind . <Escape> {}
    pack forget .cancel
    .cancel configure -command ::molv::gui::cancel_load
    set ::molv::progress 0
    set ::molv::status $::molv::gui::wrote
    switch -- $state {
        done {
            lassign $result state agrees verdict expected real
            set lines [list $verdict]
            if {[llength $expected]} {lappend lines "As the options ask: [join $expected {; }]"}
            .scene.agreement configure -text [join $lines \n] \
                -foreground [expr {$agrees ? "#006000" : "#a00000"}]
            foreach b {export both} {.scene.bar.$b state !disabled}
        }
        failed {
            .scene.agreement configure -text "The .x could not be read back: $detail" \
                -foreground #a00000
        }
        default {
            .scene.agreement configure -text "The read-back of [name_of $file] was cancelled" \
                -foreground #505050
        }
    }
    set ::molv::gui::check_ended $state
}

# Returns once no read-back runs, the event loop running meanwhile (a
# script waits so for the verdict after an export); STOP stops it first.
proc ::molv::gui::wait_check {{stop 0}} {
    # The read-back of an export that has just ended starts when idle.
    update idletasks
    if {$stop && [verifying]} {verify_cancel}
    while {[verifying]} {
        after 20 {set ::molv::gui::tick 1}
        vwait ::molv::gui::tick
    }
}

proc ::molv::gui::stop_check {} {wait_check 1}
