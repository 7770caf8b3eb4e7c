/*
 * Forked children for permission and limit tests.
 */
#include "support/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

namespace {

// A test killed outright (a time limit, SIGKILL) cannot remove its
// folders, so each one's name carries the id of the process that made it
// ("qel_TAG_PID_XXXXXX"), and the next test to make one in BASE removes
// those of processes that are gone.
void sweep_folders_of_gone_runs(const std::string &base) {
  DIR *dir = ::opendir(base.c_str());
  if (dir == nullptr) return;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind("qel_", 0) != 0) continue;
    const size_t last = name.rfind('_');
    const size_t before = last == std::string::npos || last == 0 ? std::string::npos
                                                                 : name.rfind('_', last - 1);
    if (before == std::string::npos || before + 1 >= last) continue;
    const std::string digits = name.substr(before + 1, last - before - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    struct stat st {};
    const std::string path = base + "/" + name;
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH && ::lstat(path.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
      remove_tree(path);
  }
  ::closedir(dir);
}

}  // namespace

std::string try_make_temp_dir(const std::string &tag, const std::string &in) {
  const char *folder = std::getenv("TMPDIR");
  const std::string base =
      !in.empty() ? in : folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  sweep_folders_of_gone_runs(base);
  std::string pattern = base + "/qel_" + tag + "_" + std::to_string(::getpid()) + "_XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) return std::string();
  return pattern;
}

std::string make_temp_dir(const std::string &tag) {
  std::string folder = try_make_temp_dir(tag, "");
  if (folder.empty()) std::abort();
  return folder;
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
