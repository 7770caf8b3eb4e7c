/*
 * File > Open and the model of the command line off the event loop: the
 * model is read in a thread of its own while Tk keeps painting and
 * answering, and installed by the main thread once it is complete.  The
 * thread fills only its own record of the load (import/load.h); while it
 * runs, File > Open and the plug-ins' commands are refused.
 *
 * Tcl commands (::molv::gui::...):
 *   load_start FILE  starts reading FILE; an error when a load or an
 *                    export runs
 *   load_poll        {running SECONDS PERCENT} while it reads (PERCENT as
 *                    far as the reader tells; {cancelling ...} once
 *                    cancelled); then, once, {done},
 *                    {failed MESSAGE} or {cancelled} (the earlier
 *                    model stays)
 *   load_cancel      the load's result will be dropped; the reader's
 *                    child is ended
 *   loading          1 from load_start until load_poll has said how it ended
 */
#ifndef MOLV_GUI_BACKGROUND_LOAD_H
#define MOLV_GUI_BACKGROUND_LOAD_H

#include <tcl.h>

#include <functional>
#include <string>

#include "import/load.h"

namespace molv {
namespace gui {

using LoadFunction = std::function<Load(const std::string &file, const LoadWatch &watch)>;

// LOAD reads a file (in the loading thread); ON_DONE runs on the main
// thread after a complete load with its record; BUSY tells whether an
// export runs.
void create_load_commands(Tcl_Interp *interp, LoadFunction load,
                          std::function<void(Load &)> on_done, bool (*busy)());

// True while a load runs (its thread, or its result not yet taken).
bool load_running();

// Waits for a running load's thread and drops its result (the window is
// closing).
void finish_load();

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_BACKGROUND_LOAD_H
