/*
 * The host's hooks for tests: everything a plug-in showed, kept in order
 * (the recording), and the faults a test sets off (a cancel at a given
 * event pass, myalloc failing after a count).  The command line reaches
 * the faults through its options for tests (--cancel-at-poll,
 * --fail-alloc-after); nothing else in the product uses this file.
 */
#ifndef MOLV_API_TEST_HOOKS_H
#define MOLV_API_TEST_HOOKS_H

#include <string>
#include <vector>

namespace molv {

// ---- the recording --------------------------------------------------------

struct Recording {
  std::vector<std::string> status_lines;  // display_message, in order
  std::vector<int> progress;              // set_progress_bar values
  std::vector<std::string> messages;      // message_dialog texts
  std::string debug;                      // debugf output (when recorded)
};
Recording &recording();
void clear_recording();
// Whether the recording is kept: on unless switched off (the molv program
// switches it off first thing; its exit status comes from run_outcome.h).
void set_recording(bool on);
// Whether debugf output is kept in recording().debug.
void set_record_debug(bool on);

// ---- faults -----------------------------------------------------------------

// Sets qel_cancel to 1 when "update" runs for the N-th time from now
// (0 switches it off).
void set_cancel_at_poll(long n);
// Every myalloc after the N-th from now returns null (negative: off).
void set_fail_alloc_after(long n);
// How many times "update" ran since the interpreter started.
long update_count();

}  // namespace molv

#endif  // MOLV_API_TEST_HOOKS_H
