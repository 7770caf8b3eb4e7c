/*
 * Ctrl-C, SIGTERM and SIGHUP while a plug-in exports.  Each of them cancels
 * the export as the dialog's cancel button does, so the plug-in removes its
 * partial file and keeps an earlier one; once the export has stopped, molv
 * ends as the signal ends a program (a first Ctrl-C only cancels).  Without
 * an export running they end molv at once.
 */
#ifndef MOLV_SIGNALS_H
#define MOLV_SIGNALS_H

#include <string>

namespace molv {

// Installs the handlers.
void catch_ending_signals();
// Back to the default handling.
void release_ending_signals();

// FOLDER, a folder of the run's own (empty: none), is emptied and removed
// by the handler itself when a signal ends molv, so that nothing the run
// made outlives it.  Also makes the handlers take such a signal now.
void remove_when_ended(const std::string &folder);

// An export runs from begin_export() to end_export(); end_export() ends the
// program when a signal asked for that meanwhile.
void begin_export();
void end_export();

// Whether a signal asked the export to stop (a Ctrl-C, SIGTERM, SIGHUP)
// since begin_export(): a model being read stops at once.
bool stop_asked();

// The signal that stops the export, when it is to end molv too (SIGTERM,
// SIGHUP, a second Ctrl-C); 0 for none or a first Ctrl-C.
int stopping_signal();

}  // namespace molv

#endif  // MOLV_SIGNALS_H
