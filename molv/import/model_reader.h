/*
 * A reader of models in another format than the JSON scene is a planner:
 * a function that reads a file and plans its model (model_plan.h).  It
 * runs in the reader's child process (isolated_read.h), which gives every
 * reader crash isolation, progress and Cancel, and hands the plan back.
 * Assimp's planner (assimp_planner.h) is one; the table in
 * model_readers.cpp is the one place that lists them with the extensions
 * each takes.
 */
#ifndef MOLV_IMPORT_MODEL_READER_H
#define MOLV_IMPORT_MODEL_READER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/model_plan.h"

namespace molv {

// What a planner found, to be handed back from the child.
struct PlannedRead {
  // 0 nothing read (the reason is the refusal or the error), 1 planned,
  // 2 no scene in the file, 3 the plan refused it (the error says why).
  enum State : uint64_t { kNotRead = 0, kPlanned = 1, kNoScene = 2, kRefused = 3 };
  State state = kNotRead;
  ModelPlan plan;
  // Every file the reader opened, each once, in order.
  std::vector<std::string> opened;
  // Why a file the reader needed was refused ("PATH is a FIFO, not a
  // regular file"): the model would not be the one the user has.
  std::string refusal;
  // The reader's own reason when it did not read or planned nothing.
  std::string error;
};

// Reads PATH and plans its model into *READ; PROGRESS hears how far the
// read got (0 to 100).  A planner reads only regular files and never
// blocks on one; it may throw (the child ends without an answer) or crash.
using Planner = void (*)(const std::string &path, const std::function<void(int)> &progress,
                         PlannedRead *read);

struct ModelReader {
  const char *name;  // how the child's command line names it
  Planner plan;
  // The extensions it reads (".obj", lower case, with the dot).
  std::vector<std::string> (*extensions)();
};

// Every reader, in the order they are asked; the last reads whatever no
// other claims.
const std::vector<ModelReader> &model_readers();
// The reader for FILE by its extension.
const ModelReader &reader_for(const std::string &file);
// The reader called NAME, or null.
const ModelReader *reader_named(const std::string &name);

}  // namespace molv

#endif  // MOLV_IMPORT_MODEL_READER_H
