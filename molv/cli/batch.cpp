/*
 * molv export as a batch of models.
 */
#include "cli/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/run_outcome.h"
#include "api/tcl_bridge.h"
#include "cli/console.h"
#include "cli/depfile.h"
#include "cli/report.h"
#include "cli/batch_files.h"
#include "cli/scan.h"
#include "cli/streams.h"
#include "cli/export_model.h"
#include "cli/jobs.h"
#include "common/signals.h"

namespace molv {
namespace cli {
namespace {

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

// The run's models (a folder SCENE stands for its models, scan.h) and
// their output names, after the checks that need no model: one file name
// for one model only, no two models to one file.  0, or the exit status
// (the reason is shown).
int plan_outputs(const Args &args, std::vector<std::string> *scenes,
                 std::vector<std::string> *names, std::vector<ModelReport> *left_out) {
  std::vector<std::string> below;
  if (const int status = expand_folders(args, scenes, &below)) return status;
  if (scenes->size() > 1 && args.has_out && !names_folder(args.out)) {
    error_line("-o " + args.out + " names one file; for " + std::to_string(scenes->size()) +
               " models give a folder (-o DIR/)" + kHelpHint);
    return 2;
  }
  if (const int status = place_outputs(args, scenes, &below, names, left_out)) return status;
  std::string error;
  // "-o /" names the root folder.
  const std::string folder = args.out.size() > 1 ? args.out.substr(0, args.out.size() - 1) : "/";
  if (args.has_out && !args.out.empty() && args.out.back() == '/' &&
      !make_folders(folder, &error)) {
    error_line(error);
    return 1;
  }
  // The folders a folder SCENE's models keep below it.
  for (size_t i = 0; i < names->size(); ++i) {
    const std::string &name = (*names)[i];
    if (below[i].empty() || name.find('/') == std::string::npos) continue;
    if (!make_folders(name.substr(0, name.find_last_of('/')), &error)) {
      error_line(error);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int export_models(const Args &args, bool side_by_side, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &names, const RunFiles &planned,
                  const std::function<long()> &next,
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
  RunFiles files = planned;
  session.files = &files;

  // The worst status of the models; a failed model does not stop the
  // others, a cancel by the user or a plug-in that does not run does.
  int worst = 0;
  for (long i = next(); i >= 0; i = next()) {
    const size_t at = static_cast<size_t>(i);
    if (scenes.size() > 1) console.set_label(scene_label(scenes[at]));
    const int status = export_model(session, scenes[at], names[at]);
    worst = std::max(worst, status);
    if (status == 0) on_complete();
    if (session.plugin_failed || session.stopped) break;
    const RunOutcome &outcome = run_outcome();
    if (status != 0 && outcome.has_status && outcome.last_status == kAborted) break;
  }
  if (worst == 0) debug.complete();
  if (!debug.finish()) worst = std::max(worst, 1);
  return worst;
}

namespace {

// Ends the run by a signal that arrived during its exports (common/signals.h),
// once everything the run made is cleaned up.
struct EndingSignals {
  ~EndingSignals() {
    end_export();
    release_ending_signals();
  }
};

// Puts the report and the depfile in place unless the run was cancelled
// (a run ended by a signal never gets here); STATUS, or 1 when one of them
// could not be written.
int end_report_and_depfile(int status) {
  const RunOutcome &outcome = run_outcome();
  const bool keep = !(outcome.has_status && outcome.last_status == kAborted);
  std::string error;
  for (bool (*close)(bool, std::string *) : {close_report, close_depfile}) {
    if (close(keep, &error)) continue;
    error_line(error);
    status = std::max(status, 1);
  }
  return status;
}

int export_batch(const Args &args, const std::vector<std::string> &scenes,
                 const std::vector<std::string> &names, const RunFiles &planned);

}  // namespace

int run_export(const Args &args) {
  // No scene: the sample, as one model.
  std::vector<std::string> scenes =
      args.scenes.empty() ? std::vector<std::string>{std::string()} : args.scenes;
  StreamFolder streams;
  if (const int status = read_stdin_scene(args, &streams, &scenes)) return status;
  std::vector<std::string> names;
  std::vector<ModelReport> left_out;  // --keep-going: the models that clash
  if (const int status = plan_outputs(args, &scenes, &names, &left_out)) return status;
  if (const int status = plan_stdout_export(args, scenes, &streams, &names)) return status;
  // Nothing the run reads or writes is written twice, before anything is.
  RunFiles planned = look_ahead(args, scenes);
  if (!plan_run_files(args, scenes, names, &planned)) return 2;
  const std::string warning = output_name_warning(args);
  if (!warning.empty() && !args.quiet) error_line(warning);
  std::string error;
  if (!open_report(args, &error) || !open_depfile(args, &error)) {
    error_line(error);
    close_report(false, &error);
    close_depfile(false, &error);
    return 2;
  }
  for (const ModelReport &model : left_out) report_model(model);
  int status = left_out.empty() ? 0 : 1;
  if (!scenes.empty()) status = std::max(status, export_batch(args, scenes, names, planned));
  report_total(args, scenes.size() + left_out.size());
  return end_report_and_depfile(status);
}

namespace {

int export_batch(const Args &args, const std::vector<std::string> &scenes,
                 const std::vector<std::string> &names, const RunFiles &planned) {
  if (job_count(args, scenes.size()) > 1) {
    if (!args.debug_log.empty()) {
      error_line(std::string("--debug-log: the traces of --jobs workers cannot share one file") +
                 kHelpHint);
      return 2;
    }
    int ending = 0;
    const int status = run_jobs(args, scenes, names, planned, &ending);
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
      args, false, scenes, names, planned,
      [&] { return next < static_cast<long>(scenes.size()) ? next++ : -1L; },
      args.defaults ? &private_folder : nullptr, [] {});
}

}  // namespace

}  // namespace cli
}  // namespace molv
