/*
 * The private plug-in folder of a --defaults run.
 */
#include "private_plugin_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace molv {
namespace {

constexpr const char *kOptionsFile = "qel_export.opt";

std::string absolute(const std::string &path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return path;
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data()) + "/" + path;
}

// A copy of FROM as TO (nothing when FROM does not exist).
bool copy_file(const std::string &from, const std::string &to, std::string *error) {
  std::FILE *in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) {
    if (errno == ENOENT) return true;
    *error = from + ": cannot read the remembered options: " + std::strerror(errno);
    return false;
  }
  std::FILE *out = std::fopen(to.c_str(), "wb");
  bool ok = out != nullptr;
  char buffer[4096];
  size_t got;
  while (ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
    ok = std::fwrite(buffer, 1, got, out) == got;
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  if (!ok) *error = to + ": cannot copy the remembered options: " + std::strerror(errno);
  return ok;
}

}  // namespace

bool PrivatePluginFolder::create(const std::string &source, bool copy_options, std::string *error) {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/molv-plugin-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = pattern + ": cannot make a private plug-in folder: " + std::strerror(errno);
    return false;
  }
  path_ = pattern;

  DIR *dir = opendir(source.c_str());
  if (dir == nullptr) {
    *error = source + ": " + std::strerror(errno);
    return false;
  }
  const std::string from = absolute(source);
  bool ok = true;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == kOptionsFile) continue;
    if (symlink((from + "/" + name).c_str(), (path_ + "/" + name).c_str()) != 0) {
      *error = path_ + "/" + name + ": cannot link the plug-in's file: " + std::strerror(errno);
      ok = false;
      break;
    }
  }
  closedir(dir);
  if (ok && copy_options) ok = copy_file(from + "/" + kOptionsFile, options_file(), error);
  return ok;
}

std::string PrivatePluginFolder::options_file() const { return path_ + "/" + kOptionsFile; }

void PrivatePluginFolder::forget_options() const {
  if (!path_.empty()) unlink((path_ + "/" + kOptionsFile).c_str());
}

PrivatePluginFolder::~PrivatePluginFolder() {
  if (path_.empty()) return;
  // Only what this run put there: the links and what the plug-in saved.
  if (DIR *dir = opendir(path_.c_str())) {
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string &name : names) unlink((path_ + "/" + name).c_str());
  }
  rmdir(path_.c_str());
}

}  // namespace molv
