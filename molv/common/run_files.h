/*
 * The files of one export run (the command line's or the window's) as one
 * plan: every file the run will
 * write (the .x files, the textures it extracts or copies, the debug log)
 * is held against every file the run reads (the models, the files their
 * reader opened, their textures, the plug-in's own files) and against the
 * other files it writes, by device and inode and by name, before anything
 * is written.  A clash is refused with one line.
 *
 * The textures of a model (extracted or copied) are prepared in full
 * beside their names before the export and put in place right after it
 * completes, with the export; a cancelled or failed export leaves every
 * earlier file as it was.
 */
#ifndef MOLV_COMMON_RUN_FILES_H
#define MOLV_COMMON_RUN_FILES_H

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "files/output_file.h"
#include "import/load.h"

namespace molv {

// What the processes of one run (its --jobs workers) write beside each
// other: each process plans its own models, and a texture file one of
// them writes is claimed here for the others to see.
class SharedWrites {
 public:
  virtual ~SharedWrites() = default;
  // NAME (absolute) is written with the content KEY stands for (a copied
  // file's device and inode).  False, with *other saying what another
  // process writes there, when that is other content.
  virtual bool claim(const std::string &name, dev_t key_dev, ino_t key_ino,
                     std::string *other) = 0;
};

class RunFiles {
 public:
  // A file the run reads; WHAT says what it is ("the model a.obj").
  // False with the one-line *error when the run writes it (a read that
  // becomes known once a model is loaded, after the writes were planned).
  bool reads(const std::string &path, const std::string &what, std::string *error = nullptr);
  // A file the run writes.  FOLLOWS: the name's links are followed (the
  // .x), else a link there is replaced.  False with the one-line *error
  // when it would write over a file the run reads or another it writes.
  // TAKEN: set when a read found later (a file a model names) is this
  // file, so that what would write it stays out.
  bool writes(const std::string &path, bool follows, const std::string &what, std::string *error,
              bool *taken = nullptr);

  // True when TARGET was copied from SOURCE by this run already (a
  // texture two models share); else remembers that it is.
  bool copied_already(const std::string &target, const std::string &source);

  // The writes of the run's other processes (none by default).
  void share_writes(SharedWrites *shared) { shared_ = shared; }
  // A texture file this process writes: held against the other processes'
  // (SOURCE: the file copied there; empty for an extracted one, which no
  // other process writes the same).  False with the one-line *error.
  bool writes_beside_others(const std::string &target, const std::string &source,
                            const std::string &what, std::string *error);

 private:
  struct Entry {
    std::string name;  // absolute, the folder's links followed
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string what;
    bool *taken = nullptr;
  };
  struct Copy {
    std::string target;
    dev_t dev;
    ino_t ino;
  };
  static Entry identify(const std::string &path, bool follows, const std::string &what);
  static bool same(const Entry &a, const Entry &b);
  std::vector<Entry> reads_;
  std::vector<Entry> writes_;
  std::vector<Copy> copies_;
  SharedWrites *shared_ = nullptr;
};

// The plug-in's own files in FOLDER (its library, dialog script and
// options file) are read by the run.
void plan_plugin_files(const std::string &folder, RunFiles *files);

// The files LOAD reads: what it opened, and the model's texture files but
// for its embedded images; the names of those textures as the model gives
// them into *external (when given).  False with the one-line *error when
// the run writes one of them.
bool plan_model_reads(const Load &load, RunFiles *files, std::vector<std::string> *external,
                      std::string *error);

// The files of LOAD's model for NAME.x under OPTIONS: what the load opened
// and its textures are read, its EXTRACTED textures and, with COPY, its
// textures copied beside the .x are written (prepared into *copies; a
// texture that is not there to copy is a line in *notes).  False with the
// one-line *error on a clash or a copy that cannot be prepared.
struct TextureFilesPlan {
  const Load &load;
  std::vector<std::string> extracted;
  std::string name;
  std::string options;
  bool copy = false;
};
bool plan_texture_files(const TextureFilesPlan &plan, RunFiles *files,
                        std::vector<std::unique_ptr<OutputFile>> *copies,
                        std::vector<std::string> *notes, std::string *error);

// Where an extracted texture of NAME.x goes: beside the file the .x will
// be (its links followed), named after NAME ("dir/NAME" of "dir/NAME.x").
std::string texture_stem(const std::string &name);

}  // namespace molv

#endif  // MOLV_COMMON_RUN_FILES_H
