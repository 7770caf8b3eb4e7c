/*
 * The option string in memory and in its file qel_export.opt.
 */
#include "binding/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/output.h"

namespace qel {

namespace {

// A new process starts with the default, set before any code runs.
detail::OptionText g_text = detail::kDefaultOptionText;
char *const g_options = g_text.chars;
std::string g_options_path;

}  // namespace

char *option_string() { return g_options; }

void options_take_over(const char *text) {
  if (text == nullptr) return;
  // Only the first 50 characters count: the string never grows.
  for (int i = 0; i < kOptionCount && text[i] != '\0'; ++i) g_options[i] = text[i];
}

const std::string &options_path() { return g_options_path; }

void set_options_path(const std::string &plugin_dir) {
  // Separators stay as they are: on this system a backslash is an ordinary
  // character of a file name, and "/" is already the native separator.
  g_options_path = plugin_dir + "/qel_export.opt";
}

int options_load() {
  // Only a regular file is read: a pipe or a device there must never hold
  // up the start (the open does not wait, the check refuses it).
  int fd = ::open(g_options_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return 1;
  }
  // A short file replaces only the leading characters; a NUL byte read from
  // the file must not shorten the string, so it is taken as a clear option.
  char bytes[kOptionCount];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  for (std::size_t i = 0; i < got; ++i) g_options[i] = bytes[i] == '\0' ? '0' : bytes[i];
  return 0;
}

int options_save() {
  // Written into a new file beside the old one and renamed over it: a link
  // there is replaced, never written through, and a save that fails leaves
  // the old file as it was.
  std::string pattern = g_options_path + ".XXXXXX";
  const std::string::size_type slash = pattern.rfind('/');
  pattern.insert(slash == std::string::npos ? 0 : slash + 1, ".");
  std::vector<char> temp(pattern.begin(), pattern.end());
  temp.push_back('\0');
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return 1;
  struct stat st;
  mode_t mode;
  if (::lstat(g_options_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    mode = ::umask(022);
    ::umask(mode);
    mode = 0666 & ~mode;
  }
  // On the disk before the rename, so that a crash leaves the old options
  // or the new ones, never an empty file.
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, g_options, kOptionCount) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.data(), g_options_path.c_str()) == 0;
  if (!ok) ::unlink(temp.data());
  return ok ? 0 : 1;
}

}  // namespace qel
