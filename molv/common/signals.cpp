/*
 * The signal handlers of molv.  Only flags are set in a handler; the
 * export sees the cancel at its next poll.
 */
#include "common/signals.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "api/tcl_bridge.h"

namespace molv {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
// A plug-in that has not stopped this long after the signal (its dialog
// waits for the user, a write blocks) does not hold molv up.
constexpr unsigned kGraceSeconds = 5;

volatile std::sig_atomic_t g_exporting = 0;
volatile std::sig_atomic_t g_interrupted = 0;  // a first Ctrl-C was seen
volatile std::sig_atomic_t g_pending = 0;      // the signal that ends molv

char g_own_folder[PATH_MAX];  // removed when a signal ends molv

// Only system calls that a handler may make: the folder's entries as
// getdents64 gives them, each removed.
void remove_own_folder() {
  if (g_own_folder[0] == '\0') return;
  const int fd = ::open(g_own_folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    struct Entry {
      std::uint64_t ino;
      std::int64_t off;
      unsigned short reclen;
      unsigned char type;
      char name[1];
    };
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        const auto *entry = reinterpret_cast<const Entry *>(buffer + at);
        const char *name = entry->name;
        if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))))
          ::unlinkat(fd, name, 0);
        at += entry->reclen;
      }
    }
    ::close(fd);
  }
  ::rmdir(g_own_folder);
}

void end_by(int signal_number) {
  remove_own_folder();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

extern "C" void on_ending_signal(int signal_number) {
  if (g_exporting == 0) {
    // Delivered once this handler returns: the program ends as it would
    // without a handler.
    end_by(signal_number);
    return;
  }
  request_cancel();
  if (signal_number == SIGINT && g_interrupted == 0) {
    g_interrupted = 1;
  } else {
    if (g_pending == 0) ::alarm(kGraceSeconds);
    g_pending = signal_number;
  }
}

extern "C" void on_grace_over(int) {
  if (g_pending != 0) end_by(g_pending);
}

}  // namespace

void catch_ending_signals() {
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kEndingSignals) sigaddset(&action.sa_mask, signal_number);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kEndingSignals) {
    // One ignored when molv started (nohup) stays ignored.
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
      continue;
    sigaction(signal_number, &action, nullptr);
  }
  action.sa_handler = on_grace_over;
  sigaction(SIGALRM, &action, nullptr);
}

void release_ending_signals() {
  ::alarm(0);
  for (int signal_number : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == on_ending_signal)
      std::signal(signal_number, SIG_DFL);
  }
  std::signal(SIGALRM, SIG_DFL);
  g_exporting = 0;
}

void remove_when_ended(const std::string &folder) {
  if (folder.size() >= sizeof g_own_folder) return;
  std::memcpy(g_own_folder, folder.c_str(), folder.size() + 1);
  if (!folder.empty()) catch_ending_signals();
}

void begin_export() {
  g_interrupted = 0;
  g_pending = 0;
  g_exporting = 1;
}

bool stop_asked() { return g_exporting != 0 && (g_interrupted != 0 || g_pending != 0); }

int stopping_signal() { return g_exporting != 0 ? static_cast<int>(g_pending) : 0; }

void end_export() {
  g_exporting = 0;
  // A signal from here on ends molv in its handler.
  if (g_pending != 0) end_by(g_pending);
  ::alarm(0);
}

}  // namespace molv
