/*
 * The molv command line: `molv export` runs one export without a window,
 * `molv gui` opens the modeller's window.  The parsing and the small rules
 * of the export run (file name, option string) are apart from the runs
 * themselves so that they can be checked in-process.
 */
#ifndef MOLV_CLI_H
#define MOLV_CLI_H

#include <string>
#include <utility>
#include <vector>

namespace molv {
namespace cli {

enum class Mode { kHelp, kVersion, kExport, kGui };

struct Args {
  Mode mode = Mode::kHelp;
  std::vector<std::string> scenes;  // none: the built-in sample (molv gui takes one)
  // export
  bool has_out = false;
  std::string out;
  bool has_options = false;
  std::string options;
  std::vector<std::pair<long, char>> sets;  // --set N=C or NAME=C, by index, in order
  bool defaults = false;                    // the plug-in's defaults, no options file
  std::string plugin_dir;                   // empty: where the build put it
  std::string debug_log;
  bool has_host_version = false;
  double host_version = 0.0;
  long cancel_at_poll = 0;     // 0: never
  long fail_alloc_after = -1;  // negative: never
  bool quiet = false;
  bool verbose = false;           // every status line, also when stderr is no terminal
  bool extract_textures = false;  // embedded textures as files beside the .x
  long jobs = 1;                  // processes that export side by side
  // gui
  std::string script;
};

// Reads the words after the program name.  False with a one-line *error
// (without the "molv: " prefix) on a usage error.
bool parse_args(const std::vector<std::string> &words, Args *args, std::string *error);

// The usage text of `molv --help`.
std::string usage_text();
// What `molv --version` shows: the host's and the plug-in's versions.
// False with *error when the plug-in cannot be loaded.
bool version_text(const Args &args, std::string *text, std::string *error);

// Whether -o OUT names a folder: it ends in '/' or is an existing folder.
bool names_folder(const std::string &out);

// The NAME handed to qel_save for SCENE (empty: the sample): OUT without
// one trailing ".x"; without OUT the scene's file name without its
// extension, or "sample", in the current folder; with a folder OUT, that
// name in the folder.
std::string export_name(const Args &args, const std::string &scene);

// The dialog's option string with --options copied over its start and then
// each --set applied.  False with *error when a --set index lies beyond it.
bool apply_options(const Args &args, std::string *options, std::string *error);

// The whole program: returns the exit status.
int run(int argc, char **argv);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_H
