/*
 * The molv command line.
 *
 * `molv export` is the modeller driven without a window: it loads a scene,
 * loads the plug-in, chooses the plug-in's export menu entry (whose dialog
 * answers at once with the options it was given), adjusts those options
 * and confirms the export under a given name.  What the plug-in shows goes
 * to standard error; the exit status tells whether the file was written.
 *
 * `molv gui` is the window's (gui/gui.h), which main.cpp starts.
 */
#include "cli/cli.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/batch.h"
#include "cli/console.h"
#include "cli/info.h"
#include "cli/usage.h"

namespace molv {
namespace cli {

int run(int argc, char **argv, const std::function<int(const Args &)> &window) {
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
  return args.mode == Mode::kExport ? run_export(args) : window(args);
}

}  // namespace cli
}  // namespace molv
