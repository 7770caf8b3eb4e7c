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

// A fresh temporary folder (removed with its contents by remove_tree).
std::string make_temp_dir(const std::string &tag);
void remove_tree(const std::string &path);
// Gives a tree to nobody, so a child that dropped privileges can use it.
void give_to_nobody(const std::string &path);

void write_file(const std::string &path, const std::string &bytes);

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_CHILD_PROCESS_H
