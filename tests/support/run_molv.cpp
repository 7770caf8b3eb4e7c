/*
 * Child processes for end-to-end tests.  Everything the child needs is
 * prepared before fork (argument and environment arrays), so that between
 * fork and exec it only calls async-signal-safe functions.
 */
#include "support/run_molv.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "support/child_process.h"

extern char **environ;

namespace qel_test {
namespace {

// An empty /proc for this process and its children: a private mount
// namespace with a small tmpfs over it.
bool hide_proc_here() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("qel", "/proc", "tmpfs", 0, "size=16k") == 0;
}

std::vector<std::string> child_environment(const RunOptions &options) {
  std::map<std::string, std::string> env;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const char *equals = std::strchr(*entry, '=');
    if (equals == nullptr) continue;
    env[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
  }
  for (const auto &set : options.env) env[set.first] = set.second;
  for (const auto &name : options.unset_env) env.erase(name);
  // A sanitizer build's leak check of the window: the OpenGL driver Mesa
  // loads is unloaded at exit, and the blocks it keeps can then be neither
  // named nor suppressed.  Memory errors are still checked there.
  const auto asan = env.find("ASAN_OPTIONS");
  if (asan != env.end() && !options.args.empty() && options.args[0] == "gui")
    asan->second += ":detect_leaks=0";
  std::vector<std::string> list;
  for (const auto &entry : env) list.push_back(entry.first + "=" + entry.second);
  return list;
}

std::vector<char *> pointers(std::vector<std::string> &words) {
  std::vector<char *> list;
  for (auto &word : words) list.push_back(&word[0]);
  list.push_back(nullptr);
  return list;
}

// In the child, after fork: set up and exec, or report why not and exit.
[[noreturn]] void exec_child(const std::string &binary, char **argv, char **envp,
                             const RunOptions &options, int out_fd, int err_fd, unsigned uid,
                             unsigned gid) {
  auto die = [](const char *what) {
    const char *why = std::strerror(errno);
    (void)!::write(2, "run_program: ", 13);
    (void)!::write(2, what, std::strlen(what));
    (void)!::write(2, ": ", 2);
    (void)!::write(2, why, std::strlen(why));
    (void)!::write(2, "\n", 1);
    ::_exit(127);
  };
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0)
    ::_exit(127);
  // The test may have changed these; the program starts as from a shell.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(signal_number, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) die("chdir");
  if (options.file_size_limit >= 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.file_size_limit);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) die("setrlimit");
  }
  if (options.memory_limit >= 0) {
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.memory_limit);
    if (::setrlimit(RLIMIT_AS, &limit) != 0) die("setrlimit");
  }
  if (options.hide_proc && !hide_proc_here()) die("hiding /proc");
  if (options.drop_privileges && ::geteuid() == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
      die("dropping privileges");
  }
  ::execve(binary.c_str(), argv, envp);
  die(binary.c_str());
  ::_exit(127);
}

// The child processes of `pid`, as the kernel lists them.
std::vector<pid_t> child_processes(pid_t pid) {
  std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  for (long child = 0; list >> child;) children.push_back(static_cast<pid_t>(child));
  return children;
}

}  // namespace

RunResult run_program(const std::string &binary, const RunOptions &options) {
  RunResult result;
  std::vector<std::string> argv_words = {binary};
  argv_words.insert(argv_words.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_words = child_environment(options);
  std::vector<char *> argv = pointers(argv_words);
  std::vector<char *> envp = pointers(env_words);
  const unsigned uid = nobody_uid();
  const unsigned gid = nobody_gid();

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return result;
  }
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0)
    exec_child(binary, argv.data(), envp.data(), options, out_pipe[1], err_pipe[1], uid, gid);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (pid < 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    return result;
  }

  // Read both pipes until the child closes them, so that neither fills up.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    const bool watching = options.interrupt_on_child && !result.interrupted;
    const int ready = ::poll(fds, 2, watching ? 10 : static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
    const std::vector<pid_t> children =
        watching ? child_processes(pid) : std::vector<pid_t>();
    if (!children.empty() ||
        (!options.interrupt_on.empty() && !result.interrupted &&
         result.err.find(options.interrupt_on) != std::string::npos)) {
      const std::vector<pid_t> now = watching ? children : child_processes(pid);
      result.children.assign(now.begin(), now.end());
      std::vector<pid_t> targets{pid};
      if (options.interrupt_children) targets = child_processes(pid);
      const std::vector<int> signals =
          options.interrupt_signals.empty() ? std::vector<int>{SIGINT} : options.interrupt_signals;
      for (size_t i = 0; i < signals.size(); ++i) {
        if (i > 0) ::usleep(50000);
        for (const pid_t target : targets) ::kill(target, signals[i]);
      }
      result.interrupted = true;
    }
  }
  for (auto &fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

RunResult run_molv(const RunOptions &options) {
  return run_program(options.program.empty() ? MOLV_BINARY : options.program, options);
}

bool process_ends(int pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip, state;  // pid, (name) and state: a name without blanks
    if (!(stat >> skip >> skip >> state) || state == "Z") return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(10000);
  }
}

bool can_hide_proc() { return run_in_child(false, [] { return hide_proc_here() ? 0 : 1; }) == 0; }

MolvForNobody::MolvForNobody() {
  namespace fs = std::filesystem;
  // In /tmp whatever $TMPDIR says: a private $TMPDIR is out of nobody's reach.
  folder_ = try_make_temp_dir("molv", "/tmp");
  if (folder_.empty()) {
    error_ = "no folder can be made in /tmp: " + std::string(std::strerror(errno));
    return;
  }
  program_ = folder_ + "/molv";
  std::error_code error;
  fs::copy_file(MOLV_BINARY, program_, error);
  if (!error) fs::permissions(folder_, fs::perms(0755), error);
  if (!error) fs::permissions(program_, fs::perms(0755), error);
  if (error) error_ = "molv cannot be copied to " + folder_ + ": " + error.message();
}

MolvForNobody::~MolvForNobody() {
  if (!folder_.empty()) remove_tree(folder_);
}

std::string MolvForNobody::use_for(const std::vector<std::string> &paths,
                                   RunOptions *options) const {
  std::vector<std::string> folders;
  for (const std::string &path : paths)
    folders.push_back(std::filesystem::path(path).parent_path().string());
  std::string why = unusable_for(folders);
  if (!why.empty()) return why;
  options->program = program_;
  options->drop_privileges = true;
  return why;
}

std::string MolvForNobody::unusable_for(const std::vector<std::string> &folders) const {
  if (!error_.empty()) return error_;
  // Asked as nobody: the modes of every folder on the way, ACLs, a noexec
  // mount.
  const int rc = run_in_child(true, [&] {
    if (::access(program_.c_str(), X_OK) != 0) return 1;
    for (size_t i = 0; i < folders.size(); ++i)
      if (::access(folders[i].c_str(), X_OK) != 0) return static_cast<int>(2 + i);
    return 0;
  });
  if (rc == 0) return std::string();
  if (rc == 1) return "nobody may not run " + program_ + " (is /tmp mounted noexec?)";
  if (rc >= 2 && static_cast<size_t>(rc - 2) < folders.size())
    return "nobody may not enter " + folders[static_cast<size_t>(rc - 2)] + " (is TMPDIR private?)";
  return "no child process can drop to nobody";
}

RunResult run_molv(const std::vector<std::string> &args) {
  RunOptions options;
  options.args = args;
  return run_molv(options);
}

std::vector<std::string> text_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string final_status(const std::string &err) {
  std::vector<std::string> lines = text_lines(err);
  // A complete export ends with molv's summary, "wrote FILE (...): ...",
  // and its warnings, "molv: FILE: warning: ...".
  while (!lines.empty() && lines.back().find(": warning: ") != std::string::npos) lines.pop_back();
  if (!lines.empty() && lines.back().rfind("wrote ", 0) == 0) lines.pop_back();
  return lines.empty() ? std::string() : lines.back();
}

}  // namespace qel_test
