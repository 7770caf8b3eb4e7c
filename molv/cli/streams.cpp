/*
 * Standard input and output as a model and an export.
 */
#include "cli/streams.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console.h"

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

StreamFolder::~StreamFolder() {
  if (path_.empty()) return;
  // Only what this run put there.
  if (DIR *dir = opendir(path_.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((path_ + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(path_.c_str());
}

bool StreamFolder::make(std::string *error) {
  if (!path_.empty()) return true;
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/molv-stream-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = "cannot make a private folder in " + pattern.substr(0, pattern.rfind('/')) + ": " +
             std::strerror(errno);
    return false;
  }
  path_ = pattern;
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
