/*
 * The model's reader's file system: regular files only, never blocking.
 */
#include "import/model_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/DefaultIOStream.h>
#include <cstdio>
#include <cstring>

namespace molv {
namespace {

// Assimp's own stream over a FILE, whose constructor only its file system
// may call.
class FileStream : public Assimp::DefaultIOStream {
 public:
  FileStream(FILE *file, const std::string &name) : DefaultIOStream(file, name) {}
};

const char *kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

bool ModelFiles::Exists(const char *path) const {
  struct stat st;
  return path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

Assimp::IOStream *ModelFiles::Open(const char *path, const char *mode) {
  if (path == nullptr || mode == nullptr || std::strchr(mode, 'w') != nullptr ||
      std::strchr(mode, 'a') != nullptr || std::strchr(mode, '+') != nullptr) {
    return nullptr;  // the reader only reads
  }
  // O_NONBLOCK: opening a FIFO without a writer would wait for one.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (refusal_.empty()) {
      const char *kind = kind_of(st.st_mode);
      refusal_ = std::string(path) + (std::strcmp(kind, "not a regular file") == 0
                                          ? " is not a regular file"
                                          : std::string(" is ") + kind + ", not a regular file");
    }
    ::close(fd);
    return nullptr;
  }
  FILE *file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  if (std::find(opened_.begin(), opened_.end(), path) == opened_.end()) opened_.push_back(path);
  return new FileStream(file, path);
}

void ModelFiles::Close(Assimp::IOStream *stream) { delete stream; }

}  // namespace molv
