/*
 * The textures and files of the model just exported.
 */
#include "cli/model_report.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "api/model.h"
#include "common/path_parts.h"
#include "common/texture_file.h"
#include "import/assimp_import.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

// Where a texture named NAME is, seen from FOLDER ("": none found).
std::string texture_at(const std::string &folder, const std::string &name) {
  return model_texture_file(folder + "model", name);
}

}  // namespace


std::vector<ReportTexture> model_textures(const std::string &scene, const std::string &name,
                                          bool extracted) {
  std::vector<ReportTexture> textures;
  const std::string stem = name.substr(folder_prefix(name).size()) + "_";
  for (const std::string &texture : model().textures) {
    ReportTexture entry;
    entry.name = texture;
    entry.embedded = !texture.empty() && texture[0] == '*';
    entry.extracted = extracted && texture.rfind(stem, 0) == 0 &&
                      !texture_at(folder_prefix(name), texture).empty();
    entry.embedded = entry.embedded || entry.extracted;
    entry.found = !texture_at(folder_prefix(scene), texture).empty() ||
                  !texture_at(folder_prefix(name), texture).empty();
    textures.push_back(entry);
  }
  return textures;
}

std::vector<std::string> model_dependencies(const std::string &scene,
                                            const std::vector<ReportTexture> &textures) {
  std::vector<std::string> deps;
  if (scene.empty()) return deps;
  if (source_of(scene) == Source::kModel)
    deps = load_opened_files();
  else
    deps.push_back(scene);
  for (const ReportTexture &texture : textures) {
    if (texture.extracted) continue;
    const std::string path = texture_at(folder_prefix(scene), texture.name);
    if (!path.empty()) deps.push_back(path);
  }
  return deps;
}

}  // namespace cli
}  // namespace molv
