/*
 * How the plug-in's last command ended, as the user saw it: the last
 * status line and the modal messages.  molv export decides its exit
 * status from this ("Ready !" and no message: 0).  It also keeps the
 * texture names the plug-in asked for, so that what a run wrote is known
 * from the run, without reading the file back.
 */
#ifndef MOLV_API_RUN_OUTCOME_H
#define MOLV_API_RUN_OUTCOME_H

#include <string>
#include <vector>

namespace molv {

struct RunOutcome {
  bool has_status = false;   // a status line was shown
  std::string last_status;   // the last one
  long messages = 0;         // modal messages shown
  // Each texture name the plug-in was given (texture_id_to_name), in order.
  std::vector<std::string> textures_named;
};
// What was shown since the last clear_run_outcome.
const RunOutcome &run_outcome();
void clear_run_outcome();
// The host's texture_id_to_name gave the plug-in NAME.
void note_texture_named(const char *name);

}  // namespace molv

#endif  // MOLV_API_RUN_OUTCOME_H
