/*
 * Folders of models.
 */
#include "cli/scan.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/paths.h"
#include "files/path_parts.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

bool matches_any(const std::vector<std::string> &patterns, const std::string &relative) {
  const std::string name = relative.substr(relative.find_last_of('/') + 1);
  for (const std::string &pattern : patterns)
    if (fnmatch(pattern.c_str(), relative.c_str(), 0) == 0 ||
        fnmatch(pattern.c_str(), name.c_str(), 0) == 0)
      return true;
  return false;
}

struct Walk {
  const Args &args;
  const std::vector<std::string> &extensions;
  dev_t skip_dev;
  ino_t skip_ino;
  bool has_skip;
  std::vector<std::string> files;
  std::vector<std::string> below;
  std::string error;
  // The folders entered, so that a link back up is not followed round.
  std::set<std::pair<dev_t, ino_t>> entered;

  // Adds the models of ROOT + RELATIVE (a folder, "" or ending in '/').
  bool folder(const std::string &root, const std::string &relative) {
    const std::string path = root + relative;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
      error = path + ": cannot read the folder: " + std::strerror(errno);
      return false;
    }
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir))
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
      struct stat info {};
      if (stat((path + name).c_str(), &info) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        if (has_skip && info.st_dev == skip_dev && info.st_ino == skip_ino) continue;
        if (!entered.insert({info.st_dev, info.st_ino}).second) continue;
        if (!folder(root, relative + name + "/")) return false;
        continue;
      }
      const std::string ext = file_extension(name);
      if (!S_ISREG(info.st_mode) || ext.empty() ||
          std::find(extensions.begin(), extensions.end(), ext) == extensions.end())
        continue;
      if (!pattern_takes(args, relative + name)) continue;
      files.push_back(path + name);
      below.push_back(relative);
    }
    return true;
  }
};

}  // namespace

bool pattern_takes(const Args &args, const std::string &relative) {
  if (!args.include.empty() && !matches_any(args.include, relative)) return false;
  return !matches_any(args.exclude, relative);
}

namespace {

// The models of the folder SCENE into *FILES with their places below it
// into *PLACES, each behind LEAD.  0, or the exit status (the reason is
// shown).
int add_folder(const Args &args, const std::string &scene, const std::string &lead,
               const struct stat &out, bool has_out, std::vector<std::string> *files,
               std::vector<std::string> *places) {
  Walk walk{args, readable_extensions(), out.st_dev, out.st_ino, has_out, {}, {}, {}, {}};
  const std::string root = scene.back() == '/' ? scene : scene + "/";
  struct stat top {};
  if (stat(root.c_str(), &top) == 0) walk.entered.insert({top.st_dev, top.st_ino});
  if (!walk.folder(root, "")) {
    error_line(walk.error);
    return 2;
  }
  if (walk.files.empty()) {
    error_line(scene + ": no model in the folder (none of the extensions molv reads" +
               (args.include.empty() && args.exclude.empty() ? "" : ", or none the patterns take") +
               ")");
    return 2;
  }
  files->insert(files->end(), walk.files.begin(), walk.files.end());
  for (const std::string &below : walk.below) places->push_back(lead + below);
  return 0;
}

// Where SCENE's models go below the output folder: its folders below
// --relative-to, or with several folder SCENEs the folder's own name.
// False (the reason shown) for a SCENE outside --relative-to.
bool lead_of(const Args &args, const std::string &scene, bool folder, bool several,
             std::string *lead) {
  lead->clear();
  if (args.relative_to.empty()) {
    if (folder && several) *lead = name_of(normal_path(scene)) + "/";
    return true;
  }
  std::string below;
  if (normal_path(scene) == normal_path(args.relative_to)) return true;
  if (!path_below(scene, args.relative_to, &below)) {
    error_line(scene + " is not below --relative-to " + args.relative_to + kHelpHint);
    return false;
  }
  *lead = folder ? below + "/" : folder_prefix(below);
  return true;
}

}  // namespace

int expand_folders(const Args &args, std::vector<std::string> *scenes,
                   std::vector<std::string> *below) {
  struct stat out {};
  const bool has_out = args.has_out && names_folder(args.out) && stat(args.out.c_str(), &out) == 0;
  std::vector<std::string> files, places;
  const auto is_model_folder = [](const std::string &scene) {
    return !scene.empty() && scene != "-" && is_folder(scene);
  };
  const bool several = std::count_if(scenes->begin(), scenes->end(), is_model_folder) > 1;
  for (const std::string &scene : *scenes) {
    const bool folder = is_model_folder(scene);
    std::string lead;
    if (!scene.empty() && scene != "-" && !lead_of(args, scene, folder, several, &lead)) return 2;
    if (!folder) {
      files.push_back(scene);
      places.push_back(lead);
    } else if (const int status = add_folder(args, scene, lead, out, has_out, &files, &places)) {
      return status;
    }
  }
  *scenes = files;
  *below = places;
  return 0;
}

namespace {

// What would part the models of CLASHES that the command line did not
// ask for already.
std::string clash_hints(const Args &args, const std::vector<std::string> &scenes,
                        const std::vector<std::pair<size_t, size_t>> &clashes) {
  bool extensions = false, folders = false;
  for (const auto &clash : clashes) {
    const std::string &a = scenes[clash.first], &b = scenes[clash.second];
    extensions = extensions || file_extension(a) != file_extension(b);
    folders = folders || folder_prefix(normal_path(a)) != folder_prefix(normal_path(b));
  }
  std::string hints;
  const auto add = [&hints](const char *hint) {
    hints += (hints.empty() ? " (" : "; ") + std::string(hint);
  };
  if (extensions && !args.keep_extension) add("--keep-extension writes duck.dae as duck.dae.x");
  if (folders && args.relative_to.empty())
    add("--relative-to DIR keeps each model's folders below DIR");
  if (!args.keep_going) add("--keep-going writes the others");
  return hints.empty() ? hints : hints + ")";
}

}  // namespace

int place_outputs(const Args &args, std::vector<std::string> *scenes,
                  std::vector<std::string> *below, std::vector<std::string> *names,
                  std::vector<ModelReport> *left_out) {
  const bool into_folder = !args.has_out || names_folder(args.out);
  for (size_t i = 0; i < scenes->size(); ++i) {
    std::string name = export_name(args, (*scenes)[i]);
    if (into_folder && !(*below)[i].empty()) name.insert(folder_prefix(name).size(), (*below)[i]);
    names->push_back(name);
  }
  std::vector<std::pair<size_t, size_t>> clashes;
  std::vector<bool> clashing(scenes->size(), false);
  for (size_t i = 0; i < scenes->size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if ((*names)[j] != (*names)[i]) continue;
      clashes.emplace_back(j, i);
      clashing[i] = clashing[j] = true;
      error_line(scene_label((*scenes)[j]) + " and " + scene_label((*scenes)[i]) +
                 " would both be written to " + (*names)[i] + ".x");
      break;
    }
  }
  if (clashes.empty()) return 0;
  // Every clash at once, so that one run tells all there is to mend.
  const long count = std::count(clashing.begin(), clashing.end(), true);
  error_line(std::to_string(count) + " models would be written to the same files; " +
             (args.keep_going ? "they are left out" : "nothing was written") +
             clash_hints(args, *scenes, clashes) + (args.keep_going ? "" : kHelpHint));
  if (!args.keep_going) return 2;
  std::vector<std::string> kept_scenes, kept_below, kept_names;
  for (size_t i = 0; i < scenes->size(); ++i) {
    if (!clashing[i]) {
      kept_scenes.push_back((*scenes)[i]);
      kept_below.push_back((*below)[i]);
      kept_names.push_back((*names)[i]);
      continue;
    }
    ModelReport report;
    report.input = scene_label((*scenes)[i]);
    report.output = (*names)[i] + ".x";
    report.status = "refused";
    report.exit_status = 1;
    report.reason = "another model of the run would be written to " + report.output;
    left_out->push_back(report);
  }
  *scenes = kept_scenes;
  *below = kept_below;
  *names = kept_names;
  return 0;
}

}  // namespace cli
}  // namespace molv
