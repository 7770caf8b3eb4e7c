/*
 * The console of molv export.
 */
#include "cli/console.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/display.h"
#include "cli/why.h"

namespace molv {
namespace cli {

// ---- Console ------------------------------------------------------------------

Console::Console(const Args &args, bool side_by_side)
    : mode_(args.quiet                   ? Mode::kQuiet
            : isatty(2) && !side_by_side ? Mode::kTerminal
            : args.verbose               ? Mode::kEveryLine
                                         : Mode::kSummary) {
  Hooks &h = hooks();
  h.status = [this](const std::string &text) { status(text); };
  h.progress = [this](int percent) { progress(percent); };
  h.message = [this](const std::string &text) { message(text); };
  h.choose_file = nullptr;  // no window: the chooser is cancelled
}

Console::~Console() {
  end_line();
  hooks() = Hooks();
}

void Console::loading(const std::string &scene, const char *doing) {
  if (mode_ != Mode::kTerminal) return;
  status_ = doing + (" " + (scene.empty() ? std::string("the sample") : scene)) + " ...";
  percent_ = 0;
  redraw();
}

void Console::load_progress(int percent) {
  if (mode_ != Mode::kTerminal) return;
  percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  redraw();
}

void Console::loaded() {
  if (mode_ != Mode::kTerminal || !open_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  open_ = false;
  percent_ = 0;
}

void Console::start_export() {
  status_.clear();
  printed_.clear();
  percent_ = 0;
}

void Console::end_export() { end_line(); }

void Console::note(const std::string &line) {
  if (mode_ == Mode::kQuiet) return;
  end_line();
  std::fprintf(stderr, "%s\n", one_line(line).c_str());
  std::fflush(stderr);
}

void Console::end_line() {
  if (open_) std::fputc('\n', stderr);
  open_ = false;
  std::fflush(stderr);
}

void Console::status(const std::string &text) {
  if (mode_ == Mode::kQuiet) return;
  status_ = one_line(text);
  if (mode_ == Mode::kTerminal) {
    redraw();
  } else if (mode_ == Mode::kEveryLine && status_ != printed_) {
    std::fprintf(stderr, "%s%s\n", label_.empty() ? "" : (label_ + ": ").c_str(),
                 status_.c_str());
    printed_ = status_;
  }
}

void Console::progress(int percent) {
  if (mode_ != Mode::kTerminal) return;
  percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  redraw();
}

void Console::message(const std::string &text) {
  end_line();
  const std::string why = system_reason(text);
  const std::string line = why.empty() ? text : text + " (" + why + ")";
  error_line(label_.empty() ? line : label_ + ": " + line);
}

void Console::redraw() {
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

// ---- standard output and the debug log -----------------------------------------

SilencedStdout::SilencedStdout(bool silent) {
  std::fflush(stdout);
  saved_ = stdout;
  if (silent) null_ = std::fopen("/dev/null", "we");
  stdout = silent ? null_ : stderr;
  if (stdout == nullptr) stdout = saved_;
}

SilencedStdout::~SilencedStdout() {
  std::fflush(stdout);
  stdout = saved_;
  if (null_ != nullptr) std::fclose(null_);
}

DebugLog::~DebugLog() { (void)finish(); }

bool DebugLog::finish() {
  set_debug_file(nullptr);
  if (file_ == nullptr) return true;
  // A trace that lost lines (a full disk) is no log to keep.
  const bool lost = std::ferror(file_) != 0;
  const bool written = std::fclose(file_) == 0 && !lost;
  const int why = lost ? EIO : errno;
  file_ = nullptr;
  if (written && (complete_ || !out_.replaces())) {
    if (out_.commit()) return true;
    error_line(out_.path() + ": cannot write the debug log: " + std::strerror(errno));
    return false;
  }
  out_.discard();
  if (written) return true;
  error_line(out_.path() + ": cannot write the debug log: " + std::strerror(why));
  return false;
}

bool DebugLog::open(const std::string &path) {
  if (path.empty()) return true;
  std::string why;
  const int fd = out_.open(path, true, &why) ? ::fcntl(out_.fd(), F_DUPFD_CLOEXEC, 0) : -1;
  if (fd >= 0) file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    if (fd >= 0) ::close(fd);
    if (why.empty()) why = std::strerror(errno);
    error_line(path + ": cannot write the debug log: " + why);
    out_.discard();
    return false;
  }
  set_debug_file(file_);
  return true;
}

}  // namespace cli
}  // namespace molv
