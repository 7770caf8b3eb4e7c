/*
 * The files of one export run, held apart before anything is written.
 */
#include "common/run_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/plugin_options.h"
#include "core/options.h"
#include "files/path_parts.h"
#include "files/texture_file.h"

namespace molv {
namespace {

// PATH's name with its folder made absolute and that folder's links
// followed, so that two spellings of one place are one name.
std::string absolute_name(const std::string &path) {
  const std::string folder = folder_of(path);
  char real[PATH_MAX];
  std::string base;
  if (::realpath(folder.c_str(), real) != nullptr) {
    base = real;
  } else if (!folder.empty() && folder[0] == '/') {
    base = folder;
  } else {
    char cwd[PATH_MAX];
    base = ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + folder : folder;
  }
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  return (base == "/" ? "" : base) + "/" + name_of(path);
}

// NAME in the folder of FILE ("a/b.png" for "a/m.obj", "b.png").
std::string in_folder_of(const std::string &file, const std::string &name) {
  if (!name.empty() && name[0] == '/') return name;
  return file.find('/') == std::string::npos ? name : folder_of(file) + "/" + name;
}

}  // namespace

RunFiles::Entry RunFiles::identify(const std::string &path, bool follows, const std::string &what) {
  Entry entry;
  const std::string named = follows ? follow_name_links(path) : path;
  entry.name = absolute_name(named);
  entry.what = what;
  struct stat st;
  if ((follows ? ::stat(named.c_str(), &st) : ::lstat(named.c_str(), &st)) == 0) {
    // A pipe or a device is no file the run could lose.
    entry.exists = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
    if (!entry.exists) entry.name.clear();
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
  }
  return entry;
}

bool RunFiles::same(const Entry &a, const Entry &b) {
  return (!a.name.empty() && a.name == b.name) ||
         (a.exists && b.exists && a.dev == b.dev && a.ino == b.ino);
}

bool RunFiles::reads(const std::string &path, const std::string &what, std::string *error) {
  const Entry entry = identify(path, true, what);
  for (const Entry &write : writes_) {
    if (!same(entry, write)) continue;
    if (write.taken != nullptr) *write.taken = true;
    if (error != nullptr) *error = write.what + " would write over " + what;
    return false;
  }
  reads_.push_back(entry);
  return true;
}

bool RunFiles::writes(const std::string &path, bool follows, const std::string &what,
                      std::string *error, bool *taken) {
  Entry entry = identify(path, follows, what);
  entry.taken = taken;
  for (const std::vector<Entry> *list : {&reads_, &writes_}) {
    for (const Entry &other : *list) {
      if (!same(entry, other)) continue;
      *error = what + " would write over " + other.what;
      return false;
    }
  }
  writes_.push_back(entry);
  return true;
}

bool RunFiles::copied_already(const std::string &target, const std::string &source) {
  struct stat st;
  if (::stat(source.c_str(), &st) != 0) return false;
  const std::string name = absolute_name(target);
  for (const Copy &copy : copies_)
    if (copy.target == name && copy.dev == st.st_dev && copy.ino == st.st_ino) return true;
  copies_.push_back({name, st.st_dev, st.st_ino});
  return false;
}

bool RunFiles::writes_beside_others(const std::string &target, const std::string &source,
                                    const std::string &what, std::string *error) {
  if (shared_ == nullptr) return true;
  struct stat st {};
  // An extracted texture is this process's own content.
  if (source.empty() || ::stat(source.c_str(), &st) != 0) {
    st.st_dev = 0;
    st.st_ino = static_cast<ino_t>(getpid());
  }
  std::string other;
  if (shared_->claim(absolute_name(target), st.st_dev, st.st_ino, &other)) return true;
  *error = what + " would write over " + other;
  return false;
}

void plan_plugin_files(const std::string &folder, RunFiles *files) {
  for (const char *own : {"qel_export.so", "qel_export.tcl", "qel_export.opt"})
    files->reads(folder + "/" + own, std::string("the plug-in's ") + own);
}

std::string texture_stem(const std::string &name) {
  const std::string file = follow_name_links(name + ".x");
  if (file.find('/') == std::string::npos) return name_of(name);
  return folder_of(file) + "/" + name_of(name);
}

bool plan_model_reads(const Load &load, RunFiles *files, std::vector<std::string> *external,
                      std::string *error) {
  // The sample's textures are names only.
  if (load.source == Source::kSample) return true;
  for (const std::string &opened : load.opened)
    if (!files->reads(opened, "the file " + opened + " of the model", error)) return false;
  // Only an embedded image becomes an extracted file; every other entry
  // of the table is a file of the model's own, whatever its name.
  for (const NamedTexture &texture : load.textures) {
    if (texture.name.empty() || texture.embedded) continue;
    if (external != nullptr) external->push_back(texture.name);
    const std::string source =
        texture.file.empty() ? in_folder_of(load.file, texture.name) : texture.file;
    if (!files->reads(source, "the texture " + source + " of the model", error)) return false;
  }
  return true;
}

bool plan_texture_files(const TextureFilesPlan &plan, RunFiles *files,
                        std::vector<std::unique_ptr<OutputFile>> *copies,
                        std::vector<std::string> *notes, std::string *error) {
  const Load &load = plan.load;
  if (load.source == Source::kSample) return true;
  std::vector<std::string> external;
  if (!plan_model_reads(load, files, &external, error)) return false;
  for (const std::string &path : plan.extracted)
    if (!files->writes(path, false, "the extracted texture " + path, error) ||
        !files->writes_beside_others(path, "", "the extracted texture " + path, error))
      return false;
  if (!plan.copy) return true;
  const bool strip = option_is_set(plan.options, qel::opt_strip_texture_path);
  const std::string folder = folder_of(follow_name_links(plan.name + ".x"));
  for (const std::string &texture : external) {
    // A copy stays in the .x's folder: a name that leads out of it (a full
    // path, a "..") is the model's own to keep, found where it names.
    if (!strip && (texture[0] == '/' || ("/" + texture + "/").find("/../") != std::string::npos)) {
      notes->push_back("warning: the texture " + texture +
                       " leads out of the .x's folder and was not copied");
      continue;
    }
    std::string source = model_texture_file(load.file, texture);
    if (source.empty()) source = in_folder_of(load.file, texture);
    const std::string target = folder + "/" + (strip ? texture_base_name(texture) : texture);
    struct stat from, to;
    if (::stat(source.c_str(), &from) != 0) {
      notes->push_back("warning: the texture " + source + " is not there and was not copied");
      continue;
    }
    // Beside the .x already.
    if (::stat(target.c_str(), &to) == 0 && from.st_dev == to.st_dev && from.st_ino == to.st_ino)
      continue;
    // Two models of the batch may share a texture: it goes once.
    if (files->copied_already(target, source)) continue;
    const std::string what = "the copied texture " + target + " (a copy of " + source + ")";
    if (!files->writes(target, false, what, error) ||
        !files->writes_beside_others(target, source, what, error))
      return false;
    copies->push_back(std::make_unique<OutputFile>());
    std::string why;
    if (!copies->back()->open(target, false, &why) ||
        !copy_regular_file(source, copies->back()->fd(), &why)) {
      *error = "cannot copy the texture " + source + " to " + target + ": " + why;
      return false;
    }
    // Readable by nobody the source is not readable by.
    struct stat copy;
    if (::fstat(copies->back()->fd(), &copy) == 0)
      (void)::fchmod(copies->back()->fd(), copy.st_mode & from.st_mode & 0777);
  }
  return true;
}

}  // namespace molv
