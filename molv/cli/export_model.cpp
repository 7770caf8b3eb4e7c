/*
 * The export of one model by molv export.
 */
#include "cli/export_model.h"

#include <tcl.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/run_outcome.h"
#include "api/test_hooks.h"
#include "cli/batch_files.h"
#include "cli/depfile.h"
#include "cli/model_report.h"
#include "cli/report.h"
#include "cli/streams.h"
#include "common/signals.h"
#include "common/texture_check.h"
#include "common/verify.h"
#include "common/x_summary.h"
#include "files/path_parts.h"
#include "import/embedded_textures.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

constexpr const char *kMenuLabel = "Direct X ...";
constexpr const char *kReady = "Ready !";

using Clock = std::chrono::steady_clock;

// What an export writes besides the .x, prepared before the plug-in runs
// and put in place once it has completed; discarded otherwise.
struct ExportedFiles {
  ExtractedTextures extracted;
  std::vector<std::unique_ptr<OutputFile>> copies;
  Clock::time_point start;
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string tcl_list(const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  for (const auto &word : words) argv.push_back(word.c_str());
  char *merged = Tcl_Merge(static_cast<int>(argv.size()), argv.data());
  std::string list = merged;
  Tcl_Free(merged);
  return list;
}

// What starting the plug-in needs of the files, done ahead: its private
// folder made and its library loaded (it stays loaded; the start finds it
// so).  Says nothing: whatever fails here fails again when it starts.
void prepare_plugin(ExportSession &session) {
  const std::string dir = plugin_folder(session.args);
  if (!is_folder(dir)) return;
  std::string error;
  PrivatePluginFolder *private_folder = session.private_folder;
  if (private_folder != nullptr && private_folder->path().empty() &&
      !private_folder->create(dir, false, &error))
    return;
  plugin_preload(private_folder != nullptr ? private_folder->path() : dir);
}

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

// The line after a complete export of FILE (SHOWN: how the line names
// it), and the warning when the file holds nothing an engine could draw.
// Counting reads the whole file again: only for a line or report someone
// reads, and never a target that cannot be read back (a FIFO, a device):
// that would block or take what is not ours.
void report_file(Console &console, const std::string &file, const std::string &shown,
                 Clock::time_point start, ModelReport *report) {
  if (!console.shows_notes() && !report_wanted()) return;
  XFileCounts counts;
  std::string error;
  if (!is_regular_file(file)) {
    error = "not a regular file: not counted";
  } else if (count_x_file(file, &counts, &error)) {
    report->counted = true;
    report->counts = counts;
  }
  if (!report->counted) {
    console.note("wrote " + shown + " (" + error + ")");
    return;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.2f s", seconds_since(start));
  auto count = [](std::uint64_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  console.note("wrote " + shown + " (" + size_text(counts.bytes) +
               "): " + count(counts.meshes, "mesh", "meshes") + ", " +
               count(counts.vertices, "vertex", "vertices") + ", " +
               count(counts.faces, "face", "faces") + " in " + time + ", options " +
               report->options);
  std::string warning;
  if (counts.meshes == 0) {
    warning = "the file holds no mesh";
  } else if (report->options.size() > 17 && report->options[17] == '0') {
    // The user's choice, and most readers take it; the runtime does not.
    warning = "numbers in the %g form (fixed_numbers 0), which the DirectX runtime's parser "
              "refuses: a float written 1 or 1e-07 is no float to it";
  }
  if (warning.empty()) return;
  console.note("molv: " + shown + ": warning: " + warning);
  report->warnings.push_back({warning_code(warning), warning});
}

// Loads the model into *LOAD and makes it the process's, with the loading
// line on a terminal, writes the images it embeds beside the .x when asked
// to, and shows the load's warnings.  0, or the exit status (the reason is
// shown).
int load_model(ExportSession &session, const std::string &scene, const std::string &name,
               Load *load, ExtractedTextures *extracted, ModelReport *report) {
  const Args &args = session.args;
  Console &console = session.console;
  console.loading(scene);
  LoadWatch watch;
  watch.progress = [&console](int percent) { console.load_progress(percent); };
  watch.stop = stop_asked;
  // While the reader's child reads the first model, the plug-in's folder
  // and library are made ready (silently: a failure is said when the
  // plug-in starts, after the load, as before).
  if (session.entry == nullptr) watch.meanwhile = [&session] { prepare_plugin(session); };
  *load = load_for(args, scene, watch);
  console.loaded();
  if (!load->loaded) {
    // A signal that ends molv is named as such; a Ctrl-C is the user's.
    const int signal = load->read_end == ReadEnd::kStopped ? stopping_signal() : 0;
    error_line(signal == 0 ? load->error
                           : scene_label(scene) + ": stopped by SIG" + sigabbrev_np(signal));
    // Stopped by a signal, the run stops as after a cancelled export.
    if (load->read_end == ReadEnd::kStopped) session.stopped = true;
    return session.stopped ? 1 : 2;
  }
  install(*load);
  // The textures the model embeds, written beside the .x for its names.
  std::string error;
  if (args.extract_textures && !extracted->extract(model(), texture_stem(name), &error)) {
    error_line(scene + ": " + error);
    return 2;
  }
  for (const std::string &warning : load_warnings(*load, extracted->extracted())) {
    console.note("molv: " + scene_label(scene) + ": warning: " + warning);
    report->warnings.push_back({warning_code(warning), warning});
  }
  return 0;
}

// Chooses the plug-in's menu entry (starting the plug-in for the first
// model): its dialog answers with the options, which the command line then
// adjusts.  0, or the exit status (the reason is shown).
int dialog_options(ExportSession &session, const std::string &who, std::string *options) {
  if (session.entry == nullptr) {
    if (const int status = start_session(session)) {
      session.plugin_failed = true;
      return status;
    }
  }
  if (tcl_eval(session.entry->tcl_text, options) != TCL_OK) {
    error_line(who + kMenuLabel + ": " + *options);
    return 1;
  }
  std::string error;
  if (!apply_options(session.args, options, &error)) {
    error_line(error);
    return 2;
  }
  return 0;
}

// The exit status of a confirmed export from how it ended: qel_save's
// code and result, the host memory it kept, and the run's outcome.
int outcome_status(const Console &console, const std::string &who, int code,
                   const std::string &result, long kept_blocks) {
  if (code != TCL_OK) {
    error_line(who + "qel_save: " + result);
    return 1;
  }
  // A plug-in must give back every block of host memory it took, also
  // after a cancel or a failure.
  if (kept_blocks != 0) {
    error_line(who + "the plug-in kept " + std::to_string(kept_blocks) + " blocks of host memory");
    return 1;
  }
  const RunOutcome &outcome = run_outcome();
  if (outcome.messages != 0) return 1;  // each one is on stderr already
  if (!outcome.has_status) {
    error_line(who + "no file was written: no file name given (molv export has no file chooser)");
    return 1;
  }
  if (outcome.last_status != kReady) {
    // The plug-in says "Abort by User" for any cancel: a signal from a
    // supervisor is no user's.
    if (const int signal = stopping_signal())
      error_line(who + "stopped by SIG" + sigabbrev_np(signal));
    else if (!console.shows_status())
      error_line(who + "the export did not complete: " + outcome.last_status);
    return 1;
  }
  return 0;
}

// Confirms the export under NAME with OPTIONS.  The test faults count from
// here, so that the first event pass is the one that shows the dialog
// again.  Returns the exit status.
int confirm_export(ExportSession &session, const std::string &who, const std::string &name,
                   const std::string &options) {
  const Args &args = session.args;
  session.console.start_export();
  clear_run_outcome();
  set_cancel_at_poll(args.test.cancel_at_poll);
  set_fail_alloc_after(args.test.fail_alloc_after);
  std::string result;
  const long live_before = live_allocations();
  int code;
  {
    SilencedStdout silence(!session.console.shows_status());
    code = tcl_eval(tcl_list({"molv", "qel_save", "export", name, options}), &result);
  }
  set_fail_alloc_after(-1);
  set_cancel_at_poll(0);
  session.console.end_export();
  // The next model's dialog finds no remembered options either.
  if (args.defaults && session.private_folder != nullptr) session.private_folder->forget_options();
  return outcome_status(session.console, who, code, result, live_allocations() - live_before);
}

}  // namespace

Load load_for(const Args &args, const std::string &file, const LoadWatch &watch) {
  LoadWatch bounded = watch;
  bounded.limits = args.limits;
  Load load = load_file(file, bounded);
  if (load.loaded && args.has_host_version) load.model->version = args.host_version;
  return load;
}

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

int start_plugin(const Args &args, PrivatePluginFolder *private_folder) {
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
    // The folder the user gave, never the private one of links to it.
    if (private_folder != nullptr)
      for (size_t at; (at = error.find(private_folder->path())) != std::string::npos;)
        error.replace(at, private_folder->path().size(), dir);
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

namespace {

// --verify: FILE read back and compared with the model the plug-in wrote
// it from.  The expected differences make one note, each real one a line
// of its own; a real one, or a file that cannot be read back, fails the
// model (status 1).
int verify_written(ExportSession &session, const std::string &who, const std::string &file,
                   const std::string &shown, ModelReport *report) {
  report->verified = true;
  report->verify = verify_export(file, report->options);
  const Verification &v = report->verify;
  std::string expected;
  for (const VerifyDifference &d : v.differences)
    if (d.expected) expected += (expected.empty() ? "" : "; ") + d.text;
  if (!expected.empty())
    session.console.note("verify " + shown + ": as the options ask: " + expected);
  if (v.agrees()) {
    session.console.note(v.verdict());
    return 0;
  }
  if (!v.read) {
    error_line(who + shown + ": " + v.verdict());
    return 1;
  }
  for (const VerifyDifference &d : v.differences)
    if (!d.expected) error_line(who + shown + ": verify: " + d.text);
  return 1;
}

// After a complete export of LOAD's model to NAME.x: the textures it
// wrote beside the .x put in place, the report's textures, the summary
// line, the depfile's rule, the textures the .x names looked for beside
// it, and the file sent on when it goes to standard output.  Returns the
// exit status.
int finish_export(ExportSession &session, const Load &load, ExportedFiles &written,
                  const std::string &who, const std::string &name, ModelReport *report) {
  const Args &args = session.args;
  std::string error;
  if (!written.extracted.commit(&error)) {
    error_line(who + error + " (" + name + ".x is in place)");
    return 1;
  }
  for (auto &copy : written.copies) {
    if (copy->commit()) continue;
    error_line(who + "cannot write the copied texture " + copy->path() + ": " +
               std::strerror(errno) + " (" + name + ".x is in place)");
    return 1;
  }
  const bool to_stdout = args.has_out && args.out == "-";
  report->textures = model_textures(load, model().textures, name, args.extract_textures);
  // A copy bears the texture's name as the .x gives it, which may have
  // lost the model's folders (and takes '\\' as a folder mark).
  const auto last_part = [](const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  for (ReportTexture &texture : report->textures)
    for (const auto &copy : written.copies)
      if (last_part(copy->path()) == last_part(texture.name)) texture.copied = true;
  report_file(session.console, name + ".x", to_stdout ? "standard output" : name + ".x",
              written.start, report);
  depfile_rule(to_stdout ? "-" : name + ".x", model_dependencies(load, report->textures));
  // What the options left out of the textures.  The .x names its textures
  // relative to itself: a file sent to standard output has no place to
  // look from.  The names are the run's own.
  std::vector<std::string> warnings = texture_option_warnings(load.notes, report->options);
  if (!to_stdout && load.source == Source::kModel) {
    const std::vector<std::string> names =
        x_texture_names(run_outcome().textures_named, report->options);
    for (const std::string &warning : texture_warnings(
             name + ".x", names, copyable_textures(load, report->options), "--copy-textures"))
      warnings.push_back(warning);
  }
  for (const std::string &warning : warnings) {
    report->warnings.push_back({warning_code(warning), warning});
    if (session.console.shows_notes())
      session.console.note("molv: " + load.file + ": warning: " + warning);
  }
  const int verified = args.verify
                           ? verify_written(session, who, name + ".x",
                                            to_stdout ? "standard output" : name + ".x", report)
                           : 0;
  if (to_stdout && !send_to_stdout(name + ".x", &error)) {
    error_line(error);
    return 1;
  }
  return verified;
}

// The export of one model, its report filled as far as it got.
int export_one(ExportSession &session, const std::string &scene, const std::string &name,
               Clock::time_point start, ModelReport *report) {
  const Args &args = session.args;
  // In a run of several models each failure names its model.
  const std::string who = args.scenes.size() > 1 ? scene_label(scene) + ": " : "";
  Load load;
  // Extracted textures go in place only with a complete export.
  ExportedFiles written;
  written.start = start;
  if (const int status = load_model(session, scene, name, &load, &written.extracted, report)) {
    report->status = session.stopped                             ? "cancelled"
                     : load.read_end == ReadEnd::kTimeLimit   ? "time-limit"
                     : load.read_end == ReadEnd::kMemoryLimit ? "memory-limit"
                                                              : "refused";
    return status;
  }
  // A depfile that make could not read stops the model before anything.
  std::vector<std::string> deps = load.opened;
  for (const NamedTexture &texture : load.textures) deps.push_back(texture.file);
  std::string error;
  if (!depfile_can_name(name + ".x", deps, &error)) {
    error_line(who + error);
    report->status = "refused";
    return 2;
  }
  std::string options;
  if (const int status = dialog_options(session, who, &options)) return status;
  report->options = options;
  // Every file of the model is prepared and held against the run's others
  // before the export; they go in place with it.
  if (session.files != nullptr) {
    if (const int status = plan_model_files(session.args, load, name, options,
                                            written.extracted.paths(), session.files,
                                            &written.copies))
      return status;
  }
  if (const int status = confirm_export(session, who, name, options)) {
    const RunOutcome &outcome = run_outcome();
    if (outcome.has_status && outcome.last_status == kAborted) report->status = "cancelled";
    return status;
  }
  return finish_export(session, load, written, who, name, report);
}

// 1 when --strict or --fail-on fail the complete export of SCENE by its
// warnings (said, and the codes put in the report), else 0.  The .x
// stays: it is complete, and a build removes what its failed step made
// (make's .DELETE_ON_ERROR).
int fail_by_warnings(const Args &args, const std::string &scene, ModelReport *report) {
  report->failed_by = failing_warnings(args, report->warnings);
  if (report->failed_by.empty()) return 0;
  std::string codes;
  for (const std::string &code : report->failed_by) codes += (codes.empty() ? "" : ", ") + code;
  error_line(scene_label(scene) + ": failed by its warnings (" +
             (args.strict ? "--strict" : "--fail-on") + "): " + codes);
  return 1;
}

}  // namespace

int export_model(ExportSession &session, const std::string &scene, const std::string &name) {
  const Clock::time_point start = Clock::now();
  const Args &args = session.args;
  clear_last_error();
  ModelReport report;
  report.input = scene_label(scene);
  report.output = args.has_out && args.out == "-" ? "-" : name + ".x";
  report.status = "failed";
  int status = export_one(session, scene, name, start, &report);
  if (status == 0) status = fail_by_warnings(args, scene, &report);
  report.exit_status = status;
  if (status == 0) report.status = "done";
  else report.reason = last_error().empty() ? run_outcome().last_status : last_error();
  report.seconds = seconds_since(start);
  report_model(report);
  return status;
}

}  // namespace cli
}  // namespace molv
