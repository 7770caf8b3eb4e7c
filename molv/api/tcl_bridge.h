/*
 * The one Tcl interpreter of the process and what plug-ins register in it:
 * the `molv` command's subcommands and the export menu.  Every "update" a
 * plug-in runs passes through the host, which is where a cancel reaches
 * the plug-in (request_cancel, as the dialog's cancel button would).
 */
#ifndef MOLV_API_TCL_BRIDGE_H
#define MOLV_API_TCL_BRIDGE_H

#include <string>
#include <vector>

struct Tcl_Interp;
struct Tcl_Obj;

namespace molv {

// Creates the interpreter with the molv command.  Headless: the Tk commands
// a plug-in sends (wm, grab, destroy) are quiet no-ops.  With Tk: a real Tk
// main window (molv gui).
void tcl_start(bool with_tk);
void tcl_stop();
Tcl_Interp *tcl_interp();
// Evaluates at global level; returns the Tcl code, the result in *result.
int tcl_eval(const std::string &script, std::string *result = nullptr);
// A new Tcl string of TEXT, every byte of it (a NUL included).
Tcl_Obj *tcl_string(const std::string &text);

// The export menu's entries, as plug-ins added them.
struct MenuItem {
  std::string label;
  std::string tcl_text;
};
const std::vector<MenuItem> &export_menu();
// Every registration a plug-in made, in order, as "function|arg|arg...".
const std::vector<std::string> &registrations();

// Ctrl-C: the next "update" sets qel_cancel to 1.  Safe in a signal handler.
void request_cancel();

}  // namespace molv

#endif  // MOLV_API_TCL_BRIDGE_H
