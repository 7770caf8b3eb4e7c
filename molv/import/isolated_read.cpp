/*
 * A reader's planner in a child process, the model's plan handed back.
 */
#include "import/isolated_read.h"

#include <poll.h>
#include <pthread.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <string>

#include "files/write_all.h"
#include "import/plan_wire.h"

namespace molv {
namespace {

// The child's exit status when its memory ran out.
constexpr int kOutOfMemory = 5;
// The byte on the progress pipe that says the answer is whole (progress
// itself goes up to 90).
constexpr unsigned char kAnswerWhole = 200;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The bytes of address space this process has now (0 when unknown).
std::uint64_t address_space() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  return statm >> pages ? pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

// The reader may take BYTES (0: no limit) on top of what the process has:
// an allocation beyond ends the child at once with kOutOfMemory, whoever
// asked for it (a reader that catches bad_alloc would go on half-read).
void bound_memory(std::uint64_t bytes) {
  if (bytes == 0) return;
  const std::uint64_t limit = address_space() + bytes;
  const struct rlimit bound = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
  (void)::setrlimit(RLIMIT_AS, &bound);
  std::set_new_handler([] { ::_exit(kOutOfMemory); });
}

// The forked child, before it reads: it dies with the thread that started
// it (a molv ended by SIGKILL included; if that happened already, it ends
// now), the signals that end molv end it too, and what a reader prints
// goes nowhere near molv's standard output and error.
void become_reader(pid_t parent) {
  (void)::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(kOutOfMemory + 1);
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) {
    std::signal(signal, SIG_DFL);
    sigaddset(&ending, signal);
  }
  (void)::sigprocmask(SIG_UNBLOCK, &ending, nullptr);
  const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd >= 0) {
    (void)::dup2(null_fd, STDOUT_FILENO);
    (void)::dup2(null_fd, STDERR_FILENO);
  }
}

// The child: runs READER's planner on PATH, lets go of whatever the reader
// held, and only then writes the answer to ANSWER_FD, so that a crash
// anywhere in the reader (freeing a deep scene included) leaves no answer.
// How far the read got goes to PROGRESS_FD (one byte per new percentage;
// none when it is negative).  Its exit status.
int read_in_child(const ModelReader &reader, const std::string &path, int answer_fd,
                  int progress_fd, std::uint64_t memory_bytes) {
  // The allocator as it comes: molv keeps every freed page for its model
  // and export (host_memory.h), but a reader's large arrays are better
  // mapped on their own, to be given back whole when the reader frees
  // them, not merged into a heap of millions of small blocks.
  (void)mallopt(M_MMAP_MAX, 65536);
  bound_memory(memory_bytes);
  // A crash leaves no core file behind, and ends the child by its signal
  // whatever handler the process had (a sanitizer build's would print a
  // report of its own and exit).
  const struct rlimit none = {0, 0};
  (void)::setrlimit(RLIMIT_CORE, &none);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, SIG_DFL);
  int told = -1;
  const auto tell = [progress_fd, &told](int percent) {
    if (progress_fd < 0 || percent == told) return;
    told = percent;
    const unsigned char byte = static_cast<unsigned char>(percent);
    (void)write_all(progress_fd, &byte, 1);
  };
  // The read is most of the time; planning the model the rest.
  const std::function<void(int)> reading = [&tell](int percent) { tell(percent * 8 / 10); };
  PlannedRead read;
  try {
    reader.plan(path, reading, &read);
  } catch (const std::bad_alloc &) {
    return kOutOfMemory;
  } catch (...) {
    return 3;
  }
  tell(90);
  WireOut answer(answer_fd);
  (void)answer.count(read.opened);
  for (const std::string &name : read.opened) (void)answer.text(name);
  (void)(answer.text(read.refusal) && answer.text(read.error) && answer.pod(read.state));
  if (read.state == PlannedRead::kPlanned) (void)send_plan(answer, read.plan);
  if (!answer.finish()) return 3;
  // The answer is whole: molv takes it while this process ends.
  const unsigned char whole = kAnswerWhole;
  if (progress_fd >= 0) (void)write_all(progress_fd, &whole, 1);
  return 0;
}

std::string child_end(int status, const ReadLimits &limits, ReadEnd *end) {
  *end = ReadEnd::kFailed;
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    // Ended from outside (a signal that ends molv too), not by the file.
    const bool stopped =
        signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGKILL;
    return std::string(stopped ? "the model's reader was stopped"
                               : "the model's reader crashed on it") +
           " (signal " + std::to_string(signal) + ", " + strsignal(signal) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemory) {
    if (limits.bytes == 0) return "too large: out of memory";
    *end = ReadEnd::kMemoryLimit;
    return "the model's reader needs more than its memory limit of " + bytes_text(limits.bytes) +
           " (--max-memory)";
  }
  return "the model's reader ended without an answer (exit status " +
         std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

// The child's answer (the MAP of SIZE bytes).  True when the child
// planned the model; else the reason is in *read.
bool take_answer(const char *map, std::size_t size, IsolatedRead *read) {
  WireIn in(map, size);
  PlannedRead::State state = PlannedRead::kNotRead;
  std::string error;
  bool ok = in.count(read->opened, sizeof(uint64_t));
  for (std::string &name : read->opened) ok = ok && in.text(name);
  ok = ok && in.text(read->refusal) && in.text(error) && in.pod(state);
  if (ok && state == PlannedRead::kPlanned) ok = take_plan(in, &read->plan);
  if (!ok) {
    read->reason = "the model's reader ended without an answer";
  } else if (state == PlannedRead::kNoScene) {
    read->reason = "the file holds no scene";
  } else if (state != PlannedRead::kPlanned) {
    read->reason = error;
  }
  return ok && state == PlannedRead::kPlanned;
}

// The whole answer in FD, mapped for as long as *READ holds it: the plan's
// arrays are read from there while the model is built.
bool map_answer(int fd, IsolatedRead *read) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    read->reason = "the model's reader ended without an answer";
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  // Every page at once: they are in memory already, and the plan's
  // check and the model read them all.
  void *map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (map == MAP_FAILED) {
    read->reason = std::string("cannot read it apart: ") + std::strerror(errno);
    return false;
  }
  read->answer.reset(map, [size](void *at) { ::munmap(at, size); });
  return take_answer(static_cast<const char *>(map), size, read);
}

// The answer of the child that ended with STATUS, from FD.
bool child_read(int fd, int status, const ReadLimits &limits, IsolatedRead *read) {
  // A child that did not end well says why in how it ended.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    read->reason = child_end(status, limits, &read->end);
    return false;
  }
  read->end = ReadEnd::kAnswered;
  return map_answer(fd, read);
}

}  // namespace

std::string bytes_text(std::uint64_t bytes) {
  static const char *const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  for (; unit < 4 && bytes >= 1024 && bytes % 1024 == 0; ++unit) bytes /= 1024;
  return std::to_string(bytes) + " " + kUnits[unit];
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

int read_apart(const char *reader, const char *path, const char *answer_fd,
               const char *progress_fd, const char *memory_bytes) {
  const ModelReader *named = reader_named(reader);
  if (named == nullptr) return 3;
  return read_in_child(*named, path, std::atoi(answer_fd), std::atoi(progress_fd),
                       std::strtoull(memory_bytes, nullptr, 10));
}

namespace {

// How the watch over a child ended: its answer is whole (it is still
// ending), it ended by itself (also the state while it is watched), or
// molv ended it for a stop or at the deadline.
enum class Watched { kWhole, kEnded, kStopped, kTimedOut };

// Watches the child PID from the start of the read until it says its answer
// is whole or ends (its end of the PROGRESS_FD pipe with it), passing on its
// progress, asking STOP whether to give up, and ending it at the deadline.
Watched watch_child(pid_t pid, int progress_fd, const std::function<void(int)> &progress,
                    const std::function<bool()> &stop, const ReadLimits &limits,
                    std::chrono::steady_clock::time_point start) {
  // The signals that end molv are let in only while it waits, so that one
  // arriving at any moment wakes the wait and STOP hears of it at once (a
  // thread of the process that takes it instead leaves the asking a few
  // times a second).
  sigset_t ending, before;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) sigaddset(&ending, signal);
  (void)::pthread_sigmask(SIG_BLOCK, &ending, &before);
  const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(limits.seconds));
  Watched watched = Watched::kEnded;
  for (;;) {
    if (watched == Watched::kEnded && stop && stop()) {
      watched = Watched::kStopped;
      (void)::kill(pid, SIGKILL);
    }
    auto wait = std::chrono::milliseconds(stop ? 100 : -1);
    // (A limit beyond three years is none.)
    if (limits.seconds > 0 && limits.seconds < 1e8 && watched == Watched::kEnded) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        watched = Watched::kTimedOut;
        (void)::kill(pid, SIGKILL);
      } else if (wait.count() < 0 || left < wait) {
        wait = left;
      }
    }
    const struct timespec timeout = {static_cast<time_t>(wait.count() / 1000),
                                     static_cast<long>(wait.count() % 1000) * 1000000};
    struct pollfd in = {progress_fd, POLLIN, 0};
    const int ready = ::ppoll(&in, 1, wait.count() < 0 ? nullptr : &timeout, &before);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    unsigned char bytes[64];
    const ssize_t n = ::read(progress_fd, bytes, sizeof bytes);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    for (ssize_t i = 0; i < n && watched == Watched::kEnded; ++i) {
      if (bytes[i] == kAnswerWhole) watched = Watched::kWhole;
      else if (progress) progress(bytes[i]);
    }
    if (watched == Watched::kWhole) break;
  }
  (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return watched;
}

void wait_for(pid_t pid, int *status) {
  while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
}

// Starts the child that reads PATH with READER into the memory file
// ANSWER_FD, its progress to PROGRESS_FD; its pid (negative: not started).
pid_t start_child(const ModelReader &reader, const std::string &path, int answer_fd,
                  int progress_fd, const ReadLimits &limits) {
  // Off the main thread (the window's load) the child is a new molv: a
  // forked copy of a process with threads may find a lock (the allocator's,
  // Tcl's) held by a thread it does not have, and wait on it for ever.
  char exe[4096];
  const ssize_t exe_length =
      ::gettid() != ::getpid() ? ::readlink("/proc/self/exe", exe, sizeof exe - 1) : -1;
  const std::string fd_text = std::to_string(answer_fd), progress_text = std::to_string(progress_fd),
                    memory_text = std::to_string(limits.bytes);
  const char *const argv[] = {"molv",          kReadApartCommand,     reader.name,         path.c_str(),
                              fd_text.c_str(), progress_text.c_str(), memory_text.c_str(), nullptr};
  if (exe_length > 0) exe[exe_length] = '\0';
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) become_reader(parent);
  if (pid == 0 && exe_length > 0) {
    (void)::fcntl(answer_fd, F_SETFD, 0);
    (void)::fcntl(progress_fd, F_SETFD, 0);
    ::execv(exe, const_cast<char *const *>(argv));
    ::_exit(127);
  }
  if (pid == 0) ::_exit(read_in_child(reader, path, answer_fd, progress_fd, limits.bytes));
  return pid;
}

}  // namespace

IsolatedRead read_isolated(const ModelReader &reader, const std::string &path,
                           const std::function<void(int)> &progress,
                           const std::function<bool()> &stop, const ReadLimits &limits,
                           const std::function<void()> &meanwhile) {
  IsolatedRead read;
  const int fd = ::memfd_create("molv-read", MFD_CLOEXEC);
  int pipe_fds[2] = {-1, -1};
  if (fd < 0 || ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return read;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = start_child(reader, path, fd, pipe_fds[1], limits);
  ::close(pipe_fds[1]);
  Watched watched = Watched::kEnded;
  int status = 0;
  if (pid < 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
  } else {
    if (meanwhile) meanwhile();
    watched = watch_child(pid, pipe_fds[0], progress, stop, limits, start);
    // A whole answer is taken while the child ends.
    if (watched == Watched::kWhole) {
      read.ending_child.reset(new pid_t(pid), [](void *child) {
        int ended = 0;
        wait_for(*static_cast<pid_t *>(child), &ended);
        delete static_cast<pid_t *>(child);
      });
    } else {
      wait_for(pid, &status);
    }
  }
  ::close(pipe_fds[0]);
  if (watched == Watched::kStopped) {
    read.end = ReadEnd::kStopped;
    read.reason = "the load was cancelled";
  } else if (watched == Watched::kTimedOut) {
    read.end = ReadEnd::kTimeLimit;
    read.reason = "the model's reader took longer than its time limit of " +
                  seconds_text(limits.seconds) + " (--timeout)";
  } else if (watched == Watched::kWhole) {
    read.end = ReadEnd::kAnswered;
    read.planned = map_answer(fd, &read);
  } else if (pid > 0) {
    read.planned = child_read(fd, status, limits, &read);
  }
  ::close(fd);
  return read;
}

}  // namespace molv
