/*
 * The molv command line.
 *
 * `molv export` is the modeller driven without a window: it loads a scene,
 * loads the plug-in, chooses the plug-in's export menu entry (whose dialog
 * answers at once with the options it was given), adjusts those options
 * and confirms the export under a given name.  What the plug-in shows goes
 * to standard error; the exit status tells whether the file was written.
 *
 * `molv gui` opens the modeller's window (gui.cpp) on the scene.
 */
#include "cli/cli.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tcl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/display.h"
#include "api/host_memory.h"
#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/run_outcome.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "cli/plugin_options.h"
#include "cli/private_plugin_folder.h"
#include "cli/x_summary.h"
#include "common/signals.h"
#include "gui/gui.h"
#include "import/assimp_import.h"
#include "import/load.h"

#ifndef MOLV_DEFAULT_PLUGIN_DIR
#define MOLV_DEFAULT_PLUGIN_DIR "plugin"
#endif

namespace molv {
namespace cli {
namespace {

constexpr const char *kMenuLabel = "Direct X ...";
constexpr const char *kReady = "Ready !";
constexpr const char *kAborted = "*** Abort by User ! ***";
constexpr const char *kHelpHint = " (try 'molv --help')";

// ---- small text helpers ----------------------------------------------------

bool parse_long(const std::string &text, long min, long *value) {
  if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
  errno = 0;
  char *end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min) return false;
  *value = parsed;
  return true;
}

bool parse_double(const std::string &text, double *value) {
  if (text.empty() || text[0] == ' ') return false;
  errno = 0;
  char *end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// A text the plug-in shows, as one line of a terminal or log.
std::string one_line(const std::string &text) {
  std::string line = text;
  for (char &c : line)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  size_t start = line.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : line.substr(start);
}

std::string base_name(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".json" of "a/b.json"; empty when the name has none.
std::string extension(const std::string &path) {
  const std::string name = base_name(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string ext = name.substr(dot);
  for (char &c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

// How messages name a scene of the command line (empty: the sample).
std::string scene_label(const std::string &scene) { return scene.empty() ? "sample" : scene; }

// The plug-in folder the command line names, or the default one.
std::string plugin_folder(const Args &args) {
  return args.plugin_dir.empty() ? MOLV_DEFAULT_PLUGIN_DIR : args.plugin_dir;
}

std::string tcl_list(const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  for (const auto &word : words) argv.push_back(word.c_str());
  char *merged = Tcl_Merge(static_cast<int>(argv.size()), argv.data());
  std::string list = merged;
  Tcl_Free(merged);
  return list;
}

void error_line(const std::string &text) {
  std::fprintf(stderr, "molv: %s\n", one_line(text).c_str());
}

// ---- what the user sees during `molv export` ------------------------------

// The status line and the progress bar on standard error.  On a terminal
// both share one line that is redrawn.  Elsewhere (a log, a pipe) only the
// last status of each export is shown, unless --verbose asks for every one
// on a line of its own; there is no bar.  --quiet shows none of them.
class Console {
 public:
  // SIDE_BY_SIDE: one of several processes that share standard error, so
  // that no line is redrawn.
  Console(const Args &args, bool side_by_side)
      : mode_(args.quiet                   ? Mode::kQuiet
              : isatty(2) && !side_by_side ? Mode::kTerminal
              : args.verbose               ? Mode::kEveryLine
                                           : Mode::kLastLine) {
    Hooks &h = hooks();
    h.status = [this](const std::string &text) { status(text); };
    h.progress = [this](int percent) { progress(percent); };
    h.message = [this](const std::string &text) { message(text); };
    h.choose_file = nullptr;  // no window: the chooser is cancelled
  }
  ~Console() {
    end_line();
    hooks() = Hooks();
  }
  Console(const Console &) = delete;
  Console &operator=(const Console &) = delete;

  // On a terminal, what is going on before the plug-in has anything to say.
  void loading(const std::string &scene) {
    if (mode_ != Mode::kTerminal) return;
    status_ = "Loading " + (scene.empty() ? std::string("the sample") : scene) + " ...";
    percent_ = 0;
    redraw();
  }
  void load_progress(int percent) {
    if (mode_ != Mode::kTerminal) return;
    percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    redraw();
  }
  // Clears the loading line.
  void loaded() {
    if (mode_ != Mode::kTerminal || !open_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    open_ = false;
    percent_ = 0;
  }
  // In a run of several models, the model that a status or message is
  // about: it leads the final status line and each message.
  void set_label(const std::string &label) { label_ = label; }
  // A new export: nothing of the last one's status is left to show.
  void start_export() {
    status_.clear();
    printed_.clear();
    percent_ = 0;
  }
  // The export is over: its last status stays on screen.
  void end_export() {
    if (mode_ == Mode::kLastLine && !status_.empty())
      std::fprintf(stderr, "%s%s\n", label_.empty() ? "" : (label_ + ": ").c_str(),
                   status_.c_str());
    end_line();
  }
  // Whether notes are shown at all.
  bool shows_notes() const { return mode_ != Mode::kQuiet; }
  // A line of molv's own (summary, warning), after the status line.
  void note(const std::string &line) {
    if (mode_ == Mode::kQuiet) return;
    end_line();
    std::fprintf(stderr, "%s\n", one_line(line).c_str());
    std::fflush(stderr);
  }

 private:
  enum class Mode { kQuiet, kTerminal, kEveryLine, kLastLine };

  void end_line() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
    std::fflush(stderr);
  }
  void status(const std::string &text) {
    if (mode_ == Mode::kQuiet) return;
    status_ = one_line(text);
    if (mode_ == Mode::kTerminal) {
      redraw();
    } else if (mode_ == Mode::kEveryLine && status_ != printed_) {
      std::fprintf(stderr, "%s\n", status_.c_str());
      printed_ = status_;
    }
  }
  void progress(int percent) {
    if (mode_ != Mode::kTerminal) return;
    percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    redraw();
  }
  void message(const std::string &text) {
    end_line();
    error_line(label_.empty() ? text : label_ + ": " + text);
  }
  void redraw() {
    std::string line = status_;
    if (percent_ > 0) {
      constexpr int kWidth = 20;
      const int filled = percent_ * kWidth / 100;
      line += "  [" + std::string(static_cast<size_t>(filled), '#') +
              std::string(static_cast<size_t>(kWidth - filled), '.') + "] " +
              std::to_string(percent_) + "%";
    }
    // A plug-in polls thousands of times a second, mostly with the text
    // already shown: only a line that changes is drawn again.
    if (open_ && line == drawn_) return;
    drawn_ = line;
    // A wrapped line could not be redrawn in place.
    struct winsize size {};
    size_t columns = 80;
    if (ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) columns = size.ws_col;
    if (line.size() >= columns) line.resize(columns - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    open_ = true;
  }

  Mode mode_;
  bool open_ = false;
  int percent_ = 0;
  std::string status_;
  std::string printed_;
  std::string drawn_;  // the line on the terminal, before it was cut to its width
  std::string label_;
};

// The plug-in writes a line of its own to standard output when it opens
// the file; --quiet promises silence after a complete export, so that
// line goes nowhere while the export runs.
class SilencedStdout {
 public:
  explicit SilencedStdout(bool on) {
    if (!on) return;
    std::fflush(stdout);
    saved_ = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ < 0 || null_fd < 0 || dup2(null_fd, 1) < 0) {
      if (null_fd >= 0) close(null_fd);
      if (saved_ >= 0) close(saved_);
      saved_ = -1;
      return;
    }
    close(null_fd);
  }
  ~SilencedStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout &) = delete;
  SilencedStdout &operator=(const SilencedStdout &) = delete;

 private:
  int saved_ = -1;
};

// ---- shared steps of both commands -----------------------------------------

class DebugLog {
 public:
  ~DebugLog() {
    set_debug_file(nullptr);
    if (file_ != nullptr) std::fclose(file_);
  }
  bool open(const std::string &path) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
      error_line(path + ": cannot write the debug log: " + std::strerror(errno));
      return false;
    }
    set_debug_file(file_);
    return true;
  }

 private:
  std::FILE *file_ = nullptr;
};

bool is_folder(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Loads the plug-in of the folder the command line names, or through
// *private_folder, when given, from a private folder with links to its
// files.  Returns 0 when it runs, else the exit status (the reason is shown).
// 0 when the plug-in folder exists, else the exit status (the reason is
// shown).
int check_plugin_folder(const Args &args) {
  const std::string dir = plugin_folder(args);
  if (is_folder(dir)) return 0;
  if (args.plugin_dir.empty()) {
    error_line(dir + ": plug-in folder not found (build the plug-in or give --plugin-dir)");
    return 1;
  }
  error_line(dir + ": no such plug-in folder");
  return 2;
}

int start_plugin(const Args &args, PrivatePluginFolder *private_folder = nullptr) {
  const std::string dir = plugin_folder(args);
  if (const int status = check_plugin_folder(args)) return status;
  std::string error;
  // A folder made for this run already (--jobs) is used as it is.
  if (private_folder != nullptr && private_folder->path().empty() &&
      !private_folder->create(dir, false, &error)) {
    error_line(error);
    return 1;
  }
  const int init = plugin_load(private_folder != nullptr ? private_folder->path() : dir, &error);
  if (init == -2) {
    error_line(error);
    return 1;
  }
  // -1: the plug-in refused this host and said so itself.
  if (init == -1) return 1;
  if (init != 0) {
    error_line("the plug-in in " + dir + " failed to start (" + std::to_string(init) + ")");
    return 1;
  }
  return 0;
}

// ---- the user's files -------------------------------------------------------

// True when both names lead to one file (through links, hard links or
// another spelling).
bool same_file(const std::string &a, const std::string &b) {
  struct stat first {}, second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// A model being read is never written: not by an export of the run
// (Assimp reads .x files too) nor by the debug log.  0, or the exit status
// 2 with the reason shown, before anything is read or written.
int scenes_kept_apart(const Args &args, const std::vector<std::string> &scenes,
                      const std::vector<std::string> &names) {
  for (const std::string &scene : scenes) {
    if (scene.empty()) continue;
    std::string what;
    for (const std::string &name : names)
      if (what.empty() && same_file(scene, name + ".x")) what = "the export file " + name + ".x";
    if (what.empty() && !args.debug_log.empty() && same_file(scene, args.debug_log))
      what = "the debug log";
    if (what.empty()) continue;
    error_line(scene + ": " + what + " would write over the scene being read");
    return 2;
  }
  return 0;
}

bool load_scene_of(const Args &args, const std::string &scene) {
  std::string error;
  if (!load_source(scene, &error)) {
    error_line(error);
    return false;
  }
  if (args.has_host_version) set_host_version(args.host_version);
  return true;
}

// ---- molv export -----------------------------------------------------------

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// What every model of one run shares: the plug-in, started with the first
// model (its init sees that model's host version, as the modeller's
// plug-ins see the model they start with), and its export menu entry.
struct ExportSession {
  const Args &args;
  Console &console;
  PrivatePluginFolder *private_folder;  // null: the plug-in's own folder
  const MenuItem *entry = nullptr;
  bool plugin_failed = false;  // the run cannot go on
};

// Starts the plug-in and finds its menu entry.  0, or the exit status.
int start_session(ExportSession &session) {
  const Args &args = session.args;
  if (const int status = start_plugin(args, session.private_folder)) return status;
  install_headless_dialog();
  for (const MenuItem &item : export_menu())
    if (item.label == kMenuLabel) session.entry = &item;
  if (session.entry == nullptr) {
    error_line(std::string("the plug-in has no \"") + kMenuLabel + "\" export entry");
    return 1;
  }
  return 0;
}

// The line after a complete export, and the warning when the file holds
// nothing an engine could draw.
void report_file(Console &console, const std::string &file, Clock::time_point start) {
  // Counting reads the whole file again: not for a line nobody sees.
  if (!console.shows_notes()) return;
  XFileCounts counts;
  std::string error;
  if (!count_x_file(file, &counts, &error)) {
    console.note("wrote " + file + " (" + error + ")");
    return;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.2f s", seconds_since(start));
  auto count = [](std::uint64_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  console.note("wrote " + file + " (" + size_text(counts.bytes) +
               "): " + count(counts.meshes, "mesh", "meshes") + ", " +
               count(counts.vertices, "vertex", "vertices") + ", " +
               count(counts.faces, "face", "faces") + " in " + time);
  if (counts.meshes == 0) console.note("molv: " + file + ": warning: the file holds no mesh");
}

// One model: load it, let the plug-in's dialog give the options, adjust
// them, confirm the export under NAME, report.  Returns its exit status.
int export_model(ExportSession &session, const std::string &scene, const std::string &name) {
  const Args &args = session.args;
  Console &console = session.console;
  const Clock::time_point start = Clock::now();
  // In a run of several models each failure names its model.
  const std::string who =
      args.scenes.size() > 1 ? scene_label(scene) + ": " : "";

  set_embedded_texture_stem(args.extract_textures ? name : std::string());
  console.loading(scene);
  set_load_progress([&console](int percent) { console.load_progress(percent); });
  std::string error;
  const bool loaded = load_source(scene, &error);
  set_load_progress(nullptr);
  console.loaded();
  if (!loaded) {
    error_line(error);
    return 2;
  }
  // Extracted textures go in place only with a complete export.
  struct DiscardTextures {
    ~DiscardTextures() { discard_embedded_textures(); }
  } discard_textures;
  if (args.has_host_version) set_host_version(args.host_version);
  if (source_of(scene) == Source::kModel)
    for (const std::string &warning : load_warnings())
      console.note("molv: " + scene + ": warning: " + warning);

  if (session.entry == nullptr) {
    if (const int status = start_session(session)) {
      session.plugin_failed = true;
      return status;
    }
  }
  // Choose the plug-in's menu entry: its dialog answers with the options.
  std::string options;
  if (tcl_eval(session.entry->tcl_text, &options) != TCL_OK) {
    error_line(who + kMenuLabel + ": " + options);
    return 1;
  }
  if (!apply_options(args, &options, &error)) {
    error_line(error);
    return 2;
  }

  // Confirm the export.  The test faults count from here, so that the
  // first event pass is the one that shows the dialog again.
  console.start_export();
  clear_run_outcome();
  set_cancel_at_poll(args.cancel_at_poll);
  set_fail_alloc_after(args.fail_alloc_after);
  std::string result;
  const long live_before = live_allocations();
  int code;
  {
    SilencedStdout silence(args.quiet);
    code = tcl_eval(tcl_list({"molv", "qel_save", "export", name, options}), &result);
  }
  set_fail_alloc_after(-1);
  set_cancel_at_poll(0);
  console.end_export();
  // The next model's dialog finds no remembered options either.
  if (args.defaults && session.private_folder != nullptr) session.private_folder->forget_options();

  const RunOutcome &outcome = run_outcome();
  if (code != TCL_OK) {
    error_line(who + "qel_save: " + result);
    return 1;
  }
  // A plug-in must give back every block of host memory it took, also
  // after a cancel or a failure.
  if (live_allocations() != live_before) {
    error_line(who + "the plug-in kept " + std::to_string(live_allocations() - live_before) +
               " blocks of host memory");
    return 1;
  }
  if (outcome.messages != 0) return 1;  // each one is on stderr already
  if (!outcome.has_status) {
    error_line(who + "no file was written: no file name given (molv export has no file chooser)");
    return 1;
  }
  const std::string &last = outcome.last_status;
  if (last != kReady) {
    if (args.quiet) error_line(who + "the export did not complete: " + last);
    return 1;
  }
  if (!commit_embedded_textures(&error)) {
    error_line(who + error);
    return 1;
  }
  report_file(console, name + ".x", start);
  return 0;
}

// Makes FOLDER and the folders above it that are missing.
bool make_folders(const std::string &folder, std::string *error) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = part + ": cannot make the folder: " + std::strerror(errno);
      return false;
    }
  }
  if (!is_folder(folder)) {
    *error = folder + ": not a folder";
    return false;
  }
  return true;
}

// The run's output names, one per model, after the checks that need no
// model: one file name for one model only, no two models to one file.
// 0, or the exit status (the reason is shown).
int plan_outputs(const Args &args, const std::vector<std::string> &scenes,
                 std::vector<std::string> *names) {
  if (scenes.size() > 1 && args.has_out && !names_folder(args.out)) {
    error_line("-o " + args.out + " names one file; for " + std::to_string(scenes.size()) +
               " models give a folder (-o DIR/)" + kHelpHint);
    return 2;
  }
  for (size_t i = 0; i < scenes.size(); ++i) {
    names->push_back(export_name(args, scenes[i]));
    for (size_t j = 0; j < i; ++j) {
      if ((*names)[j] != names->back()) continue;
      error_line(scenes[j] + " and " + scenes[i] + " would both be written to " + names->back() +
                 ".x" + kHelpHint);
      return 2;
    }
  }
  std::string error;
  if (args.has_out && !args.out.empty() && args.out.back() == '/' &&
      !make_folders(args.out.substr(0, args.out.size() - 1), &error)) {
    error_line(error);
    return 1;
  }
  return 0;
}

// Exports, in this process, the models whose places NEXT hands out (-1:
// none left); the plug-in runs from FOLDER when it is given.  ON_COMPLETE
// is told of each complete export.  Returns the worst status.
int export_models(const Args &args, bool side_by_side, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &names, const std::function<long()> &next,
                  PrivatePluginFolder *folder, const std::function<void()> &on_complete) {
  DebugLog debug;
  if (!debug.open(args.debug_log)) return 2;

  Console console(args, side_by_side);
  tcl_start(false);
  struct StopTcl {
    ~StopTcl() { tcl_stop(); }
  } stop_tcl;
  // Until now a signal simply ends the program; from here it cancels the
  // export first, and the run ends by it when the exports have stopped
  // (EndingSignals).
  catch_ending_signals();
  begin_export();
  ExportSession session{args, console, folder};

  // The worst status of the models; a failed model does not stop the
  // others, a cancel by the user or a plug-in that does not run does.
  int worst = 0;
  for (long i = next(); i >= 0; i = next()) {
    const size_t at = static_cast<size_t>(i);
    if (scenes.size() > 1) console.set_label(scene_label(scenes[at]));
    const int status = export_model(session, scenes[at], names[at]);
    worst = std::max(worst, status);
    if (status == 0) on_complete();
    if (session.plugin_failed) break;
    const RunOutcome &outcome = run_outcome();
    if (status != 0 && outcome.has_status && outcome.last_status == kAborted) break;
  }
  return worst;
}

// ---- molv export --jobs N ---------------------------------------------------

// The worker processes of a run, for the signals the parent passes on.
constexpr size_t kMaxWorkers = 256;
pid_t g_workers[kMaxWorkers];
volatile sig_atomic_t g_worker_count = 0;
volatile sig_atomic_t g_passed_on = 0;  // the last signal passed on

extern "C" void pass_on_signal(int signal) {
  g_passed_on = signal;
  for (sig_atomic_t i = 0; i < g_worker_count; ++i) kill(g_workers[i], signal);
}

// What the workers share: the next model to take, one worker that
// completed an export (whose remembered options are the run's), and the
// model each worker is on (-1: none), to name it should the worker die.
struct SharedCounters {
  SharedCounters() {
    for (auto &model : working_on) model.store(-1);
  }
  std::atomic<long> next{0};
  std::atomic<long> completed_by{-1};
  std::atomic<long> working_on[kMaxWorkers];
};

// The worker's end: its exit status, or a signal.  A signal that ends
// molv (Ctrl-C from the terminal, or SIGTERM and SIGHUP passed on) is kept
// in *ending to end the run by, once it is cleaned up; any other (a crash,
// the kernel's out-of-memory killer) fails the model the worker was on.
int worker_status(int status, long model, const std::vector<std::string> &scenes, int *ending) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (!WIFSIGNALED(status)) return 1;
  const int signal = WTERMSIG(status);
  if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
    *ending = signal;
  } else {
    const std::string scene =
        model < 0 ? "a worker" : scene_label(scenes[static_cast<size_t>(model)]);
    error_line(scene + ": the export's process was ended by signal " + std::to_string(signal) +
               " (" + strsignal(signal) + ")");
  }
  return 1;
}

// N processes side by side, each taking the next model when it is done
// with one.  The remembered options would be read and written by all of
// them at once, so each worker runs the plug-in from a private folder that
// starts with a copy of them (none with --defaults); after the run the
// options of a complete export go back to the plug-in's folder, as one
// process would have left them.
//
// A signal that ends molv and reached the workers is left in *ending: the
// caller ends the run by it once the private folders are gone.
int run_jobs(const Args &args, const std::vector<std::string> &scenes,
             const std::vector<std::string> &names, int *ending) {
  const size_t workers =
      std::min({static_cast<size_t>(args.jobs), scenes.size(), kMaxWorkers});
  const std::string dir = plugin_folder(args);
  if (const int status = check_plugin_folder(args)) return status;
  std::vector<std::unique_ptr<PrivatePluginFolder>> folders;
  std::string error;
  for (size_t w = 0; w < workers; ++w) {
    folders.push_back(std::make_unique<PrivatePluginFolder>());
    if (!folders.back()->create(dir, !args.defaults, &error)) {
      error_line(error);
      return 1;
    }
  }
  void *memory = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    error_line(std::string("--jobs: no shared memory: ") + std::strerror(errno));
    return 1;
  }
  auto *shared = new (memory) SharedCounters();
  g_passed_on = 0;

  // Ctrl-C reaches every worker from the terminal; the parent only waits.
  struct sigaction ignore {
  }, pass_on{}, old_int{}, old_term{}, old_hup{};
  ignore.sa_handler = SIG_IGN;
  pass_on.sa_handler = pass_on_signal;
  sigemptyset(&pass_on.sa_mask);
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGTERM, &pass_on, &old_term);
  sigaction(SIGHUP, &pass_on, &old_hup);
  std::fflush(stdout);
  std::fflush(stderr);
  int worst = 0;
  for (size_t w = 0; w < workers; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      sigaction(SIGINT, &old_int, nullptr);
      sigaction(SIGTERM, &old_term, nullptr);
      sigaction(SIGHUP, &old_hup, nullptr);
      const long count = static_cast<long>(scenes.size());
      const int status = export_models(
          args, true, scenes, names,
          [&] {
            const long i = shared->next.fetch_add(1);
            shared->working_on[w].store(i < count ? i : -1);
            return i < count ? i : -1;
          },
          folders[w].get(), [&] { shared->completed_by.store(static_cast<long>(w)); });
      end_export();
      std::fflush(stdout);
      std::fflush(stderr);
      _exit(status);
    }
    if (pid < 0) {
      error_line(std::string("--jobs: cannot start a worker: ") + std::strerror(errno));
      worst = 1;
      break;
    }
    g_workers[g_worker_count] = pid;
    g_worker_count = g_worker_count + 1;
  }
  for (sig_atomic_t i = 0; i < g_worker_count; ++i) {
    int status = 0;
    while (waitpid(g_workers[i], &status, 0) < 0 && errno == EINTR) {
    }
    worst = std::max(worst, worker_status(status, shared->working_on[i].load(), scenes, ending));
  }
  if (g_passed_on != 0) *ending = g_passed_on;
  g_worker_count = 0;
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGHUP, &old_hup, nullptr);

  const long completed_by = shared->completed_by.load();
  if (!args.defaults && completed_by >= 0) {
    // As with the plug-in's own save, a copy that fails is not the export's
    // failure; the old options stay as they were.
    std::string ignored;
    copy_options_file(folders[static_cast<size_t>(completed_by)]->options_file(),
                      dir + "/qel_export.opt", &ignored);
  }
  munmap(memory, sizeof(SharedCounters));
  return worst;
}

// Ends the run by a signal that arrived during its exports (signals.h),
// once everything the run made is cleaned up.
struct EndingSignals {
  ~EndingSignals() {
    end_export();
    release_ending_signals();
  }
};

int run_export(const Args &args) {
  // No scene: the sample, as one model.
  const std::vector<std::string> scenes =
      args.scenes.empty() ? std::vector<std::string>{std::string()} : args.scenes;
  std::vector<std::string> names;
  if (const int status = plan_outputs(args, scenes, &names)) return status;
  if (const int status = scenes_kept_apart(args, scenes, names)) return status;
  if (args.jobs > 1 && scenes.size() > 1) {
    if (!args.debug_log.empty()) {
      error_line(std::string("--debug-log: the traces of --jobs workers cannot share one file") +
                 kHelpHint);
      return 2;
    }
    int ending = 0;
    const int status = run_jobs(args, scenes, names, &ending);
    if (ending != 0) {
      std::fflush(nullptr);
      std::signal(ending, SIG_DFL);
      std::raise(ending);
    }
    return status;
  }
  EndingSignals ending_signals;
  // Declared before the plug-in runs, so that it outlives every export.
  PrivatePluginFolder private_folder;
  long next = 0;
  return export_models(
      args, false, scenes, names,
      [&] { return next < static_cast<long>(scenes.size()) ? next++ : -1L; },
      args.defaults ? &private_folder : nullptr, [] {});
}

// ---- molv gui --------------------------------------------------------------

// The window is gui.cpp's; the command line loads the scene, opens the
// debug log and says where the plug-in is.
int run_gui(const Args &args) {
  const std::string scene = args.scenes.empty() ? std::string() : args.scenes[0];
  if (!load_scene_of(args, scene)) return 2;
  DebugLog debug;
  if (!debug.open(args.debug_log)) return 2;
  gui::Window window;
  window.scene = scene;
  window.script = args.script;
  window.start_plugin = [&args] { return start_plugin(args); };
  window.load_scene = [&args](const std::string &file, std::string *error) {
    if (!load_source(file, error)) return false;
    if (args.has_host_version) set_host_version(args.host_version);
    return true;
  };
  return gui::run(window);
}

}  // namespace

// ---- parsing ---------------------------------------------------------------

std::string usage_text() {
  std::string text =
      "Usage:\n"
      "  molv export [SCENE...] [OPTIONS]  export models to DirectX (.x) files\n"
      "  molv gui [SCENE] [--script FILE] [--plugin-dir DIR]\n"
      "                                    open the modeller's window\n"
      "  molv --version                    show the host's and the plug-in's versions\n"
      "  molv --help                       show this text\n"
      "\n"
      "SCENE is a .json scene file or a model in a format Assimp reads (OBJ, glTF 2,\n"
      "PLY, STL, 3DS, Collada, OFF, ...); without one, a built-in sample scene is used.\n"
      "Several SCENEs are exported one after the other by one plug-in; one that fails\n"
      "is named and the others still go.\n"
      "\n"
      "Export options:\n"
      "  -o, --output OUT       write OUT.x (a trailing .x is not doubled); default:\n"
      "                         the scene's name, or \"sample\", in the current folder\n"
      "  -o DIR/                write DIR/<scene name>.x (also for a folder that\n"
      "                         exists without the slash); DIR/ is made if need be\n"
      "  --set NAME=C, --set N=C\n"
      "                         option NAME (or number N) becomes C: 0 or 1, for\n"
      "                         decimals a digit (repeatable, applied in order)\n"
      "  --options STRING       option characters from number 0 on, applied before\n"
      "                         --set (\"0000111\" sets 4, 5 and 6)\n"
      "  --defaults             start from the plug-in's defaults; the remembered\n"
      "                         options are neither read nor changed\n"
      "  --extract-textures     write textures embedded in a model (glTF's *0) as\n"
      "                         files beside the .x and name those files in it\n"
      "  -j, --jobs N           export several SCENEs in N processes side by side\n"
      "  --quiet                nothing but failures on standard output and error\n"
      "  --verbose              every status line, also when standard error is no\n"
      "                         terminal (else only the last one of each export)\n"
      "  --plugin-dir DIR       the plug-in folder (default: " MOLV_DEFAULT_PLUGIN_DIR
      ")\n"
      "  --debug-log FILE       write the plug-in's trace to FILE\n"
      "  --host-version V       report host version V to the plug-in\n"
      "\n"
      "After each complete export one line gives the file's size, its meshes,\n"
      "vertices and faces, and the time taken; warnings name what a .x file cannot\n"
      "hold (lights, cameras, lines, embedded textures, no mesh at all).\n"
      "\n"
      "A plain run uses the options of the last complete export, which the plug-in\n"
      "remembers in qel_export.opt in its folder (the defaults below before the\n"
      "first); --defaults uses the defaults.  Then --options and --set apply.\n"
      "\n"
      "Options (number, name, default, what it does when 1):\n";
  const std::string defaults = default_option_string();
  for (const PluginOption &option : plugin_options()) {
    char line[160];
    std::snprintf(line, sizeof line, "  %2d %-20s %c  %s\n", option.index, option.name,
                  defaults[static_cast<size_t>(option.index)], option.meaning);
    text += line;
  }
  text +=
      "\n"
      "Window options (molv gui): --script FILE runs a Tcl file once the window is up;\n"
      "--plugin-dir, --debug-log and --host-version as above.\n"
      "\n"
      "Ctrl-C cancels a running export; a second Ctrl-C, SIGTERM or SIGHUP cancels\n"
      "it too and then ends molv.\n"
      "Exit status: 0 when every export ended with \"Ready !\", 1 when one was\n"
      "cancelled, failed or showed a message, 2 for a usage error or a bad scene\n"
      "(of several models, the worst).\n"
      "\n"
      "For tests:\n"
      "  --cancel-at-poll N     cancel at the N-th event pass of the export\n"
      "  --fail-alloc-after N   host allocations after the N-th fail\n";
  return text;
}

bool version_text(const Args &args, std::string *text, std::string *error) {
  const std::string dir = plugin_folder(args);
  std::string about;
  if (!plugin_about(dir, &about, error)) return false;
  clear_model();
  *text = host_version_string() + " (the stand-in host of qel_export)\n" + one_line(about) + " (" +
          dir + ")\n";
  return true;
}

bool parse_args(const std::vector<std::string> &words, Args *args, std::string *error) {
  *args = Args();
  auto fail = [&](const std::string &why) {
    *error = why + kHelpHint;
    return false;
  };
  if (words.empty()) return fail("no command given");
  const std::string &command = words[0];
  if (command == "--help" || command == "-h" || command == "help") {
    args->mode = Mode::kHelp;
    return true;
  }
  if (command == "--version") {
    args->mode = Mode::kVersion;
    // Only the plug-in folder may follow: whose plug-in to show.
    for (size_t i = 1; i < words.size(); ++i) {
      std::string value;
      if (words[i].rfind("--plugin-dir=", 0) == 0)
        value = words[i].substr(13);
      else if (words[i] == "--plugin-dir" && i + 1 < words.size())
        value = words[++i];
      else
        return fail("molv --version takes only --plugin-dir, not '" + words[i] + "'");
      if (value.empty()) return fail("--plugin-dir: empty folder name");
      args->plugin_dir = value;
    }
    return true;
  }
  if (command == "export")
    args->mode = Mode::kExport;
  else if (command == "gui")
    args->mode = Mode::kGui;
  else
    return fail("unknown command '" + command + "'");
  const bool is_export = args->mode == Mode::kExport;

  bool options_done = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (options_done || word.empty() || word[0] != '-' || word == "-") {
      if (!is_export && !args->scenes.empty())
        return fail("molv gui takes one scene, not also '" + word + "'");
      if (word.empty()) return fail("empty scene file name");
      args->scenes.push_back(word);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      args->mode = Mode::kHelp;
      return true;
    }
    // "--name=value" or "--name value".
    std::string name = word;
    std::string value;
    bool inline_value = false;
    const size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = word.substr(0, equals);
      value = word.substr(equals + 1);
      inline_value = true;
    }
    auto take_value = [&]() {
      if (inline_value) return true;
      if (i + 1 >= words.size()) return false;
      value = words[++i];
      return true;
    };
    auto needs_value = [&]() { return fail("option '" + name + "' needs a value"); };
    const bool export_only = name == "-o" || name == "--output" || name == "--options" ||
                             name == "--set" || name == "--cancel-at-poll" ||
                             name == "--fail-alloc-after" || name == "--quiet" ||
                             name == "--defaults" || name == "--verbose" ||
                             name == "--extract-textures" || name == "--jobs" || name == "-j";
    if (!is_export && export_only) return fail("option '" + name + "' belongs to molv export");
    if (is_export && name == "--script") return fail("option '--script' belongs to molv gui");

    if (name == "--quiet" || name == "--defaults" || name == "--verbose" ||
        name == "--extract-textures") {
      if (inline_value) return fail("option '" + name + "' takes no value");
      (name == "--quiet"      ? args->quiet
       : name == "--defaults" ? args->defaults
       : name == "--verbose"  ? args->verbose
                              : args->extract_textures) = true;
    } else if (name == "--jobs" || name == "-j") {
      if (!take_value()) return needs_value();
      if (!parse_long(value, 1, &args->jobs) || args->jobs > 256)
        return fail("--jobs '" + value + "': expected a count of 1 to 256");
    } else if (name == "-o" || name == "--output") {
      if (!take_value()) return needs_value();
      args->has_out = true;
      args->out = value;
    } else if (name == "--options") {
      if (!take_value()) return needs_value();
      std::string why;
      if (!option_string_ok(value, &why)) return fail("--options '" + value + "': " + why);
      args->has_options = true;
      args->options = value;
    } else if (name == "--set") {
      if (!take_value()) return needs_value();
      const size_t at = value.find('=');
      if (at == std::string::npos || at + 2 != value.size())
        return fail("--set '" + value + "': expected NAME=C or N=C (one character)");
      const int index = option_index(value.substr(0, at));
      if (index < 0)
        return fail("--set '" + value + "': no option '" + value.substr(0, at) +
                    "' (a name of the list or a number 0 to 49)");
      if (!option_value_ok(index, value[at + 1]))
        return fail("--set '" + value + "': " +
                    (index == kDecimalsIndex ? "decimals is a digit" : "a switch is 0 or 1"));
      args->sets.emplace_back(index, value[at + 1]);
    } else if (name == "--plugin-dir") {
      if (!take_value()) return needs_value();
      if (value.empty()) return fail("--plugin-dir: empty folder name");
      args->plugin_dir = value;
    } else if (name == "--debug-log") {
      if (!take_value()) return needs_value();
      if (value.empty()) return fail("--debug-log: empty file name");
      args->debug_log = value;
    } else if (name == "--host-version") {
      if (!take_value()) return needs_value();
      if (!parse_double(value, &args->host_version))
        return fail("--host-version '" + value + "': not a number");
      args->has_host_version = true;
    } else if (name == "--cancel-at-poll") {
      if (!take_value()) return needs_value();
      if (!parse_long(value, 1, &args->cancel_at_poll))
        return fail("--cancel-at-poll '" + value + "': expected a count of 1 or more");
    } else if (name == "--fail-alloc-after") {
      if (!take_value()) return needs_value();
      if (!parse_long(value, 0, &args->fail_alloc_after))
        return fail("--fail-alloc-after '" + value + "': expected a count of 0 or more");
    } else if (name == "--script") {
      if (!take_value()) return needs_value();
      if (value.empty()) return fail("--script: empty file name");
      args->script = value;
    } else {
      return fail("unknown option '" + name + "'");
    }
  }
  return true;
}

bool names_folder(const std::string &out) {
  return (!out.empty() && out.back() == '/') || is_folder(out);
}

std::string export_name(const Args &args, const std::string &scene) {
  std::string stem = "sample";
  if (!scene.empty()) {
    stem = base_name(scene);
    stem.resize(stem.size() - extension(scene).size());
  }
  if (!args.has_out) return stem;
  const std::string &out = args.out;
  if (names_folder(out)) return out + (out.back() == '/' ? "" : "/") + stem;
  if (out.size() >= 2 && out.compare(out.size() - 2, 2, ".x") == 0)
    return out.substr(0, out.size() - 2);
  return out;
}

bool apply_options(const Args &args, std::string *options, std::string *error) {
  if (args.has_options) {
    if (args.options.size() > options->size()) options->resize(args.options.size());
    options->replace(0, args.options.size(), args.options);
  }
  for (const auto &set : args.sets) {
    if (set.first < 0 || static_cast<size_t>(set.first) >= options->size()) {
      *error = "--set " + std::to_string(set.first) + "=" + set.second +
               ": the options have only " + std::to_string(options->size()) + " characters";
      return false;
    }
    (*options)[static_cast<size_t>(set.first)] = set.second;
  }
  return true;
}

int run(int argc, char **argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  Args args;
  std::string error;
  if (!parse_args(words, &args, &error)) {
    error_line(error);
    return 2;
  }
  if (args.mode == Mode::kHelp) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (args.mode == Mode::kVersion) {
    std::string text;
    if (!version_text(args, &text, &error)) {
      error_line(error);
      return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  return args.mode == Mode::kExport ? run_export(args) : run_gui(args);
}

}  // namespace cli
}  // namespace molv
