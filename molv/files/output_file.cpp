/*
 * Files a run writes besides the export, prepared beside their names.
 */
#include "files/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "files/write_all.h"
#include "files/path_parts.h"

namespace molv {
namespace {

// A short hidden name (".molv." and six random characters); ATTEMPT
// varies it where no random bytes are to be had.
std::string hidden_name(int attempt) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    unsigned long mix = static_cast<unsigned long>(::getpid()) * 2654435761UL + attempt;
    for (unsigned char &byte : random) {
      byte = static_cast<unsigned char>(mix >> 24);
      mix = mix * 6364136223846793005UL + 1442695040888963407UL;
    }
  }
  std::string name = ".molv.";
  for (unsigned char byte : random) name += kChars[byte % (sizeof kChars - 1)];
  return name;
}

// Tries hidden names until MAKE(name) succeeds (the name in *name); one
// taken already means another try.
template <class Make>
bool under_hidden_name(Make make, std::string *name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = hidden_name(attempt);
    if (make(candidate)) {
      *name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A new hidden file in the folder, for a file system without nameless
// files.  -1 when none can be made.
int make_named(int folder_fd, std::string *name) {
  int fd = -1;
  under_hidden_name(
      [&](const std::string &candidate) {
        fd = ::openat(folder_fd, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        return fd >= 0;
      },
      name);
  return fd;
}

// Gives the nameless file FD a hidden name in the folder.
bool give_name(int folder_fd, int fd, std::string *name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return under_hidden_name(
      [&](const std::string &candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), folder_fd, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
               0;
      },
      name);
}

// A file without a name in the folder (or a named one where the file
// system has none; its name in *temp).
int make_prepared(int folder_fd, std::string *temp) {
  if (::access("/proc/self/fd", X_OK) == 0) {
    const int fd = ::openat(folder_fd, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
  return make_named(folder_fd, temp);
}

bool sync_file(int fd) {
  while (::fsync(fd) != 0) {
    if (errno == EINVAL) return true;
    if (errno != EINTR) return false;
  }
  return true;
}

bool copy_fd(int from, int to) {
  std::vector<char> buffer(std::size_t{1} << 16);
  for (;;) {
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace

std::string follow_name_links(const std::string &path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    if (current.compare(0, 6, "/proc/") == 0) return path;
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return path;
    const std::string target(buf.data(), static_cast<std::size_t>(n));
    current = !target.empty() && target[0] == '/' ? target : folder_of(current) + "/" + target;
  }
  return path;
}

bool copy_regular_file(const std::string &from, int out_fd, std::string *error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (in < 0 || ::fstat(in, &st) != 0) {
    *error = std::strerror(errno);
    if (in >= 0) ::close(in);
    return false;
  }
  bool ok = S_ISREG(st.st_mode);
  if (!ok) *error = "not a regular file";
  if (ok && !copy_fd(in, out_fd)) {
    *error = std::strerror(errno);
    ok = false;
  }
  ::close(in);
  return ok;
}

void OutputFile::close_all() {
  for (int *fd : {&fd_, &folder_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

// A pipe, terminal or device: never waited for, never replaced; a file
// open as standard error (APPEND) gets the log after what it holds.
bool OutputFile::open_stream(const std::string &path, bool append) {
  fd_ =
      ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0));
  if (fd_ < 0) return false;
  (void)::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  kind_ = Kind::kStream;
  active_ = true;
  return true;
}

// The prepared file takes the mode a new file gets, or (EARLIER) what the
// earlier file was set up with; where that cannot be (several hard links,
// an owner not ours to give) the content will be copied in instead.
bool OutputFile::set_up_like(const struct stat *earlier) {
  if (earlier == nullptr) return ::fchmod(fd_, new_file_mode()) == 0;
  struct stat mine;
  if (::fstat(fd_, &mine) != 0) return false;
  const bool owner = (mine.st_uid == earlier->st_uid && mine.st_gid == earlier->st_gid) ||
                     ::fchown(fd_, earlier->st_uid, earlier->st_gid) == 0;
  if (earlier->st_nlink > 1 || !owner) kind_ = Kind::kCopyIn;
  return ::fchmod(fd_, earlier->st_mode & 07777) == 0;
}

bool OutputFile::open(const std::string &path, bool streams, std::string *error) {
  discard();
  path_ = path;
  name_ = name_of(path);
  temp_.clear();
  replaces_ = false;
  kind_ = Kind::kRename;
  auto fail = [&](const char *why) {
    *error = why != nullptr ? why : std::strerror(errno);
    close_all();
    return false;
  };
  if (name_.empty() || name_ == "." || name_ == "..") return fail("not a file name");
  struct stat st {
  }, followed{};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return fail(nullptr);
  const bool link = exists && S_ISLNK(st.st_mode);
  const bool leads = link && ::stat(path.c_str(), &followed) == 0;
  // A link through /proc (/dev/stderr) names an open file, not a path.
  const bool open_file = leads && follow_name_links(path) == path;
  if ((exists && !link && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) ||
      (leads && !S_ISREG(followed.st_mode) && !S_ISDIR(followed.st_mode)) ||
      (streams && open_file)) {
    if (!streams) return fail("not a regular file");
    if (!open_stream(path, open_file))
      return fail(errno == ENXIO ? "a pipe that nobody reads" : nullptr);
    return true;
  }
  if (exists && S_ISDIR(st.st_mode)) return fail("a folder stands at that name");
  const std::string folder = folder_of(path);
  folder_fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) folder_fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) return fail(nullptr);
  replaces_ = exists;
  const bool regular = exists && !link;
  if (regular && ::access(path.c_str(), W_OK) != 0) return fail(nullptr);
  fd_ = make_prepared(folder_fd_, &temp_);
  if (fd_ < 0) return fail(nullptr);
  if (!set_up_like(regular ? &st : nullptr)) {
    const int saved = errno;
    if (!temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
    temp_.clear();
    errno = saved;
    return fail(nullptr);
  }
  active_ = true;
  return true;
}

bool OutputFile::copy_in() {
  const int target =
      ::openat(folder_fd_, name_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat run, st;
  bool ok =
      target >= 0 && ::fstat(target, &st) == 0 && S_ISREG(st.st_mode) && ::fstat(fd_, &run) == 0;
  if (ok && run.st_size > 0) {
    // The space first, while the earlier content is still whole.
    const int error = ::posix_fallocate(target, 0, run.st_size);
    ok = error == 0 || error == EOPNOTSUPP;
    if (!ok) errno = error;
  }
  if (ok) {
    ok = ::lseek(fd_, 0, SEEK_SET) == 0 && copy_fd(fd_, target) &&
         ::ftruncate(target, run.st_size) == 0 && sync_file(target);
    if (!ok) (void)::ftruncate(target, 0);
  }
  const int saved = errno;
  if (target >= 0) ::close(target);
  errno = saved;
  return ok;
}

bool OutputFile::commit() {
  if (!active_) return false;
  active_ = false;
  bool ok = true;
  if (kind_ == Kind::kCopyIn) {
    ok = copy_in();
  } else if (kind_ == Kind::kRename) {
    ok = sync_file(fd_) && (!temp_.empty() || give_name(folder_fd_, fd_, &temp_)) &&
         ::renameat(folder_fd_, temp_.c_str(), folder_fd_, name_.c_str()) == 0;
    const int saved = errno;
    if (!ok && !temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
    if (ok) (void)::fsync(folder_fd_);
    errno = saved;
  }
  temp_.clear();
  const int saved = errno;
  close_all();
  errno = saved;
  return ok;
}

void OutputFile::discard() {
  if (active_ && kind_ != Kind::kStream && !temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
  active_ = false;
  temp_.clear();
  close_all();
}

}  // namespace molv
