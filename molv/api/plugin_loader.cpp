/*
 * Loading a plug-in the way the modeller does: dlopen the library in the
 * plug-in folder, find its four entry points and run its init with a
 * start-up record that names the folder.
 *
 * The folder reaches the plug-in as an absolute path without a trailing
 * slash.  A relative folder is joined to the current folder as the user sees
 * it (the shell's $PWD when that is the current folder), and symbolic links
 * are kept as written: the plug-in keeps its options file beside itself,
 * under the name the user gave.
 */
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"

namespace molv {
namespace {

// The current folder as the user named it: $PWD when it is an absolute
// name of the same folder (a path through a link), else getcwd's.
std::string current_folder() {
  const char *pwd = std::getenv("PWD");
  struct stat by_name {
  }, here{};
  if (pwd != nullptr && pwd[0] == '/' && stat(pwd, &by_name) == 0 && stat(".", &here) == 0 &&
      by_name.st_dev == here.st_dev && by_name.st_ino == here.st_ino)
    return pwd;
  std::string buffer(256, '\0');
  while (getcwd(&buffer[0], buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

// DIR as an absolute path: joined to the current folder when relative,
// "." components and repeated or trailing slashes dropped.  ".." is kept:
// resolving it by text would be wrong after a link.
std::string absolute_folder(const std::string &dir) {
  std::string joined = (!dir.empty() && dir[0] == '/') ? dir : current_folder() + "/" + dir;
  std::string clean;
  size_t pos = 0;
  while (pos < joined.size()) {
    size_t end = joined.find('/', pos);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(pos, end - pos);
    if (!part.empty() && part != ".") {
      clean += '/';
      clean += part;
    }
    pos = end + 1;
  }
  return clean.empty() ? "/" : clean;
}

// Start-up records stay alive for the whole process: a plug-in may keep
// the folder pointer it was given.
struct Startup {
  std::string folder;
  mo_startup_record record{};
};

mo_startup_record *new_record(const std::string &dir) {
  static std::list<Startup> records;
  records.emplace_back();
  Startup &startup = records.back();
  startup.folder = absolute_folder(dir);
  startup.record.host_private = nullptr;
  startup.record.plugin_dir = startup.folder.c_str();
  return &startup.record;
}

}  // namespace

int plugin_start(mo_plugin_init_fn init, const std::string &dir) {
  if (init == nullptr) return -2;
  return init(new_record(dir));
}

void plugin_preload(const std::string &dir) {
  (void)dlopen((absolute_folder(dir) + "/qel_export.so").c_str(), RTLD_NOW | RTLD_LOCAL);
}

int plugin_load(const std::string &dir, std::string *error) {
  const std::string library = absolute_folder(dir) + "/qel_export.so";
  auto fail = [&](const std::string &why) {
    if (error) *error = why;
    return -2;
  };

  void *handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    return fail(why ? why : library + ": cannot be loaded");
  }
  // The library stays loaded for the rest of the process: its commands
  // and menu entries are registered with the host.
  static const char *const kEntryPoints[] = {"MOLVPluginInit", "MOLVPluginExit", "MOLVPluginAbout",
                                             "MOLVPluginInfo"};
  void *entries[4] = {};
  for (int i = 0; i < 4; ++i) {
    dlerror();
    entries[i] = dlsym(handle, kEntryPoints[i]);
    if (entries[i] == nullptr) {
      dlclose(handle);
      return fail(library + ": not a molv plug-in (no " + kEntryPoints[i] + ")");
    }
  }
  mo_plugin_init_fn init;
  static_assert(sizeof init == sizeof entries[0], "function pointer size");
  std::memcpy(&init, &entries[0], sizeof init);
  return plugin_start(init, dir);
}

bool plugin_about(const std::string &dir, std::string *about, std::string *error) {
  const std::string library = absolute_folder(dir) + "/qel_export.so";
  // Nothing of the plug-in runs but its about text: no start-up record, no
  // registrations, no options file read.
  void *handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    *error = why ? why : library + ": cannot be loaded";
    return false;
  }
  using AboutFn = const char *(*)();
  void *entry = dlsym(handle, "MOLVPluginAbout");
  if (entry == nullptr) {
    dlclose(handle);
    *error = library + ": not a molv plug-in (no MOLVPluginAbout)";
    return false;
  }
  AboutFn about_fn;
  std::memcpy(&about_fn, &entry, sizeof about_fn);
  const char *text = about_fn();
  *about = text != nullptr ? text : "";
  dlclose(handle);
  return true;
}

void install_headless_dialog() {
  tcl_eval("proc ::qel_export_dialog {options version} {return $options}");
  // The dialog clears qel_cancel before it starts an export; without it the
  // variable would not exist, and every cancel poll would read it through
  // Tcl's error path ("can't read"), the dearest part of a poll.
  tcl_eval("set ::qel_cancel 0");
}

}  // namespace molv
