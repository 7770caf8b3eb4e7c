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

  struct stat st;
  bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return false;
    if (::access(target_.c_str(), W_OK) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) {
      in_place_ = true;
      removable_ = S_ISREG(st.st_mode);
      fd_ = open_in_place(target_, removable_);
      active_ = fd_ >= 0;
      return active_;
    }
  }

  // The temporary file: hidden, beside the target, so the rename stays in
  // one file system.
  std::string folder = folder_of(target_);
  std::string base = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    // No new file can be made in the folder: a writable target is written
    // in place, as a direct write would.
    if (!exists) return false;
    in_place_ = true;
    fd_ = open_in_place(target_, true);
    active_ = fd_ >= 0;
    return active_;
  }
  temp_.assign(name.data());
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

bool TargetFile::commit() {
  if (!active_) return false;
  active_ = false;
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
  if (removable_) ::unlink(written_path().c_str());
}

}  // namespace qel
