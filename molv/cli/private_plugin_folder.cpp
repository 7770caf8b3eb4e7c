/*
 * The private plug-in folder of a --defaults run.
 */
#include "cli/private_plugin_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/file_beside.h"

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
  if (ok && copy_options) ok = copy_options_file(from + "/" + kOptionsFile, options_file(), error);
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

// The copy goes into a new file beside TO that is renamed over it, as the
// plug-in saves its options: a link at TO is replaced, never written
// through, and a copy that fails leaves TO as it was.  TO keeps its mode.
// The copy reaches the disk before the rename.
bool copy_options_file(const std::string &from, const std::string &to, std::string *error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    if (errno == ENOENT) return true;
    *error = from + ": cannot read the remembered options: " + std::strerror(errno);
    return false;
  }
  std::string temp;
  const int out = open_beside(to, &temp);
  bool ok = out >= 0;
  struct stat st {};
  if (ok) {
    const bool kept = ::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    ok = ::fchmod(out, kept ? st.st_mode & 07777 : new_file_mode()) == 0;
  }
  char buffer[4096];
  while (ok) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = write_all(out, buffer, static_cast<size_t>(got));
  }
  ::close(in);
  // On the disk before the rename, as the plug-in saves its options.
  ok = ok && ::fsync(out) == 0;
  if (out >= 0) ok = ::close(out) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), to.c_str()) == 0;
  if (!ok) {
    *error = to + ": cannot copy the remembered options: " + std::strerror(errno);
    if (out >= 0) ::unlink(temp.c_str());
  }
  return ok;
}

}  // namespace molv
