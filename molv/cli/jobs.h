/*
 * molv export --jobs N: the models of a run exported by N processes side
 * by side, and the signals the parent passes on to them.
 */
#ifndef MOLV_CLI_JOBS_H
#define MOLV_CLI_JOBS_H

#include <string>
#include <vector>

#include "cli/args.h"
#include "common/run_files.h"

namespace molv {
namespace cli {

// Exports SCENES to NAMES in args.jobs worker processes (at most one per
// model).  Returns the worst status.  A signal that ends molv and reached
// the workers is left in *ending: the caller ends the run by it once the
// private folders are gone.
int run_jobs(const Args &args, const std::vector<std::string> &scenes,
             const std::vector<std::string> &names, const RunFiles &planned, int *ending);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_JOBS_H
