/*
 * Runs the built molv executable (or any program) in a child process for
 * end-to-end tests: given words, working folder and environment, optionally
 * under a file-size limit or as an unprivileged user, and hands back the
 * exit status with everything it wrote to standard output and error.
 */
#ifndef QEL_TESTS_SUPPORT_RUN_MOLV_H
#define QEL_TESTS_SUPPORT_RUN_MOLV_H

#include <string>
#include <utility>
#include <vector>

namespace qel_test {

struct RunOptions {
  std::vector<std::string> args;  // the words after the program name
  std::string cwd;                // empty: the test's own folder
  // Set in the child's environment (over the test's own), then removed.
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> unset_env;
  // RLIMIT_FSIZE in bytes, negative for none.  SIGXFSZ is ignored in the
  // child, so a write past the limit fails (EFBIG) instead of killing it.
  long file_size_limit = -1;
  // Run as nobody (only when the test runs as root; see child_process.h
  // for giving a folder to nobody).
  bool drop_privileges = false;
  // Sends one SIGINT (Ctrl-C) as soon as standard error holds this text;
  // empty: never.
  std::string interrupt_on;
  // The signals sent then instead, one after the other (a short pause
  // between, so that none is merged with the one before).
  std::vector<int> interrupt_signals;
  // They go to the program's child processes (the workers of --jobs)
  // instead of the program itself.
  bool interrupt_children = false;
  // Sends them as soon as the program has a child process (the reader of
  // a model), instead of waiting for a text.
  bool interrupt_on_child = false;
  // RLIMIT_AS in bytes, negative for none: the memory the program may have.
  long memory_limit = -1;
  // The child is killed when it runs longer.
  int timeout_seconds = 120;
  // The program run_molv runs instead of the molv the build made (a copy
  // that nobody may run, see MolvForNobody).
  std::string program;
  // The program sees an empty /proc (a private mount namespace, so root
  // only; see can_hide_proc): the plug-in can then give no nameless file
  // a name and makes its temporary file under a hidden name from the
  // start, as on a file system without nameless files.
  bool hide_proc = false;
};

struct RunResult {
  int exit_status = -1;  // the exit code; -1 when it did not exit
  int signal = 0;        // the signal that ended it, 0 when it exited
  bool timed_out = false;
  bool interrupted = false;  // interrupt_on was seen and SIGINT sent
  std::vector<int> children;  // the program's child processes then
  std::string out;
  std::string err;
};

RunResult run_program(const std::string &binary, const RunOptions &options);

// The molv the build made.
RunResult run_molv(const RunOptions &options);
RunResult run_molv(const std::vector<std::string> &args);

// True when a child can be given an empty /proc (hide_proc).
bool can_hide_proc();

// The molv program where nobody may run it, for the tests that drop
// privileges: the build may lie in a folder that only its owner can enter
// (a clone in a home folder or in a `mktemp -d` folder).  A copy in a
// fresh folder of mode 0755 under /tmp, removed with the object, also when
// the test fails.
class MolvForNobody {
 public:
  MolvForNobody();
  ~MolvForNobody();
  MolvForNobody(const MolvForNobody &) = delete;
  MolvForNobody &operator=(const MolvForNobody &) = delete;

  const std::string &program() const { return program_; }
  // Empty when nobody can run the copy and enter every one of `folders`;
  // else one line that says why not.
  std::string unusable_for(const std::vector<std::string> &folders) const;
  // Sets OPTIONS to run the copy as nobody, where nobody can run it and
  // reach the folders that hold PATHS; else the line that says why not.
  std::string use_for(const std::vector<std::string> &paths, RunOptions *options) const;

 private:
  std::string folder_;
  std::string program_;
  std::string error_;
};

// Waits (up to ten seconds) for process PID to end (a zombie has); false when not.
bool process_ends(int pid);

// The lines of a text, without their line ends (a last line without one
// counts too).
std::vector<std::string> text_lines(const std::string &text);

// The last line of `molv export`'s standard error before the summary and
// warnings of a complete export: the last status line or message.
std::string final_status(const std::string &err);

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_RUN_MOLV_H
