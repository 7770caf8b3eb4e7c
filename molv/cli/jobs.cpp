/*
 * molv export --jobs N.
 *
 * N processes side by side, each taking the next model when it is done
 * with one.  The remembered options would be read and written by all of
 * them at once, so each worker runs the plug-in from a private folder that
 * starts with a copy of them (none with --defaults); after the run the
 * options of a complete export go back to the plug-in's folder, as one
 * process would have left them.
 *
 * A signal that ends molv and reached the workers is left in *ending: the
 * caller ends the run by it once the private folders are gone.
 */
#include "cli/jobs.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/console.h"
#include "cli/export_model.h"
#include "cli/private_plugin_folder.h"
#include "cli/report.h"
#include "common/signals.h"

namespace molv {
namespace cli {
namespace {

// The worker processes of a run, for the signals the parent passes on.
constexpr size_t kMaxWorkers = 256;
pid_t g_workers[kMaxWorkers];
volatile sig_atomic_t g_worker_count = 0;
volatile sig_atomic_t g_passed_on = 0;  // the last signal passed on

extern "C" void pass_on_signal(int signal) {
  g_passed_on = signal;
  for (sig_atomic_t i = 0; i < g_worker_count; ++i) kill(g_workers[i], signal);
}

// SIGINT: a Ctrl-C on the terminal reaches every worker itself; one sent
// to molv alone (by kill, a supervisor) is passed on as the others are.
extern "C" void pass_on_interrupt(int signal, siginfo_t *info, void *) {
  // The workers end as they would by a Ctrl-C (a first one cancels).
  if (info == nullptr || (info->si_code != SI_USER && info->si_code != SI_QUEUE)) return;
  for (sig_atomic_t i = 0; i < g_worker_count; ++i) kill(g_workers[i], signal);
}

// What the workers share: the next model to take, one worker that
// completed an export (whose remembered options are the run's), the
// model each worker is on (-1: none), to name it should the worker die,
// and the texture files they write (a hash of the name, what fills it,
// and the model that writes it), under a lock that a worker that dies
// holding it does not keep.
struct SharedCounters {
  SharedCounters() {
    for (auto &model : working_on) model.store(-1);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&lock, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  std::atomic<long> next{0};
  std::atomic<long> completed_by{-1};
  std::atomic<long> working_on[kMaxWorkers];
  struct Claim {
    std::uint64_t name;
    dev_t dev;
    ino_t ino;
    long model;
  };
  static constexpr size_t kMaxClaims = size_t{1} << 16;
  pthread_mutex_t lock;
  size_t claim_count = 0;
  Claim claims[kMaxClaims];
};

// A worker's side of the texture files the workers write.
class WorkerWrites : public SharedWrites {
 public:
  WorkerWrites(SharedCounters *shared, size_t worker, const std::vector<std::string> &scenes)
      : shared_(shared), worker_(worker), scenes_(scenes) {}
  bool claim(const std::string &name, dev_t dev, ino_t ino, std::string *other) override {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    if (pthread_mutex_lock(&shared_->lock) == EOWNERDEAD)
      pthread_mutex_consistent(&shared_->lock);
    const long model = shared_->working_on[worker_].load();
    bool free = true;
    size_t i = 0;
    for (; i < shared_->claim_count && free; ++i) {
      const SharedCounters::Claim &claim = shared_->claims[i];
      free = claim.name != hash || (claim.dev == dev && claim.ino == ino);
      if (!free) *other = "the texture " + scene_label(scenes_[static_cast<size_t>(claim.model)]) +
                          " copies or extracts there";
    }
    if (free && i == SharedCounters::kMaxClaims) {
      free = false;
      *other = "the " + std::to_string(i) + " texture files of the other models (too many to hold)";
    } else if (free && model >= 0) {
      shared_->claims[shared_->claim_count++] = {hash, dev, ino, model};
    }
    pthread_mutex_unlock(&shared_->lock);
    return free;
  }

 private:
  SharedCounters *shared_;
  size_t worker_;
  const std::vector<std::string> &scenes_;
};

// The worker's end: its exit status, or a signal.  A signal that ends
// molv (Ctrl-C from the terminal, or SIGTERM and SIGHUP passed on) is kept
// in *ending to end the run by, once it is cleaned up; any other (a crash,
// the kernel's out-of-memory killer) fails the model the worker was on.
int worker_status(int status, long model, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &names, int *ending) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (!WIFSIGNALED(status)) return 1;
  const int signal = WTERMSIG(status);
  if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
    *ending = signal;
  } else {
    const std::string scene =
        model < 0 ? "a worker" : scene_label(scenes[static_cast<size_t>(model)]);
    const std::string reason = "the export's process was ended by signal " +
                               std::to_string(signal) + " (" + strsignal(signal) + ")";
    error_line(scene + ": " + reason);
    // The worker could not say it: the report and the total still count
    // the model.
    if (model >= 0) {
      ModelReport report;
      report.input = scenes[static_cast<size_t>(model)];
      report.output = names[static_cast<size_t>(model)] + ".x";
      report.status = "failed";
      report.exit_status = 1;
      report.reason = reason;
      report_model(report);
    }
  }
  return 1;
}

// N processes side by side, each taking the next model when it is done
// with one.  The remembered options would be read and written by all of
// them at once, so each worker runs the plug-in from a private folder that
// starts with a copy of them (none with --defaults); after the run the
// options of a complete export go back to the plug-in's folder, as one
using Folders = std::vector<std::unique_ptr<PrivatePluginFolder>>;

// A private plug-in folder per worker, with a copy of the remembered
// options (none with --defaults).  0, or the exit status (the reason is
// shown).
int make_worker_folders(const Args &args, size_t workers, Folders *folders) {
  std::string error;
  for (size_t w = 0; w < workers; ++w) {
    folders->push_back(std::make_unique<PrivatePluginFolder>());
    if (!folders->back()->create(plugin_folder(args), !args.defaults, &error)) {
      error_line(error);
      return 1;
    }
  }
  return 0;
}

// The parent's handling of the ending signals while the workers run:
// Ctrl-C reaches every worker from the terminal, so the parent only waits;
// SIGTERM, SIGHUP and a SIGINT sent to molv alone it passes on.
class PassOnSignals {
 public:
  PassOnSignals() {
    struct sigaction interrupt {}, pass_on{};
    interrupt.sa_sigaction = pass_on_interrupt;
    interrupt.sa_flags = SA_SIGINFO;
    sigemptyset(&interrupt.sa_mask);
    pass_on.sa_handler = pass_on_signal;
    sigemptyset(&pass_on.sa_mask);
    g_passed_on = 0;
    sigaction(SIGINT, &interrupt, &old_int_);
    sigaction(SIGTERM, &pass_on, &old_term_);
    sigaction(SIGHUP, &pass_on, &old_hup_);
  }
  ~PassOnSignals() { restore(); }
  PassOnSignals(const PassOnSignals &) = delete;
  PassOnSignals &operator=(const PassOnSignals &) = delete;
  // Back to the handling from before (in a worker, and at the end).
  void restore() const {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGHUP, &old_hup_, nullptr);
  }

 private:
  struct sigaction old_int_ {}, old_term_{}, old_hup_{};
};

// A worker process: exports the models it takes from SHARED until none is
// left, then ends with its worst status.
[[noreturn]] void run_worker(const Args &args, const std::vector<std::string> &scenes,
                             const std::vector<std::string> &names, const RunFiles &planned,
                             size_t w,
                             PrivatePluginFolder *folder, SharedCounters *shared) {
  const long count = static_cast<long>(scenes.size());
  WorkerWrites shared_writes(shared, w, scenes);
  RunFiles files = planned;
  files.share_writes(&shared_writes);
  const int status = export_models(
      args, true, scenes, names, files,
      [&] {
        const long i = shared->next.fetch_add(1);
        shared->working_on[w].store(i < count ? i : -1);
        return i < count ? i : -1;
      },
      folder, [&] { shared->completed_by.store(static_cast<long>(w)); });
  end_export();
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

// Starts a worker per folder.  0, or 1 when one could not be started
// (those started before it run on).
int start_workers(const Args &args, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &names, const RunFiles &planned,
                  const Folders &folders,
                  SharedCounters *shared, const PassOnSignals &signals) {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t parent = getpid();
  for (size_t w = 0; w < folders.size(); ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      // A worker never outlives molv, whatever ends it (SIGKILL too).
      (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      signals.restore();
      run_worker(args, scenes, names, planned, w, folders[w].get(), shared);
    }
    if (pid < 0) {
      error_line(std::string("--jobs: cannot start a worker: ") + std::strerror(errno));
      return 1;
    }
    g_workers[g_worker_count] = pid;
    g_worker_count = g_worker_count + 1;
  }
  return 0;
}

// Waits for every worker.  Returns the worst status; an ending signal is
// left in *ending.
int wait_workers(const std::vector<std::string> &scenes, const std::vector<std::string> &names,
                 const SharedCounters &shared, int *ending) {
  int worst = 0;
  for (sig_atomic_t i = 0; i < g_worker_count; ++i) {
    int status = 0;
    while (waitpid(g_workers[i], &status, 0) < 0 && errno == EINTR) {
    }
    worst = std::max(worst,
                     worker_status(status, shared.working_on[i].load(), scenes, names, ending));
  }
  if (g_passed_on != 0) *ending = g_passed_on;
  g_worker_count = 0;
  return worst;
}

}  // namespace

int run_jobs(const Args &args, const std::vector<std::string> &scenes,
             const std::vector<std::string> &names, const RunFiles &planned, int *ending) {
  const size_t workers =
      std::min(static_cast<size_t>(job_count(args, scenes.size())), kMaxWorkers);
  if (const int status = check_plugin_folder(args)) return status;
  Folders folders;
  if (const int status = make_worker_folders(args, workers, &folders)) return status;
  void *memory = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    error_line(std::string("--jobs: no shared memory: ") + std::strerror(errno));
    return 1;
  }
  auto *shared = new (memory) SharedCounters();
  int worst = 0;
  {
    PassOnSignals signals;
    worst = start_workers(args, scenes, names, planned, folders, shared, signals);
    worst = std::max(worst, wait_workers(scenes, names, *shared, ending));
  }
  const long completed_by = shared->completed_by.load();
  if (!args.defaults && completed_by >= 0) {
    // As with the plug-in's own save, a copy that fails is not the export's
    // failure; the old options stay as they were.
    std::string ignored;
    copy_options_file(folders[static_cast<size_t>(completed_by)]->options_file(),
                      plugin_folder(args) + "/qel_export.opt", &ignored);
  }
  munmap(memory, sizeof(SharedCounters));
  return worst;
}

}  // namespace cli
}  // namespace molv
