/*
 * The command line's files of a run: its arguments into the plan, and a
 * clash or a texture not there said on standard error.
 */
#include "cli/batch_files.h"

#include <string>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "cli/depfile.h"
#include "cli/report.h"
#include "import/load.h"

namespace molv {
namespace cli {
RunFiles look_ahead(const Args &args, const std::vector<std::string> &scenes) {
  RunFiles ahead;
  // The --jobs workers find their models' files themselves: one that is
  // the report or the depfile keeps it out through memory they share with
  // the parent (run_output.h), so that needs no look ahead.
  if (scenes.size() < 2 ||
      (!args.copy_textures && !args.extract_textures && args.debug_log.empty()))
    return ahead;
  Console console(args, false);
  for (const std::string &scene : scenes) {
    if (scene.empty()) continue;
    console.loading(scene_label(scene), "Looking ahead at the files of");
    LoadWatch watch;
    watch.progress = [&console](int percent) { console.load_progress(percent); };
    watch.limits = args.limits;
    const Load load = load_file(scene, watch);
    std::string error;  // no write is planned yet: nothing to clash with
    if (load.loaded) plan_model_reads(load, &ahead, nullptr, &error);
  }
  console.loaded();
  return ahead;
}

bool plan_run_files(const Args &args, const std::vector<std::string> &scenes,
                    const std::vector<std::string> &names, RunFiles *files) {
  for (const std::string &scene : scenes)
    if (!scene.empty()) files->reads(scene, "the model " + scene);
  plan_plugin_files(plugin_folder(args), files);
  std::string error;
  for (const std::string &name : names) {
    if (files->writes(name + ".x", true, "the export file " + name + ".x", &error)) continue;
    error_line(error);
    return false;
  }
  const struct {
    const std::string &path;
    const char *what;
    bool *taken;
  } own[] = {{args.debug_log, "the debug log ", nullptr},
             {args.report, "the report ", report_taken()},
             {args.depfile, "the depfile ", depfile_taken()}};
  for (const auto &file : own) {
    // "-": standard output, no file of the run's.
    if (file.path.empty() || file.path == "-") continue;
    if (files->writes(file.path, false, file.what + file.path, &error, file.taken)) continue;
    error_line(error);
    return false;
  }
  return true;
}

int plan_model_files(const Args &args, const Load &load, const std::string &name,
                     const std::string &options, const std::vector<std::string> &extracted,
                     RunFiles *files, std::vector<std::unique_ptr<OutputFile>> *copies) {
  // In a run of several models each line names its model.
  const std::string who = args.scenes.size() > 1 ? scene_label(load.file) + ": " : "";
  std::vector<std::string> notes;
  std::string error;
  const TextureFilesPlan plan{load, extracted, name, options, args.copy_textures};
  const bool planned = plan_texture_files(plan, files, copies, &notes, &error);
  if (!args.quiet)
    for (const std::string &note : notes) error_line(who + note);
  if (planned) return 0;
  error_line(who + error);
  return 2;
}

}  // namespace cli
}  // namespace molv
