/*
 * Normal file names.
 */
#include "cli/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace molv {
namespace cli {
namespace {

std::string joined(bool absolute, const std::vector<std::string> &parts) {
  std::string path = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) path += (i == 0 ? "" : "/") + parts[i];
  return path.empty() ? "." : path;
}

bool is_link(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string absolute(const std::string &path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[4096];
  if (::getcwd(here, sizeof here) == nullptr) return path;
  return std::string(here) + "/" + path;
}

}  // namespace

std::string normal_path(const std::string &path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> parts;
  for (size_t from = 0; from <= path.size();) {
    size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(from, slash - from);
    from = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // "/.." is "/".
      if (absolute && parts.empty()) continue;
      if (!parts.empty() && parts.back() != ".." && !is_link(joined(absolute, parts))) {
        parts.pop_back();
        continue;
      }
    }
    parts.push_back(part);
  }
  return joined(absolute, parts);
}

bool path_below(const std::string &path, const std::string &folder, std::string *below) {
  const std::string file = normal_path(absolute(path));
  std::string root = normal_path(absolute(folder));
  if (root != "/") root += "/";
  if (file.compare(0, root.size(), root) != 0 || file.size() == root.size()) return false;
  *below = file.substr(root.size());
  return true;
}

}  // namespace cli
}  // namespace molv
