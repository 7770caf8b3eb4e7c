/*
 * Forked children for permission and limit tests.
 */
#include "support/child_process.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace qel_test {

unsigned nobody_uid() {
  const passwd *pw = ::getpwnam("nobody");
  return pw != nullptr ? pw->pw_uid : 65534u;
}

unsigned nobody_gid() {
  const passwd *pw = ::getpwnam("nobody");
  return pw != nullptr ? pw->pw_gid : 65534u;
}

int run_in_child(bool drop_privileges, const std::function<int()> &body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (drop_privileges && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(nobody_gid()) != 0 ||
          ::setuid(nobody_uid()) != 0) {
        ::_exit(99);
      }
    }
    int rc = body();
    std::fflush(nullptr);
    ::_exit(rc);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string make_temp_dir(const std::string &tag) {
  const char *folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") +
                        "/qel_" + tag + "_XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) std::abort();
  return pattern;
}

void remove_tree(const std::string &path) {
  ::nftw(
      path.c_str(),
      [](const char *p, const struct stat *, int, struct FTW *) { return ::remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

bool makes_nameless_files(const std::string &folder) {
  const int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void give_to_nobody(const std::string &path) {
  static unsigned uid, gid;
  uid = nobody_uid();
  gid = nobody_gid();
  ::nftw(
      path.c_str(),
      [](const char *p, const struct stat *, int, struct FTW *) {
        (void)::lchown(p, uid, gid);
        return 0;
      },
      16, FTW_PHYS);
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace qel_test
