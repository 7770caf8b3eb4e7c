/*
 * The save command: one call is one complete export run, from the options
 * the entry point hands over to the closed file and the final status line.
 * It makes the run object and hands it to pass 1 and every writer.
 */
#ifndef QEL_EXPORT_SAVE_COMMAND_H
#define QEL_EXPORT_SAVE_COMMAND_H

#include <string>

#include "core/options.h"

namespace qel {

class ExportRun;

// What one "molv qel_save CMD NAME OPTIONS" asks for, as the entry point
// passes it on.
struct SaveRequest {
  const char *command;  // "save_as" asks for the file name; anything else writes NAME.x
  const char *name;     // the name without ".x"; empty asks for one
  Options options;      // the options of the run
  const char *plugin_version;
  // Called when the file of a complete run is in place, before the end is
  // shown: the entry point remembers the options (null: nothing to call).
  int (*remember_options)();
};

// A save command is under way: a second one, or the dialog, from an event
// processed during it must not start (they would share its output and the
// options it started from).
bool save_in_progress();

// The whole save command.  No exception leaves it: one thrown outside the
// writing phases ends the save as failed, too.
void save_command(const SaveRequest &request);

// The writing phases of one run on its output: pass 1, the header, the
// templates and the object tree, then the header patch.  The save command
// calls it between opening and closing the file; tests call it on a run
// that writes into a string.  Leaves the run running when every phase
// went through: the caller completes it.
void export_to(ExportRun &run);

// Inside a catch block: the message for the user about the exception in
// flight: "Out of memory !" for std::bad_alloc only, else what happened.
std::string exception_message();

}  // namespace qel

#endif  // QEL_EXPORT_SAVE_COMMAND_H
