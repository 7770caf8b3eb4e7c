/*
 * molv export in a pipe: `-o -` writes the .x to standard output and
 * nothing else goes there; SCENE `-` reads the model from standard input
 * (--format EXT names its format, as the reader needs a name to go by).
 * The plug-in writes files only, so both go through a private folder:
 * the export is written there and then sent on, the model is read into
 * it first.  The folder is removed when the run ends.
 */
#ifndef MOLV_CLI_STREAMS_H
#define MOLV_CLI_STREAMS_H

#include <string>
#include <vector>

#include "cli/args.h"

namespace molv {
namespace cli {

class StreamFolder {
 public:
  StreamFolder() = default;
  ~StreamFolder();
  StreamFolder(const StreamFolder &) = delete;
  StreamFolder &operator=(const StreamFolder &) = delete;

  // The name (without .x) the plug-in writes to for `-o -`, STEM in the
  // private folder.  False with a one-line *error.
  bool export_name(const std::string &stem, std::string *name, std::string *error);
  // Reads all of standard input into "stdin" + EXT in the private folder
  // and gives its name.  False with a one-line *error.
  bool read_stdin(const std::string &ext, std::string *path, std::string *error);

 private:
  bool make(std::string *error);
  std::string path_;
};

// Puts a SCENE "-" of *SCENES (one at most, with --format) into FOLDER.
// 0, or the exit status (the reason is shown).
int read_stdin_scene(const Args &args, StreamFolder *folder, std::vector<std::string> *scenes);
// With -o -: the one model's *NAMES become a name in FOLDER.  0, or the
// exit status (the reason is shown).
int plan_stdout_export(const Args &args, const std::vector<std::string> &scenes,
                       StreamFolder *folder, std::vector<std::string> *names);

// Sends FILE to standard output, then removes it.  False with a one-line
// *error.
bool send_to_stdout(const std::string &file, std::string *error);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_STREAMS_H
