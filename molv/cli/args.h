/*
 * The words of the molv command line: what they ask for (Args), how they
 * are read, and the small rules that follow from them alone (the plug-in
 * folder, the export's name, the option string), kept apart from the runs
 * so that they can be checked in-process.
 */
#ifndef MOLV_CLI_ARGS_H
#define MOLV_CLI_ARGS_H

#include <string>
#include <utility>
#include <vector>

#include "import/isolated_read.h"

namespace molv {
namespace cli {

// What a usage error adds to its line.
constexpr const char *kHelpHint = " (try 'molv --help')";

enum class Mode { kHelp, kVersion, kExport, kGui, kInfo };

// The faults a test sets off in molv export (--cancel-at-poll,
// --fail-alloc-after); see api/test_hooks.h.
struct TestHooks {
  long cancel_at_poll = 0;     // 0: never
  long fail_alloc_after = -1;  // negative: never
};

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
  bool remembered = false;  // --remembered: the options file is read and written
  std::string plugin_dir;                   // empty: where the build put it
  std::string debug_log;
  bool has_host_version = false;
  double host_version = 0.0;
  bool quiet = false;
  bool verbose = false;           // every status line, also when stderr is no terminal
  bool extract_textures = false;  // embedded textures as files beside the .x
  bool copy_textures = false;     // the model's texture files copied beside the .x
  bool verify = false;            // every .x read back and compared with the model
  long jobs = 0;                  // processes that export side by side (0: one per core)
  bool strict = false;            // --strict: any warning fails its model
  std::vector<std::string> fail_on;  // --fail-on CODE,...: the warnings that fail their model
  bool keep_going = false;           // --keep-going: models that clash are left out, not the run
  std::string relative_to;           // --relative-to DIR: each model's folders below DIR kept
  std::string report;             // --report FILE: a JSON line per model ("-": stdout)
  std::string depfile;            // --depfile FILE: a Makefile rule per model
  std::string format;             // --format EXT: the format of a model on stdin
  std::vector<std::string> include;  // --include PATTERN: models of a folder SCENE taken
  std::vector<std::string> exclude;  // --exclude PATTERN: and left out
  bool keep_extension = false;       // duck.dae becomes duck.dae.x
  ReadLimits limits;                 // --timeout, --max-memory: each model's reader
  TestHooks test;
  // gui
  std::string script;
};

// Reads the words after the program name.  False with a one-line *error
// (without the "molv: " prefix) on a usage error.
bool parse_args(const std::vector<std::string> &words, Args *args, std::string *error);

// The cores this process may run on.
long usable_cores();

// The processes of a run of COUNT models: --jobs, else one per core (one
// with --debug-log, whose trace is one file).
long job_count(const Args &args, size_t count);

// The plug-in folder the command line names, or the one the build made.
std::string plugin_folder(const Args &args);

// Whether PATH is a folder (through links).
bool is_folder(const std::string &path);

// Whether -o OUT names a folder: it ends in '/' or is an existing folder.
bool names_folder(const std::string &out);

// The NAME handed to qel_save for SCENE (empty: the sample): OUT without
// one trailing ".x"; without OUT the scene's file name without its
// extension (with it for --keep-extension), or "sample", in the current folder; with a folder OUT, that
// name in the folder.
std::string export_name(const Args &args, const std::string &scene);

// The warning for -o NAME.EXT with an extension other than .x (molv
// writes NAME.EXT.x); empty when there is nothing to say.
std::string output_name_warning(const Args &args);

// The dialog's option string with --options copied over its start and then
// each --set applied.  False with *error when a --set index lies beyond it.
bool apply_options(const Args &args, std::string *options, std::string *error);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_ARGS_H
