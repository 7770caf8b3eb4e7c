/*
 * Where the file of a model's texture is.
 */
#include "common/texture_file.h"

#include <sys/stat.h>

#include <algorithm>

namespace molv {
namespace {

bool regular_file(const std::string &path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string folder_with_slash(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string texture_base_name(const std::string &name) {
  const size_t cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string model_texture_file(const std::string &model_path, const std::string &name) {
  if (name.empty() || name[0] == '*') return std::string();
  std::string slashed = name;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::string folder = folder_with_slash(model_path);
  std::string path = slashed[0] == '/' ? slashed : folder + slashed;
  while (path.rfind("./", 0) == 0 && path.size() > 2) path.erase(0, 2);
  if (regular_file(path)) return path;
  path = folder + texture_base_name(name);
  return regular_file(path) ? path : std::string();
}

}  // namespace molv
