/*
 * Runs a piece of a test in a forked child: as an unprivileged user (tests
 * run as root on CI, where no permission check would ever fail) or under a
 * file-size limit.
 */
#ifndef QEL_TESTS_SUPPORT_CHILD_PROCESS_H
#define QEL_TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>
#include <string>

namespace qel_test {

// The uid and gid of "nobody" (65534 when the user database has none).
unsigned nobody_uid();
unsigned nobody_gid();

// Forks; the child drops to nobody when `drop_privileges` is set, then
// returns body()'s value as its exit status.  Returns that status, or -1 on
// a crash.
int run_in_child(bool drop_privileges, const std::function<int()> &body);

// A fresh temporary folder in $TMPDIR or /tmp (removed with its contents by
// remove_tree).  Folders that tests killed outright left there are removed
// first.  try_make_temp_dir makes it in IN (if not empty) and gives "" where
// make_temp_dir would abort.
std::string make_temp_dir(const std::string &tag);
std::string try_make_temp_dir(const std::string &tag, const std::string &in);
void remove_tree(const std::string &path);

// True when the file system of `folder` makes files without a name
// (O_TMPFILE), which an export uses so that a run that dies leaves nothing.
bool makes_nameless_files(const std::string &folder);

// A fresh temporary folder that goes, with what was put in it, when the
// object does: also when the test fails.
class TempDir {
 public:
  explicit TempDir(const std::string &tag) : path_(make_temp_dir(tag)) {}
  ~TempDir() { remove_tree(path_); }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};
// Gives a tree to nobody, so a child that dropped privileges can use it.
void give_to_nobody(const std::string &path);

void write_file(const std::string &path, const std::string &bytes);

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_CHILD_PROCESS_H
