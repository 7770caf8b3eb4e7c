/*
 * What the user sees of molv export: the status line and the progress bar
 * on standard error (Console), molv's own lines (errors on standard error,
 * one line each), standard output silenced for --quiet, and the debug log.
 */
#ifndef MOLV_CLI_CONSOLE_H
#define MOLV_CLI_CONSOLE_H

#include <cstdio>
#include <string>

#include "cli/args.h"
#include "common/error_line.h"
#include "files/one_line.h"
#include "files/output_file.h"

namespace molv {
namespace cli {


// The status line and the progress bar on standard error.  On a terminal
// both share one line that is redrawn.  Elsewhere (a log, a pipe, or
// --jobs workers, whose lines cannot be redrawn) no status is shown: each
// model is its summary or its failure, and its warnings, unless --verbose
// asks for every status on a line of its own; there is no bar.  --quiet
// shows failures only.
// While it lives, it is where the plug-in's status, progress and messages
// go (api/display.h).
class Console {
 public:
  // SIDE_BY_SIDE: one of several processes that share standard error, so
  // that no line is redrawn.
  Console(const Args &args, bool side_by_side);
  ~Console();
  Console(const Console &) = delete;
  Console &operator=(const Console &) = delete;

  // On a terminal, what is going on before the plug-in has anything to say
  // ("Loading SCENE ...", or DOING SCENE).
  void loading(const std::string &scene, const char *doing = "Loading");
  void load_progress(int percent);
  // Clears the loading line.
  void loaded();
  // In a run of several models, the model that a status or message is
  // about: it leads the final status line and each message.
  void set_label(const std::string &label) { label_ = label; }
  // A new export: nothing of the last one's status is left to show.
  void start_export();
  // The export is over: its last status stays on screen.
  void end_export();
  // Whether notes are shown at all.
  bool shows_notes() const { return mode_ != Mode::kQuiet; }
  // Whether the plug-in's status lines are shown (and its own line on
  // standard output).
  bool shows_status() const { return mode_ == Mode::kTerminal || mode_ == Mode::kEveryLine; }
  // A line of molv's own (summary, warning), after the status line.
  void note(const std::string &line);

 private:
  enum class Mode { kQuiet, kTerminal, kEveryLine, kSummary };

  void end_line();
  void status(const std::string &text);
  void progress(int percent);
  void message(const std::string &text);
  void redraw();

  Mode mode_;
  bool open_ = false;
  int percent_ = 0;
  std::string status_;
  std::string printed_;
  std::string drawn_;  // the line on the terminal, before it was cut to its width
  std::string label_;
};

// The plug-in writes a line of its own ("Export Direct X File") to standard
// output when it opens the file.  Standard output holds only what the user
// asked for (a .x file with -o -), so while this lives the plug-in's
// stdout is standard error, or nowhere when no status is shown.  Only the C stream is
// swapped, never descriptor 1: a target that leads there (-o /dev/stdout)
// still gets the file.
class SilencedStdout {
 public:
  explicit SilencedStdout(bool silent);
  ~SilencedStdout();
  SilencedStdout(const SilencedStdout &) = delete;
  SilencedStdout &operator=(const SilencedStdout &) = delete;

 private:
  std::FILE *saved_ = nullptr;
  std::FILE *null_ = nullptr;
};

// The plug-in's trace (--debug-log), written while this lives: one of the
// run's files (files/output_file.h), opened without blocking and put in
// place at the end; an earlier file of that name is replaced only by a
// run that completed (complete()).
class DebugLog {
 public:
  DebugLog() = default;
  ~DebugLog();
  DebugLog(const DebugLog &) = delete;
  DebugLog &operator=(const DebugLog &) = delete;
  // Opens PATH (nothing for an empty PATH).  False when it cannot be
  // written (the reason is shown).
  bool open(const std::string &path);
  // The run completed: the log may replace an earlier file.
  void complete() { complete_ = true; }
  // Closes the log and puts it in place (a complete run, or no earlier
  // file).  False when it could not be written (the reason is shown).
  bool finish();

 private:
  std::FILE *file_ = nullptr;
  OutputFile out_;
  bool complete_ = false;
};

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_CONSOLE_H
