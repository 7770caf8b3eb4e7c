/*
 * The textures and files of the model just exported.
 */
#include "cli/model_report.h"

#include <string>
#include <vector>

#include "files/path_parts.h"
#include "files/texture_file.h"

namespace molv {
namespace cli {

std::vector<ReportTexture> model_textures(const Load &load, const std::vector<std::string> &table,
                                          const std::string &name, bool extracted) {
  std::vector<ReportTexture> textures;
  const std::string beside_x = folder_prefix(name) + "model";
  const std::string stem = name.substr(folder_prefix(name).size()) + "_";
  for (size_t i = 0; i < table.size(); ++i) {
    const std::string &texture = table[i];
    // An extracted image is named anew; beside the model it is not.
    const bool renamed = i >= load.textures.size() || load.textures[i].name != texture;
    ReportTexture entry;
    entry.name = texture;
    entry.extracted = extracted && texture.rfind(stem, 0) == 0 &&
                      !model_texture_file(beside_x, texture).empty();
    entry.embedded = (!texture.empty() && texture[0] == '*') || entry.extracted;
    entry.found = (renamed ? !model_texture_file(load.file, texture).empty()
                           : !load.textures[i].file.empty()) ||
                  !model_texture_file(beside_x, texture).empty();
    textures.push_back(entry);
  }
  return textures;
}

std::vector<std::string> model_dependencies(const Load &load,
                                            const std::vector<ReportTexture> &textures) {
  std::vector<std::string> deps;
  if (load.source == Source::kSample) return deps;
  deps = load.opened;
  for (size_t i = 0; i < textures.size() && i < load.textures.size(); ++i) {
    if (textures[i].extracted) continue;
    if (!load.textures[i].file.empty()) deps.push_back(load.textures[i].file);
  }
  return deps;
}

}  // namespace cli
}  // namespace molv
