/*
 * New files beside a name, for a rename over it.
 */
#include "common/file_beside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace molv {

int open_beside(const std::string &path, std::string *temp) {
  std::string pattern = path + ".XXXXXX";
  const std::string::size_type slash = pattern.rfind('/');
  pattern.insert(slash == std::string::npos ? 0 : slash + 1, ".");
  const int fd = ::mkostemp(&pattern[0], O_CLOEXEC);
  if (fd >= 0) *temp = pattern;
  return fd;
}

mode_t new_file_mode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

bool write_all(int fd, const void *data, std::size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace molv
