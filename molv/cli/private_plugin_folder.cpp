/*
 * The private plug-in folder of a --defaults run.
 */
#include "cli/private_plugin_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files/write_all.h"
#include "files/output_file.h"
#include "core/options.h"

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

constexpr const char kPrefix[] = "molv-plugin-";

// Empties and removes FOLDER: only what a run puts there (links, the
// options the plug-in saved), never a folder inside.
void remove_folder(const std::string &folder) {
  if (DIR *dir = opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string &name : names) unlink((folder + "/" + name).c_str());
  }
  rmdir(folder.c_str());
}

// The private folders of runs that died (SIGKILL, a crash) before they
// could remove theirs: each is named after its run's process, and one of
// ours whose process is gone is removed.
void sweep_dead_folders(const std::string &tmp) {
  DIR *dir = opendir(tmp.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> dead;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) continue;
    char *end = nullptr;
    const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, &end, 10);
    struct stat st;
    if (pid <= 0 || end == nullptr || *end != '-' || pid == getpid()) continue;
    if (lstat((tmp + "/" + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid())
      continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) dead.push_back(tmp + "/" + name);
  }
  closedir(dir);
  for (const std::string &folder : dead) remove_folder(folder);
}

}  // namespace

bool PrivatePluginFolder::create(const std::string &source, bool copy_options, std::string *error) {
  const char *tmp = std::getenv("TMPDIR");
  const std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  sweep_dead_folders(folder);
  std::string pattern = folder + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
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
  if (!path_.empty()) remove_folder(path_);
}

// FROM is read by the plug-in's own rules: a regular file only, opened
// without blocking, at most the option string's length (anything else
// there is no remembered options, as in a single run).  The copy is
// prepared beside TO and renamed over it, as the plug-in saves its
// options: a link at TO is replaced, never written through, TO keeps its
// mode, the copy reaches the disk before the rename, and a copy that fails
// leaves TO as it was.
bool copy_options_file(const std::string &from, const std::string &to, std::string *error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (in < 0) {
    if (errno == ENOENT) return true;
    *error = from + ": cannot read the remembered options: " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return true;
  }
  char bytes[qel::kOptionCount];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::read(in, bytes + got, sizeof bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(in);
  OutputFile out;
  std::string why;
  if (!out.open(to, false, &why) || !write_all(out.fd(), bytes, got) || !out.commit()) {
    if (why.empty()) why = std::strerror(errno);
    *error = to + ": cannot copy the remembered options: " + why;
    return false;
  }
  return true;
}

}  // namespace molv
