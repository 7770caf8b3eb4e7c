/*
 * What every fuzz target shares: the headless host with the plug-in linked
 * in (started once per process), an in-process export into a string, a
 * check of the written text's structure, and the way a finding is reported
 * (a message and abort(), which libFuzzer keeps as a crash input).
 */
#ifndef QEL_TESTS_FUZZ_FUZZ_HOST_H
#define QEL_TESTS_FUZZ_FUZZ_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/export_run.h"

namespace qel_fuzz {

// Starts the headless Tcl host and the plug-in from a temporary plug-in
// folder holding the dialog script.  Every later call does nothing.
void start_host();
// That folder (absolute, no trailing slash).
const std::string &plugin_dir();

// One export of the loaded model into a string, as the save command runs
// it between opening and closing the file: the run's options are the
// option text over the built-in ones, every myalloc after the `fail_alloc_after`-th
// fails (negative: none).  *status gets the export status.  The host's
// allocation counter must be back where it was: a finding otherwise.
std::string export_text(const std::string &option_text, long fail_alloc_after,
                        qel::RunStatus *status);

// Null when the text of a complete export is sound: it starts with the
// magic line, its braces pair up outside comments and strings, its
// strings close, and no number is "nan" or "inf".  Otherwise what is wrong.
const char *structure_fault(const std::string &text);

// Reports a finding and aborts.
[[noreturn]] void finding(const std::string &what);

}  // namespace qel_fuzz

#endif  // QEL_TESTS_FUZZ_FUZZ_HOST_H
