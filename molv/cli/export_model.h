/*
 * The export of one model by molv export: load it, let the plug-in's
 * dialog give the options, adjust them, confirm the export under a name,
 * and tell how it ended.  The plug-in is started with the first model and
 * serves every model of the run (ExportSession).
 */
#ifndef MOLV_CLI_EXPORT_MODEL_H
#define MOLV_CLI_EXPORT_MODEL_H

#include <string>

#include "api/tcl_bridge.h"
#include "cli/args.h"
#include "cli/console.h"
#include "cli/private_plugin_folder.h"
#include "cli/batch_files.h"
#include "import/load.h"

namespace molv {
namespace cli {

// The last status line of an export cancelled by the user.
constexpr const char *kAborted = "*** Abort by User ! ***";

// Loads FILE (empty: the sample) through the one load (import/load.h),
// its model given the host version of --host-version.
Load load_for(const Args &args, const std::string &file, const LoadWatch &watch = LoadWatch());

// Loads the plug-in of the folder the command line names, or, when
// PRIVATE_FOLDER is given, from that private folder with links to its
// files (made now unless it was made already).  0 when it runs, else the
// exit status (the reason is shown).
int start_plugin(const Args &args, PrivatePluginFolder *private_folder = nullptr);
// 0 when the plug-in folder exists, else the exit status (the reason is
// shown).
int check_plugin_folder(const Args &args);

// What every model of one run shares: the plug-in, started with the first
// model (its init sees that model's host version, as the modeller's
// plug-ins see the model they start with), and its export menu entry.
struct ExportSession {
  const Args &args;
  Console &console;
  PrivatePluginFolder *private_folder;  // null: the plug-in's own folder
  const MenuItem *entry = nullptr;
  bool plugin_failed = false;  // the run cannot go on
  bool stopped = false;        // a signal stopped a model's reader: so does the run
  RunFiles *files = nullptr;   // the run's files (run_files.h)
};

// One model, written to NAME.x.  Returns its exit status.
int export_model(ExportSession &session, const std::string &scene, const std::string &name);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_EXPORT_MODEL_H
