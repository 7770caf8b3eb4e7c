/*
 * A file of the run's own, put in place when the run ends.
 */
#include "cli/run_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "files/write_all.h"

namespace molv {
namespace cli {

bool RunOutput::open(const std::string &path, const char *what, std::string *error) {
  what_ = what;
  std::string why;
  if (!file_.open(path, true, &why)) {
    *error = path + ": cannot write the " + what_ + ": " + why;
    return false;
  }
  fd_ = file_.fd();
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags | O_APPEND);
  return true;
}

void RunOutput::write(const std::string &text) {
  if (fd_ < 0 || write_errno_ != 0) return;
  std::fflush(stdout);
  if (!write_all(fd_, text.data(), text.size())) write_errno_ = errno != 0 ? errno : EIO;
}

bool *RunOutput::taken() {
  if (taken_ == nullptr) {
    void *memory = ::mmap(nullptr, sizeof(bool), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    taken_ = memory == MAP_FAILED ? &own_taken_ : new (memory) bool(false);
  }
  return taken_;
}

bool RunOutput::finish(bool keep, std::string *error) {
  if (fd_ < 0) return true;
  // A run that wrote nothing into it (every model refused) leaves an
  // earlier file as it was.
  struct stat st {};
  const bool empty = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
  fd_ = -1;
  keep = keep && !*taken() && !(empty && file_.replaces());
  if (write_errno_ == 0 && !keep) {
    file_.discard();
    return true;
  }
  if (write_errno_ == 0 && file_.commit()) return true;
  const int why = write_errno_ != 0 ? write_errno_ : errno;
  file_.discard();
  *error = file_.path() + ": cannot write the " + what_ + ": " + std::strerror(why);
  return false;
}

}  // namespace cli
}  // namespace molv
