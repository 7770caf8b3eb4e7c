/*
 * Opening, completing and discarding the export file.
 */
#include "export/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "export/output.h"

namespace qel {
namespace {

std::string folder_of(const std::string &path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links the way opening the path would, also to a file
// that does not exist yet.  Gives the path itself after too many links.
std::string follow_links(const std::string &path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return current;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    if (!target.empty() && target[0] == '/') {
      current = target;
    } else {
      current = folder_of(current) + "/" + target;
    }
  }
  return path;
}

mode_t current_umask() {
  mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// A new hidden temporary file named after `base` in `folder`; -1 when none
// can be made there.
int make_temp(const std::string &folder, const std::string &base, std::string *path) {
  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) path->assign(name.data());
  return fd;
}

std::string temp_folder() {
  const char *folder = std::getenv("TMPDIR");
  return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// Every byte of `from` (from its start) into `to`.
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

int open_in_place(const std::string &path, bool regular) {
  // A pipe that nobody reads is refused at once instead of waited for.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (regular ? 0 : O_NONBLOCK),
                  0666);
  if (fd >= 0 && !regular) (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

TargetFile::~TargetFile() { discard(); }

bool TargetFile::open(const std::string &path) {
  target_ = follow_links(path);
  temp_.clear();
  in_place_ = false;
  removable_ = true;
  target_fd_ = -1;

  const std::string folder = folder_of(target_);
  const std::string::size_type slash = target_.rfind('/');
  const std::string base = target_.substr(slash == std::string::npos ? 0 : slash + 1);

  struct stat st;
  bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return false;
    if (::access(target_.c_str(), W_OK) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
      // A device or a pipe: the bytes go straight there.
      in_place_ = true;
      removable_ = false;
      fd_ = open_in_place(target_, false);
      active_ = fd_ >= 0;
      return active_;
    }
    // Several hard links: a rename would part them.
    if (st.st_nlink > 1) return open_for_copy(folder, base);
  }

  // The temporary file: hidden, beside the target, so the rename stays in
  // one file system.
  int fd = make_temp(folder, base, &temp_);
  if (fd < 0) {
    // No new file can be made in the folder: a writable target is written
    // in place.
    if (!exists) return false;
    return open_for_copy(temp_folder(), base);
  }
  if (exists) {
    (void)::fchown(fd, st.st_uid, st.st_gid);  // best effort: only root may
    (void)::fchmod(fd, st.st_mode & 07777);
  } else {
    (void)::fchmod(fd, 0666 & ~current_umask());
  }
  fd_ = fd;
  active_ = true;
  return true;
}

bool TargetFile::open_for_copy(const std::string &folder, const std::string &base) {
  in_place_ = true;
  // The target is opened now, so that one that cannot be written is refused
  // before the run, as a direct write would be.
  target_fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
  if (target_fd_ < 0) return false;
  int fd = make_temp(folder, base, &temp_);
  if (fd < 0 && folder != temp_folder()) fd = make_temp(temp_folder(), base, &temp_);
  if (fd < 0) {
    // Nowhere to keep the run: straight into the target.
    temp_.clear();
    if (::ftruncate(target_fd_, 0) != 0) {
      ::close(target_fd_);
      target_fd_ = -1;
      return false;
    }
    fd_ = target_fd_;
    target_fd_ = -1;
    active_ = true;
    return true;
  }
  fd_ = fd;
  active_ = true;
  return true;
}

bool TargetFile::commit() {
  if (!active_) return false;
  active_ = false;
  if (target_fd_ >= 0) {
    // The complete run goes into the target, which keeps its links.
    bool ok = ::ftruncate(target_fd_, 0) == 0 && copy_all(fd_, target_fd_);
    ok = ::close(target_fd_) == 0 && ok;
    target_fd_ = -1;
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
    // A copy cut short is removed, as a failed direct write would be.
    if (!ok) ::unlink(target_.c_str());
    return ok;
  }
  bool ok = ::close(fd_) == 0;
  fd_ = -1;
  if (ok && !in_place_) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok && removable_) ::unlink(written_path().c_str());
  return ok;
}

void TargetFile::discard() {
  if (!active_) return;
  active_ = false;
  ::close(fd_);
  fd_ = -1;
  if (target_fd_ >= 0) {
    // The target was never touched.
    ::close(target_fd_);
    target_fd_ = -1;
    ::unlink(temp_.c_str());
    return;
  }
  if (removable_) ::unlink(written_path().c_str());
}

}  // namespace qel
