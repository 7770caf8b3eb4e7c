/*
 * The one load of a model, for the command line and the window alike.  A
 * name stands for the built-in sample (none given), a JSON scene file
 * (".json", in any case) or a model in another format, read by the
 * reader that claims its extension (model_reader.h).  The file's kind is
 * decided here, once; the load hands back everything it found in one
 * record, which the export, the report, the depfile, the clash checks,
 * the window and `molv info` read.  Nothing of a load is kept anywhere
 * else.
 */
#ifndef MOLV_IMPORT_LOAD_H
#define MOLV_IMPORT_LOAD_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/model.h"
#include "import/isolated_read.h"
#include "import/model_plan.h"

namespace molv {

enum class Source { kSample, kScene, kModel };

// A texture the model names: its name in the texture table, the regular
// file it is beside the model ("" when none is found there) and whether
// the model embeds it ("*0").
struct NamedTexture {
  std::string name;
  std::string file;
  bool embedded = false;
};

// How a long load is watched: PROGRESS hears how far the reader got (0 to
// 100); STOP is asked a few times a second, and after a signal, whether to
// give up (the window's Cancel, Ctrl-C), upon which the reader ends at once
// and the load fails.  Either may be empty.  A reader that reaches one of
// LIMITS is ended as well.
struct LoadWatch {
  std::function<void(int percent)> progress;
  std::function<bool()> stop;
  ReadLimits limits;
  // Run once while a reader's child reads the file (not for a scene file,
  // which is read in this process): work that need not wait for the model.
  std::function<void()> meanwhile;
};

struct Load {
  std::string file;  // as given; empty for the sample
  Source source = Source::kSample;
  bool loaded = false;
  std::string error;  // the one line "FILE: reason" when not loaded
  // How a model's reader ended: stopped or at a limit, the load failed
  // for that.
  ReadEnd read_end = ReadEnd::kAnswered;
  // The model, until install() makes it the process's model.
  std::unique_ptr<Model> model;
  // What the file holds that a .x will not, and what it holds itself as
  // its reader read it (notes.file; zero for a scene file).
  PlanNotes notes;
  // Every file the load opened, each once (a model's .mtl, buffers and
  // the like; a scene file itself), also after a load that failed.  The
  // textures are not among them: no reader opens them.
  std::vector<std::string> opened;
  // The texture table as the model names it, each looked for beside it.
  std::vector<NamedTexture> textures;
  // The images the model embeds (without their bytes, which stay with the
  // model for an export that writes them).
  std::vector<EmbeddedImage> embedded;
  // The seconds the reader's child took (the read and the plan, handed
  // back), the rest of a load being the host's model.
  double read_seconds = 0.0;
};

// The extension of PATH's file name in lower case, with its dot (".json"
// of "a/b.JSON"); empty when the name has none.
std::string file_extension(const std::string &path);

// Reads FILE (empty: the sample).  A file that cannot be read, or is no
// regular file, gives a record that is not loaded, with its error.
Load load_file(const std::string &file, const LoadWatch &watch = LoadWatch());

// Makes LOAD's model the process's model, the one a plug-in reads.
void install(Load &load);

// What LOAD wants the user to know besides: parts of the model left out,
// textures a .x file cannot name.  One line each, without the file name;
// EXTRACTED: the embedded images are written as files for the export.
std::vector<std::string> load_warnings(const Load &load, bool extracted);

// The extensions File > Open offers, ".json" first, then every one a
// reader of models takes (".obj" and the rest).
std::vector<std::string> readable_extensions();

}  // namespace molv

#endif  // MOLV_IMPORT_LOAD_H
