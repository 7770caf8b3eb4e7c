/*
 * The textures a written .x names, looked for beside it.
 */
#include "common/texture_check.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/plugin_options.h"
#include "core/options.h"
#include "files/path_parts.h"
#include "files/texture_file.h"

namespace molv {
namespace {

// A texture name as the plug-in strips it: from the character behind the
// last '/', '\\' or ':' that is not the name's last character.
std::string without_folder(const std::string &name) {
  if (name.empty()) return name;
  size_t start = name.size() - 1;
  while (start > 0 && name[start - 1] != '/' && name[start - 1] != '\\' && name[start - 1] != ':')
    --start;
  return name.substr(start);
}

// The entry of FOLDER whose name equals NAME but for letter case, or "".
std::string other_case(const std::string &folder, const std::string &name) {
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) return {};
  std::string found;
  while (const dirent *entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, name.c_str()) == 0 && name != entry->d_name) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace

std::vector<std::string> x_texture_names(const std::vector<std::string> &named,
                                         const std::string &options) {
  std::vector<std::string> names;
  if (!option_is_set(options, qel::opt_textures)) return names;
  const bool strip = option_is_set(options, qel::opt_strip_texture_path);
  for (const std::string &given : named) {
    std::string name = strip ? without_folder(given) : given;
    std::replace(name.begin(), name.end(), '"', '_');
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::vector<std::string> copyable_textures(const Load &load, const std::string &options) {
  std::vector<std::string> found;
  for (const NamedTexture &texture : load.textures)
    if (!texture.file.empty()) found.push_back(texture.name);
  return x_texture_names(found, options);
}

std::vector<std::string> texture_warnings(const std::string &x_path,
                                          const std::vector<std::string> &names,
                                          const std::vector<std::string> &copyable,
                                          const std::string &copy_hint) {
  std::vector<std::string> lines;
  std::vector<std::string> missing;
  size_t can_copy = 0;
  const std::string folder = folder_of(x_path);
  for (const std::string &name : names) {
    if (name.empty() || name[0] == '*' || is_placeholder_texture(name)) continue;
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string path =
        relative[0] == '/' || folder == "." ? relative : folder + "/" + relative;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) continue;
    const std::string base = path.substr(path.rfind('/') + 1);
    const std::string found = other_case(folder_of(path), base);
    if (!found.empty()) {
      lines.push_back("the .x names the texture " + name + ", but the file there is " + found +
                      " (the names differ in letter case, which a reader outside Windows "
                      "does not overlook)");
      continue;
    }
    missing.push_back(name);
    if (std::find(copyable.begin(), copyable.end(), name) != copyable.end()) ++can_copy;
  }
  if (missing.empty()) return lines;
  const size_t n = missing.size();
  std::string line = "the .x names " + std::to_string(n) +
                     (n == 1 ? " texture that is" : " textures that are") + " not beside it: ";
  for (size_t i = 0; i < n && i < 3; ++i) line += (i == 0 ? "" : ", ") + missing[i];
  if (n > 3) line += ", ...";
  if (can_copy > 0 && !copy_hint.empty()) {
    line += " (" + copy_hint + " copies " +
            (can_copy == n ? std::string(n == 1 ? "it there)" : "them there)")
                           : std::to_string(can_copy) +
                                 " of them there; the others are not beside the model either)");
  }
  lines.push_back(line);
  return lines;
}

std::vector<std::string> texture_option_warnings(const PlanNotes &notes,
                                                 const std::string &options) {
  const auto meshes = [](uint64_t n) { return std::to_string(n) + (n == 1 ? " mesh" : " meshes"); };
  if (notes.uv_meshes == 0) return {};
  if (!option_is_set(options, qel::opt_textures)) {
    return {"the texture coordinates of " + meshes(notes.uv_meshes) +
            " left out by the options (the textures option writes them: --set textures=1)"};
  }
  if (!option_is_set(options, qel::opt_materials)) {
    return {"the texture coordinates of " + meshes(notes.uv_meshes) +
            " left out by the options (the materials option writes them with the textures: "
            "--set materials=1)"};
  }
  if (notes.untextured_uv_meshes == 0) return {};
  return {"the texture coordinates of " + meshes(notes.untextured_uv_meshes) +
          " without a texture left out (the textures option writes texture coordinates only "
          "for a textured material)"};
}

}  // namespace molv
