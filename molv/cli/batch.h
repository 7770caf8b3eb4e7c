/*
 * molv export as a batch: the output names of the run's models, the
 * checks that need no model, and the models exported one after the other
 * in this process (or by --jobs workers, jobs.h), with Ctrl-C, SIGTERM
 * and SIGHUP cancelling the export that runs (common/signals.h).
 */
#ifndef MOLV_CLI_BATCH_H
#define MOLV_CLI_BATCH_H

#include <functional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/private_plugin_folder.h"
#include "common/run_files.h"

namespace molv {
namespace cli {

// The whole of molv export: returns the exit status.
int run_export(const Args &args);

// Exports, in this process, the models whose places NEXT hands out (-1:
// none left), their files held against the run's PLANNED ones
// (run_files.h); the plug-in runs from FOLDER when it is given.  ON_COMPLETE
// is told of each complete export.  SIDE_BY_SIDE: one of several worker
// processes.  Returns the worst status.
int export_models(const Args &args, bool side_by_side, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &names, const RunFiles &planned,
                  const std::function<long()> &next,
                  PrivatePluginFolder *folder, const std::function<void()> &on_complete);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_BATCH_H
