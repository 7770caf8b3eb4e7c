/*
 * How the plug-in's last command ended, as the user saw it: the last
 * status line and the modal messages.  molv export decides its exit
 * status from this ("Ready !" and no message: 0).
 */
#ifndef MOLV_API_RUN_OUTCOME_H
#define MOLV_API_RUN_OUTCOME_H

#include <string>

namespace molv {

struct RunOutcome {
  bool has_status = false;   // a status line was shown
  std::string last_status;   // the last one
  long messages = 0;         // modal messages shown
};
// What was shown since the last clear_run_outcome.
const RunOutcome &run_outcome();
void clear_run_outcome();

}  // namespace molv

#endif  // MOLV_API_RUN_OUTCOME_H
