/*
 * The molv executable.  It exports the host interface to the plug-ins it
 * loads (the build links it with its symbols exported), and joins the two
 * front ends, which know nothing of each other: the command line (cli/)
 * reads the words and runs every mode but `molv gui`, which it hands back
 * here to open the window (gui/) with what the command line prepared.
 */
#include <cstring>
#include <string>

#include "api/host_memory.h"
#include "api/test_hooks.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/export_model.h"
#include "gui/gui.h"
#include "import/isolated_read.h"
#include "import/load.h"

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker: the font library behind Tk keeps its caches until
// the process ends, which is no leak of ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace {

using molv::cli::Args;

// `molv gui`: the command line loads the sample (the window reads the
// scene once it is up), opens the debug log and says where the plug-in is.
int run_window(const Args &args) {
  const std::string scene = args.scenes.empty() ? std::string() : args.scenes[0];
  molv::Load sample = molv::cli::load_for(args, "");
  if (!sample.loaded) {
    molv::error_line(sample.error);
    return 2;
  }
  molv::cli::DebugLog debug;
  if (!debug.open(args.debug_log)) return 2;
  molv::gui::Window window;
  window.scene = scene;
  window.script = args.script;
  window.plugin_folder = molv::cli::plugin_folder(args);
  window.debug_log = args.debug_log;
  window.start_plugin = [&args] { return molv::cli::start_plugin(args); };
  window.load_scene = [&args](const std::string &file, const molv::LoadWatch &watch) {
    return molv::cli::load_for(args, file, watch);
  };
  window.first = &sample;
  const int status = molv::gui::run(window);
  debug.complete();
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  // The reader's child, started by a molv whose load runs off its main
  // thread.
  if (argc == 7 && std::strcmp(argv[1], molv::kReadApartCommand) == 0)
    return molv::read_apart(argv[2], argv[3], argv[4], argv[5], argv[6]);
  molv::keep_freed_memory();
  // What a plug-in shows is for the user; the recording is for tests.
  molv::set_recording(false);
  return molv::cli::run(argc, argv, run_window);
}
