/*
 * Standard input and output as a model and an export.
 */
#include "cli/streams.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console.h"
#include "common/signals.h"

namespace molv {
namespace cli {
namespace {

bool write_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies FROM to TO until FROM ends.  False when a read or write fails
// (errno tells).
bool copy_fd(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(to, buffer, static_cast<size_t>(n))) return false;
  }
}

}  // namespace

namespace {

constexpr char kPrefix[] = "molv-stream-";

// Empties and removes FOLDER (only files: a stream folder holds no others).
void remove_folder(const std::string &folder) {
  if (DIR *dir = opendir(folder.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

// The stream folders of runs that are gone (killed outright, SIGKILL or a
// power cut, which no handler sees): "molv-stream-PID-XXXXXX" of this user
// whose PID runs no more.
void sweep_left_over(const std::string &tmp) {
  DIR *dir = opendir(tmp.c_str());
  if (dir == nullptr) return;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) continue;
    char *end = nullptr;
    const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, &end, 10);
    struct stat st {};
    const std::string folder = tmp + "/" + name;
    if (pid <= 0 || *end != '-' || lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
      continue;
    remove_folder(folder);
  }
  closedir(dir);
}

}  // namespace

StreamFolder::~StreamFolder() {
  if (path_.empty()) return;
  remove_when_ended("");
  // Only what this run put there.
  remove_folder(path_);
}

bool StreamFolder::make(std::string *error) {
  if (!path_.empty()) return true;
  const char *tmp_env = std::getenv("TMPDIR");
  const std::string tmp = tmp_env != nullptr && *tmp_env != '\0' ? tmp_env : "/tmp";
  sweep_left_over(tmp);
  std::string pattern = tmp + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = "cannot make a private folder in " + tmp + ": " + std::strerror(errno);
    return false;
  }
  path_ = pattern;
  // A signal (Ctrl-C while standard input is read, SIGTERM during the
  // export) removes it too.
  remove_when_ended(path_);
  return true;
}

bool StreamFolder::export_name(const std::string &stem, std::string *name, std::string *error) {
  if (!make(error)) return false;
  *name = path_ + "/" + (stem.empty() ? std::string("stdout") : stem);
  return true;
}

bool StreamFolder::read_stdin(const std::string &ext, std::string *path, std::string *error) {
  if (!make(error)) return false;
  *path = path_ + "/stdin" + ext;
  const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || !copy_fd(0, fd)) {
    *error = std::string("-: cannot read the model from standard input: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

int read_stdin_scene(const Args &args, StreamFolder *folder, std::vector<std::string> *scenes) {
  std::string *from_stdin = nullptr;
  for (std::string &scene : *scenes) {
    if (scene != "-") continue;
    if (from_stdin != nullptr) {
      error_line(std::string("standard input (-) holds one model, not two") + kHelpHint);
      return 2;
    }
    from_stdin = &scene;
  }
  if (from_stdin == nullptr) return 0;
  if (!args.depfile.empty()) {
    // Its rule could name only a file that is gone when make reads it.
    error_line(std::string("-: a model from standard input has no file for --depfile to name") +
               kHelpHint);
    return 2;
  }
  if (args.format.empty()) {
    error_line(std::string("-: a model from standard input needs --format EXT (obj, gltf, ply, ...)") +
               kHelpHint);
    return 2;
  }
  std::string error;
  if (!folder->read_stdin(args.format, from_stdin, &error)) {
    error_line(error);
    return 2;
  }
  name_stdin_scene(*from_stdin);
  return 0;
}

int plan_stdout_export(const Args &args, const std::vector<std::string> &scenes,
                       StreamFolder *folder, std::vector<std::string> *names) {
  if (!args.has_out || args.out != "-") return 0;
  std::string why;
  if (scenes.size() > 1) why = "-o - writes one model to standard output, not " +
                               std::to_string(scenes.size());
  else if (args.report == "-") why = "-o - and --report - cannot both use standard output";
  else if (args.extract_textures) why = "-o - cannot take --extract-textures (no folder to put them in)";
  else if (args.copy_textures) why = "-o - cannot take --copy-textures (no folder to put them in)";
  if (!why.empty()) {
    error_line(why + kHelpHint);
    return 2;
  }
  const std::string &scene = scenes[0];
  std::string stem = scene.empty() || scene_label(scene) == "-" ? "stdout" : scene;
  stem = stem.substr(stem.find_last_of('/') + 1);
  std::string error;
  if (!folder->export_name(stem, &(*names)[0], &error)) {
    error_line(error);
    return 1;
  }
  return 0;
}

bool send_to_stdout(const std::string &file, std::string *error) {
  std::fflush(stdout);
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const bool sent = fd >= 0 && copy_fd(fd, 1);
  if (!sent) *error = std::string("-: cannot write the export to standard output: ") +
                      std::strerror(errno);
  if (fd >= 0) close(fd);
  unlink(file.c_str());
  return sent;
}

}  // namespace cli
}  // namespace molv
