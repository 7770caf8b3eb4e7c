/*
 * What a plug-in shows the user: the status line, the progress bar, modal
 * messages, debug output and the file chooser.  Each goes to the hook the
 * front end set (display.h); the status lines and messages also make the
 * run's outcome (run_outcome.h), and everything is kept in order in the
 * recording for tests (test_hooks.h).
 */
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "api/display.h"
#include "api/run_outcome.h"
#include "api/test_hooks.h"
#include "api/vformat.h"
#include "host/molv_host.h"

namespace molv {
namespace {

Recording g_recording;
RunOutcome g_outcome;
Hooks g_hooks;
std::FILE *g_debug_file = nullptr;
bool g_recording_on = true;
bool g_record_debug = false;

}  // namespace

Hooks &hooks() { return g_hooks; }

void set_debug_file(std::FILE *file) { g_debug_file = file; }

const RunOutcome &run_outcome() { return g_outcome; }

void clear_run_outcome() { g_outcome = RunOutcome(); }

void note_texture_named(const char *name) { g_outcome.textures_named.push_back(name); }

Recording &recording() { return g_recording; }

void clear_recording() { g_recording = Recording(); }

void set_recording(bool on) { g_recording_on = on; }

void set_record_debug(bool on) { g_record_debug = on; }

}  // namespace molv

// ---- the host interface a plug-in calls ------------------------------------

using molv::g_hooks;
using molv::g_outcome;
using molv::g_recording;

extern "C" {

void display_message(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text;
  if (format != nullptr && std::strcmp(format, "%s") == 0) {
    // The plug-in's status texts come as ("%s", text): no formatting needed.
    const char *given = va_arg(args, const char *);
    text = given != nullptr ? given : "(null)";
  } else {
    text = molv::vformat(format, args);
  }
  va_end(args);
  if (g_hooks.status) g_hooks.status(text);
  g_outcome.has_status = true;
  g_outcome.last_status = text;
  if (molv::g_recording_on) g_recording.status_lines.push_back(std::move(text));
}

void message_dialog(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = molv::vformat(format, args);
  va_end(args);
  ++g_outcome.messages;
  if (molv::g_recording_on) g_recording.messages.push_back(text);
  if (g_hooks.message) g_hooks.message(text);
}

void debugf(const char *format, ...) {
  if (molv::g_debug_file == nullptr && !molv::g_record_debug) return;
  va_list args;
  va_start(args, format);
  const std::string text = molv::vformat(format, args);
  va_end(args);
  if (molv::g_debug_file != nullptr) std::fwrite(text.data(), 1, text.size(), molv::g_debug_file);
  if (molv::g_record_debug) g_recording.debug += text;
}

void set_progress_bar(int percent) {
  if (molv::g_recording_on) g_recording.progress.push_back(percent);
  if (g_hooks.progress) g_hooks.progress(percent);
}

const char *mo_get_export_filename(const char *title, const char *const *filters) {
  if (!g_hooks.choose_file) return nullptr;
  return g_hooks.choose_file(title, filters);
}

}  // extern "C"
