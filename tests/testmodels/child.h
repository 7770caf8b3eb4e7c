/*
 * The processes of the test-model check: each read of a model and each
 * molv run happens in a child process of its own, under a time limit and
 * (but under the address sanitizer, which needs the address space) a
 * memory limit, so a model that makes Assimp allocate without end is a
 * model Assimp does not read, and a crash or a hang is a failure of that
 * file, not of the whole run.
 */
#ifndef QEL_TESTS_TESTMODELS_CHILD_H
#define QEL_TESTS_TESTMODELS_CHILD_H

#include <functional>
#include <string>

namespace testmodels {

// The memory limit, and SIGALRM after `seconds` (0: none).
void limit_child(unsigned seconds);

// How a child ended, for a message: "exit status 1", "did not end in time".
std::string termination(int status);

struct ChildRun {
  std::string reply;  // everything the child sent, also when it died later
  int status = 0;     // of waitpid
};

// Runs `work` in a child process under the limits; `send` passes text to
// the parent at once.
using Send = std::function<void(const std::string &)>;
ChildRun run_child(unsigned seconds, const std::function<void(const Send &)> &work);

struct MolvRun {
  int status = 0;  // of waitpid
  std::string err;
};

// `molv export MODEL -o OUT --defaults --quiet --plugin-dir DIR`, standard
// error kept (through `err_file`).
MolvRun run_molv(const std::string &molv, const std::string &plugin_dir, const std::string &model,
                 const std::string &out, const std::string &err_file);

// A folder of the run's own, removed with whatever is in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testmodels

#endif
