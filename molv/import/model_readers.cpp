/*
 * The readers of models in other formats.  Adding one: its planner, and
 * one line here with the extensions it takes.
 */
#include "import/model_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "import/assimp_planner.h"
#include "import/load.h"

namespace molv {

const std::vector<ModelReader> &model_readers() {
  static const std::vector<ModelReader> readers = {
      {"assimp", plan_with_assimp, assimp_extensions},
  };
  return readers;
}

const ModelReader &reader_for(const std::string &file) {
  const std::vector<ModelReader> &readers = model_readers();
  const std::string extension = file_extension(file);
  for (size_t i = 0; i + 1 < readers.size(); ++i) {
    const std::vector<std::string> taken = readers[i].extensions();
    if (std::find(taken.begin(), taken.end(), extension) != taken.end()) return readers[i];
  }
  return readers.back();
}

const ModelReader *reader_named(const std::string &name) {
  for (const ModelReader &reader : model_readers())
    if (name == reader.name) return &reader;
  return nullptr;
}

}  // namespace molv
