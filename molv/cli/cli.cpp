/*
 * The molv command line.
 *
 * `molv export` is the modeller driven without a window: it loads a scene,
 * loads the plug-in, chooses the plug-in's export menu entry (whose dialog
 * answers at once with the options it was given), adjusts those options
 * and confirms the export under a given name.  What the plug-in shows goes
 * to standard error; the exit status tells whether the file was written.
 *
 * `molv gui` opens the modeller's window (gui/gui.cpp) on the scene.
 */
#include "cli/cli.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/batch.h"
#include "cli/console.h"
#include "cli/export_model.h"
#include "cli/info.h"
#include "cli/usage.h"
#include "gui/gui.h"

namespace molv {
namespace cli {
namespace {

// The window is gui.cpp's; the command line loads the sample (the window
// reads the scene once it is up), opens the debug log and says where the
// plug-in is.
int run_gui(const Args &args) {
  const std::string scene = args.scenes.empty() ? std::string() : args.scenes[0];
  Load sample = load_for(args, "");
  if (!sample.loaded) {
    error_line(sample.error);
    return 2;
  }
  DebugLog debug;
  if (!debug.open(args.debug_log)) return 2;
  gui::Window window;
  window.scene = scene;
  window.script = args.script;
  window.plugin_folder = plugin_folder(args);
  window.debug_log = args.debug_log;
  window.start_plugin = [&args] { return start_plugin(args); };
  window.load_scene = [&args](const std::string &file, const LoadWatch &watch) {
    return load_for(args, file, watch);
  };
  window.first = &sample;
  const int status = gui::run(window);
  debug.complete();
  return status;
}

}  // namespace

int run(int argc, char **argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  Args args;
  std::string error;
  if (!parse_args(words, &args, &error)) {
    error_line(error);
    return 2;
  }
  if (args.mode == Mode::kHelp) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (args.mode == Mode::kVersion) {
    std::string text;
    if (!version_text(args, &text, &error)) {
      error_line(error);
      return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (args.mode == Mode::kInfo) return run_info(args);
  return args.mode == Mode::kExport ? run_export(args) : run_gui(args);
}

}  // namespace cli
}  // namespace molv
