/*
 * The textures a .x file names, looked for beside it.
 */
#include "common/texture_check.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "common/path_parts.h"

namespace molv {
namespace {

bool starts_with(const std::string &text, const char *prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
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

std::vector<std::string> x_texture_names(const std::string &x_path) {
  static const char kOpen[] = "  TextureFileName { \"";
  static const char kClose[] = "\"; }";
  std::vector<std::string> names;
  std::ifstream in(x_path);
  std::string line;
  while (std::getline(in, line)) {
    if (starts_with(line, "Frame ") || starts_with(line, "Mesh ")) break;
    if (!starts_with(line, kOpen)) continue;
    const size_t end = line.rfind(kClose);
    if (end == std::string::npos || end < sizeof kOpen - 1) continue;
    const std::string name = line.substr(sizeof kOpen - 1, end - (sizeof kOpen - 1));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::vector<std::string> texture_warnings(const std::string &x_path) {
  std::vector<std::string> lines;
  const std::string folder = folder_of(x_path);
  for (const std::string &name : x_texture_names(x_path)) {
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
