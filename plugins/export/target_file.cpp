/*
 * Opening, completing and discarding the export file.
 */
#include "export/target_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/output.h"

namespace qel {
namespace {

std::string folder_of(const std::string &path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string name_of(const std::string &path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

enum class Resolved { kPath, kNoPath, kFailed };

// Follows symbolic links the way opening the path would, also to a file
// that does not exist yet.  kNoPath for a link of /proc, which names an open
// file rather than a path; kFailed for a loop or a link that cannot be read.
Resolved follow_links(const std::string &path, std::string *resolved) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) return Resolved::kFailed;
      *resolved = current;
      return Resolved::kPath;
    }
    if (!S_ISLNK(st.st_mode)) {
      *resolved = current;
      return Resolved::kPath;
    }
    if (current.compare(0, 6, "/proc/") == 0) return Resolved::kNoPath;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return Resolved::kFailed;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    current = !target.empty() && target[0] == '/' ? target : folder_of(current) + "/" + target;
  }
  return Resolved::kFailed;
}

mode_t current_umask() {
  mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// A hidden name for a temporary file: ".qel_export." and eight random
// characters, short whatever the target's name; `attempt` varies it where
// no random bytes are to be had.
std::string temp_name(unsigned attempt) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[8];
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long mix = static_cast<unsigned long>(now.tv_nsec) * 2654435761UL ^
                        static_cast<unsigned long>(::getpid()) << 16 ^ attempt;
    for (unsigned char &byte : random) {
      byte = static_cast<unsigned char>(mix);
      mix = mix * 6364136223846793005UL + 1442695040888963407UL;
    }
  }
  std::string name = ".qel_export.";
  for (unsigned char byte : random) name += kChars[byte % (sizeof kChars - 1)];
  return name;
}

// Tries temp_names until make(candidate) succeeds, then gives it in *name;
// a name taken already (EEXIST) means another try.  False when make fails
// otherwise, or every try finds its name taken.
template <class Make>
bool under_new_name(Make make, std::string *name) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temp_name(attempt);
    if (make(candidate)) {
      *name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A new hidden file in the folder under a temp_name.  -1 when none can be
// made.
int make_named_temp(int folder_fd, std::string *name) {
  int fd = -1;
  under_new_name(
      [&](const std::string &candidate) {
        fd = ::openat(folder_fd, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        return fd >= 0;
      },
      name);
  return fd;
}

// A new file in the folder that has no name until the run is complete, so
// that a run that dies (a crash, SIGKILL, a power cut) leaves nothing
// behind.  -1 where the file system has no such files, or where one could
// not be named later (no /proc).
int make_nameless_in(int folder_fd) {
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  return ::openat(folder_fd, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
}

// Gives the nameless file `fd` a temp_name in the folder.  False when no
// name can be given.
bool give_name(int folder_fd, int fd, std::string *name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return under_new_name(
      [&](const std::string &candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), folder_fd, candidate.c_str(),
                        AT_SYMLINK_FOLLOW) == 0;
      },
      name);
}

std::string temp_folder() {
  const char *folder = std::getenv("TMPDIR");
  return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// A temporary file without a name: in `folder` (empty: none), else in the
// temporary folder, else in memory.  -1 when none can be made.
int make_unnamed_temp(const std::string &folder) {
  for (const std::string &dir : {folder, temp_folder()}) {
    if (dir.empty()) continue;
    int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A file system without unnamed files: a named one, removed at once.
    int dir_fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) continue;
    std::string name;
    fd = make_named_temp(dir_fd, &name);
    if (fd >= 0) ::unlinkat(dir_fd, name.c_str(), 0);
    ::close(dir_fd);
    if (fd >= 0) return fd;
  }
  return ::memfd_create("qel_export", MFD_CLOEXEC);
}

// The file's data on the disk.  A file system that cannot sync at all
// (EINVAL) is taken as it is.
bool sync_file(int fd) {
  while (::fsync(fd) != 0) {
    if (errno == EINVAL) return true;
    if (errno != EINTR) return false;
  }
  return true;
}

// The extended attributes of `path` (ACLs and security labels among them)
// on the file `fd`.  False when one cannot be set there.
bool copy_attributes(const std::string &path, int fd) {
  ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> names(static_cast<std::size_t>(size) + 1, '\0');
  size = ::listxattr(path.c_str(), names.data(), names.size() - 1);
  if (size < 0) return false;
  for (const char *name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    ssize_t length = ::getxattr(path.c_str(), name, nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<std::size_t>(length) + 1);
    length = ::getxattr(path.c_str(), name, value.data(), value.size() - 1);
    if (length < 0) return false;
    // One the new file has already (a label the folder gives) needs no right.
    std::vector<char> have(value.size());
    ssize_t had = ::fgetxattr(fd, name, have.data(), have.size());
    if (had == length && std::memcmp(have.data(), value.data(), static_cast<std::size_t>(length)) == 0)
      continue;
    if (::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(length), 0) != 0) return false;
  }
  return true;
}

// Every byte of `from` (from its start) into `to` at its position.
bool copy_all(int from, int to) {
  if (::lseek(from, 0, SEEK_SET) != 0) return false;
  std::vector<char> buffer(std::size_t{1} << 16);
  for (;;) {
    ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace

TargetFile::~TargetFile() {
  discard();
  close_all();
}

void TargetFile::close_all() {
  for (int *fd : {&fd_, &target_fd_, &folder_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

bool TargetFile::open(const std::string &path) {
  discard();
  close_all();
  target_.clear();
  temp_.clear();
  kind_ = Kind::kReplace;

  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    // A link that loops, a folder that may not be searched: refused as the
    // open would be.  A new name (or a dangling link) is made.
    if (errno != ENOENT || follow_links(path, &target_) != Resolved::kPath) return false;
    return open_replace(nullptr);
  }
  if (S_ISDIR(st.st_mode)) return false;
  // A pipe, a terminal, a device: the complete run is sent there.
  if (!S_ISREG(st.st_mode)) return open_in_place(path, Kind::kStream);
  if (::access(path.c_str(), W_OK) != 0) return false;
  const Resolved resolved = follow_links(path, &target_);
  if (resolved == Resolved::kFailed) return false;
  struct stat named;
  // A link of /proc (/dev/stdout on a file) or a file removed meanwhile
  // names no path to put a file at: the run goes in through the link.
  if (resolved == Resolved::kNoPath || ::stat(target_.c_str(), &named) != 0 ||
      named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
    target_.clear();
    return open_in_place(path, Kind::kCopy);
  }
  // Several hard links: a rename would part them.
  if (st.st_nlink > 1) return open_in_place(path, Kind::kCopy);
  return open_replace(&st) || open_in_place(path, Kind::kCopy);
}

bool TargetFile::open_replace(const struct stat *existing) {
  // The temporary file lies beside the target, so that the rename stays in
  // one file system; the folder is held open for the names and the sync.
  const std::string folder = folder_of(target_);
  folder_fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) folder_fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) return false;
  fd_ = make_nameless_in(folder_fd_);
  if (fd_ < 0) fd_ = make_named_temp(folder_fd_, &temp_);
  bool ok = fd_ >= 0;
  if (ok && existing == nullptr) {
    ok = ::fchmod(fd_, 0666 & ~current_umask()) == 0;
  } else if (ok) {
    // The replacement is the target as the user set it up, or the run is
    // copied in instead.  fchown clears set-id bits: the mode comes after.
    struct stat mine;
    ok = ::fstat(fd_, &mine) == 0 &&
         ((mine.st_uid == existing->st_uid && mine.st_gid == existing->st_gid) ||
          ::fchown(fd_, existing->st_uid, existing->st_gid) == 0) &&
         ::fchmod(fd_, existing->st_mode & 07777) == 0 && copy_attributes(target_, fd_);
  }
  if (!ok) {
    if (!temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
    close_all();
    temp_.clear();
    return false;
  }
  kind_ = Kind::kReplace;
  active_ = true;
  return true;
}

bool TargetFile::open_in_place(const std::string &path, Kind kind) {
  // The target is opened now, so that one that cannot be written is refused
  // before the run; a pipe that nobody reads is refused, not waited for.
  const bool stream = kind == Kind::kStream;
  target_fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (stream ? O_NONBLOCK : 0));
  if (target_fd_ < 0) return false;
  if (stream) (void)::fcntl(target_fd_, F_SETFL, ::fcntl(target_fd_, F_GETFL) & ~O_NONBLOCK);
  fd_ = make_unnamed_temp(stream || target_.empty() ? std::string() : folder_of(target_));
  if (fd_ < 0) {
    close_all();
    return false;
  }
  kind_ = kind;
  active_ = true;
  return true;
}

bool TargetFile::commit() {
  if (!active_) return false;
  active_ = false;
  const bool ok = kind_ == Kind::kReplace ? rename_into_target() : copy_into_target();
  close_all();
  return ok;
}

bool TargetFile::rename_into_target() {
  // The data reach the disk before they replace the earlier file, and the
  // new name reaches it after.  The folder's sync is the file system's to
  // give (a folder that may not be read cannot be synced).
  if (!sync_file(fd_)) {
    if (!temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
    return false;
  }
  // A nameless run that cannot be given a name (a /proc that refuses the
  // link) is copied in.
  if (temp_.empty() && !give_name(folder_fd_, fd_, &temp_)) return copy_in_by_name();
  if (::renameat(folder_fd_, temp_.c_str(), folder_fd_, name_of(target_).c_str()) == 0) {
    (void)::fsync(folder_fd_);
    return true;
  }
  // A sticky folder refuses to replace another's file that this user may
  // still write: the complete run goes in there.
  const bool ok = (errno == EPERM || errno == EACCES) && copy_in_by_name();
  ::unlinkat(folder_fd_, temp_.c_str(), 0);
  return ok;
}

bool TargetFile::copy_in_by_name() {
  // Made when it does not exist, with the run's mode; never through a link.
  struct stat run;
  if (::fstat(fd_, &run) != 0) return false;
  target_fd_ = ::openat(folder_fd_, name_of(target_).c_str(),
                        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, run.st_mode & 07777);
  struct stat st;
  return target_fd_ >= 0 && ::fstat(target_fd_, &st) == 0 && S_ISREG(st.st_mode) &&
         copy_into_target();
}

bool TargetFile::copy_into_target() {
  struct stat run;
  if (::fstat(fd_, &run) != 0) return false;
  if (kind_ == Kind::kStream) return copy_all(fd_, target_fd_);

  struct stat before;
  if (::fstat(target_fd_, &before) != 0) return false;
  // The space first, while the earlier content is still whole: a full disk
  // fails here and leaves it as it was.
  if (run.st_size > 0) {
    const int error = ::posix_fallocate(target_fd_, 0, run.st_size);
    if (error != 0 && error != EOPNOTSUPP) {
      if (run.st_size > before.st_size) (void)::ftruncate(target_fd_, before.st_size);
      return false;
    }
  }
  bool ok = ::lseek(target_fd_, 0, SEEK_SET) == 0 && copy_all(fd_, target_fd_) &&
            ::ftruncate(target_fd_, run.st_size) == 0 && sync_file(target_fd_);
  // A copy cut short after it began (an I/O error) leaves an empty file,
  // never one that looks complete.
  if (!ok) (void)::ftruncate(target_fd_, 0);
  return ok;
}

void TargetFile::discard() {
  if (!active_) return;
  active_ = false;
  if (kind_ == Kind::kReplace && !temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
  close_all();
}

}  // namespace qel
