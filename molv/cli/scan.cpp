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

int expand_folders(const Args &args, std::vector<std::string> *scenes,
                   std::vector<std::string> *below) {
  const std::vector<std::string> extensions = readable_extensions();
  struct stat out {};
  const bool has_out = args.has_out && names_folder(args.out) && stat(args.out.c_str(), &out) == 0;
  std::vector<std::string> files, places;
  for (const std::string &scene : *scenes) {
    if (scene.empty() || scene == "-" || !is_folder(scene)) {
      files.push_back(scene);
      places.emplace_back();
      continue;
    }
    Walk walk{args, extensions, out.st_dev, out.st_ino, has_out, {}, {}, {}, {}};
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
    files.insert(files.end(), walk.files.begin(), walk.files.end());
    places.insert(places.end(), walk.below.begin(), walk.below.end());
  }
  *scenes = files;
  *below = places;
  return 0;
}

int place_outputs(const Args &args, const std::vector<std::string> &scenes,
                  const std::vector<std::string> &below, std::vector<std::string> *names) {
  const bool into_folder = !args.has_out || names_folder(args.out);
  for (size_t i = 0; i < scenes.size(); ++i) {
    std::string name = export_name(args, scenes[i]);
    if (into_folder && !below[i].empty()) {
      const size_t slash = name.find_last_of('/');
      const size_t at = slash == std::string::npos ? 0 : slash + 1;
      name.insert(at, below[i]);
    }
    names->push_back(name);
  }
  std::vector<std::string> clashes;
  for (size_t i = 0; i < scenes.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if ((*names)[j] != (*names)[i]) continue;
      clashes.push_back(scene_label(scenes[j]) + " and " + scene_label(scenes[i]) +
                        " would both be written to " + (*names)[i] + ".x");
      break;
    }
  }
  if (clashes.empty()) return 0;
  // Every clash at once, so that one run tells all there is to mend.
  if (clashes.size() == 1) {
    error_line(clashes[0] + kHelpHint);
    return 2;
  }
  for (const std::string &clash : clashes) error_line(clash);
  error_line(std::to_string(clashes.size()) +
             " models would be written over others; nothing was written (--keep-extension "
             "writes duck.dae as duck.dae.x)" + kHelpHint);
  return 2;
}

}  // namespace cli
}  // namespace molv
