/*
 * File > Open and the model of the command line off the event loop: the
 * model is read in a thread of its own
 * while Tk keeps painting and answering, and installed by the main thread
 * once it is complete.  While a load runs the main thread leaves the
 * process's model alone (the window draws from its own copies; File > Open
 * and the plug-ins' commands are refused), as the thread fills it.
 *
 * Tcl commands (::molv::gui::...):
 *   load_start FILE  starts reading FILE; an error when a load or an
 *                    export runs
 *   load_poll        {running SECONDS PERCENT} while it reads (PERCENT as
 *                    far as the reader tells; {cancelling ...} once
 *                    cancelled); then, once, {done},
 *                    {failed MESSAGE} (the earlier model back) or
 *                    {cancelled} (the earlier model back)
 *   load_cancel      the load's result will be dropped; the earlier model
 *                    comes back as soon as the reader returns
 *   loading          1 from load_start until load_poll has said how it ended
 */
#ifndef MOLV_GUI_BACKGROUND_LOAD_H
#define MOLV_GUI_BACKGROUND_LOAD_H

#include <tcl.h>

#include <functional>
#include <string>

namespace molv {
namespace gui {

using LoadFunction = std::function<bool(const std::string &file, std::string *error)>;

// LOAD reads a file into the process's model (in the loading thread);
// ON_DONE runs on the main thread after a complete load with its file;
// BUSY tells whether an export runs.
void create_load_commands(Tcl_Interp *interp, LoadFunction load,
                          std::function<void(const std::string &)> on_done, bool (*busy)());

// True while a load runs (its thread, or its result not yet taken).
bool load_running();

// Waits for a running load's thread and drops its result (the window is
// closing).
void finish_load();

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_BACKGROUND_LOAD_H
