/*
 * The qel_save command: one call is one complete export run, from the
 * option string the dialog passes to the closed file and the final status
 * line.
 */
#ifndef QEL_EXPORT_SAVE_COMMAND_H
#define QEL_EXPORT_SAVE_COMMAND_H

#include <string>

namespace qel {

class Output;

// The handler of "molv qel_save CMD NAME OPTIONS" (three words).
const char *qel_save_cmd(int argc, const char *const *argv);

// The writing phases of one run on an open output: pass 1, the header, the
// templates and the object tree, then the header patch.  The save command
// calls it between opening and closing the file; tests call it on an output
// they keep.  The per-export state must have been reset.  Leaves the run
// running when every phase went through: the caller completes it.
void export_to(Output &out);

// Inside a catch block: the message for the user about the exception in
// flight: "Out of memory !" for std::bad_alloc only, else what happened.
std::string exception_message();

}  // namespace qel

#endif  // QEL_EXPORT_SAVE_COMMAND_H
