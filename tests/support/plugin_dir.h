/*
 * A test's own copy of the plug-in folder the build made (the library and
 * the dialog script).  The plug-in keeps its options file in its folder and
 * that file persists between runs, so every test that runs the plug-in
 * works on a fresh copy and no test depends on another.
 */
#ifndef QEL_TESTS_SUPPORT_PLUGIN_DIR_H
#define QEL_TESTS_SUPPORT_PLUGIN_DIR_H

#include <string>

namespace qel_test {

class PluginDir {
 public:
  // Copies every file of the build's plug-in folder but an options file
  // left there by a run by hand.  Fails the current test when the folder
  // holds no plug-in library.
  PluginDir();
  // Removes the copy with whatever the test left in it.
  ~PluginDir();
  PluginDir(const PluginDir &) = delete;
  PluginDir &operator=(const PluginDir &) = delete;

  // Absolute, without a trailing slash.
  const std::string &path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string &name) const;
  // The options file the plug-in keeps there.
  std::string options_file() const { return file("qel_export.opt"); }

 private:
  std::string path_;
};

// The folder the build puts the plug-in in.
std::string built_plugin_dir();

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_PLUGIN_DIR_H
