/*
 * The window's read-back of an export off the event loop: the check of
 * molv export --verify (common/verify.h) runs in a thread of its own while
 * Tk keeps painting and answering, and the picture of the .x the view
 * shows is made from the same reading as the verdict.  While it runs the
 * model must not change: exports and loads are refused (verify_running).
 *
 * Tcl commands (::molv::gui::...):
 *   verify_start FILE OPTIONS  reads FILE back, written under OPTIONS; an
 *                    error when a check, a load or an export runs
 *   verify_poll      {running PERCENT} while it reads and compares; then,
 *                    once, {done AGREES VERDICT EXPECTED REAL} (the view's
 *                    export picture replaced; EXPECTED and REAL the lines
 *                    of each kind of difference), {failed MESSAGE} or
 *                    {cancelled}; {idle} when none ran.  Once it has
 *                    ended, ::molv::gui::wrote holds the file's summary
 *                    ("Wrote FILE (SIZE): ..."; "" when it cannot be
 *                    counted)
 *   verify_cancel    the check stops at its next step and says nothing
 *   verifying        1 from verify_start until verify_poll has said how it
 *                    ended
 */
#ifndef MOLV_GUI_BACKGROUND_VERIFY_H
#define MOLV_GUI_BACKGROUND_VERIFY_H

#include <tcl.h>

namespace molv {
namespace gui {

// BUSY tells whether an export or a load runs.
void create_verify_commands(Tcl_Interp *interp, bool (*busy)());

// True while a check runs (its thread, or its result not yet taken).
bool verify_running();

// Stops a running check and waits for its thread (the window is closing).
void finish_verify();

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_BACKGROUND_VERIFY_H
