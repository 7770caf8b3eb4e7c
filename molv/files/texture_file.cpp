/*
 * Where the file of a model's texture is.
 */
#include "files/texture_file.h"

#include <sys/stat.h>

#include <algorithm>

#include "files/path_parts.h"

namespace molv {
namespace {

}  // namespace

std::string texture_base_name(const std::string &name) {
  const size_t cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string model_texture_file(const std::string &model_path, const std::string &name) {
  if (name.empty() || name[0] == '*') return std::string();
  std::string slashed = name;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::string folder = folder_prefix(model_path);
  std::string path = slashed[0] == '/' ? slashed : folder + slashed;
  while (path.rfind("./", 0) == 0 && path.size() > 2) path.erase(0, 2);
  if (is_regular_file(path)) return path;
  path = folder + texture_base_name(name);
  return is_regular_file(path) ? path : std::string();
}

}  // namespace molv
