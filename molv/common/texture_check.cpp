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

std::vector<std::string> texture_warnings(const std::string &x_path,
                                          const std::vector<std::string> &names) {
  std::vector<std::string> lines;
  const std::string folder = folder_of(x_path);
  for (const std::string &name : names) {
    if (name.empty() || name[0] == '*') continue;
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
    } else {
      lines.push_back("the .x names the texture " + name + ", which is not there (no file " +
                      path + ")");
    }
  }
  return lines;
}

}  // namespace molv
