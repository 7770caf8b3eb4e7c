/*
 * Where the file of a model's texture is.
 */
#include "files/texture_file.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/path_parts.h"

namespace molv {
namespace {

bool is_image_name(const std::string &name) {
  static const char *const kExtensions[] = {".bmp", ".png", ".jpg", ".jpeg", ".tga", ".pcx",
                                            ".dds", ".gif", ".tif", ".tiff", ".webp"};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  for (const char *extension : kExtensions)
    if (::strcasecmp(name.c_str() + dot, extension) == 0) return true;
  return false;
}

}  // namespace

bool is_placeholder_texture(const std::string &name) {
  const std::string base = texture_base_name(name);
  return !base.empty() && base[0] == '$';
}

std::vector<std::string> probable_textures(const std::string &model_path) {
  const std::string folder = folder_prefix(model_path);
  std::string stem = name_of(model_path);
  if (stem.rfind('.') != std::string::npos && stem.rfind('.') > 0) stem.erase(stem.rfind('.'));
  std::vector<std::string> images, named;
  DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return images;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] == '.' || !is_image_name(name) || !is_regular_file(folder + name)) continue;
    images.push_back(name);
    if (::strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0) named.push_back(name);
  }
  ::closedir(dir);
  std::sort(named.begin(), named.end());
  if (!named.empty() || images.size() != 1) return named;
  return images;
}

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
