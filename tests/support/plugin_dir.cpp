/*
 * Temporary copies of the plug-in folder.
 */
#include "support/plugin_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "support/child_process.h"

namespace fs = std::filesystem;

namespace qel_test {

std::string built_plugin_dir() { return QEL_PLUGIN_BUILD_DIR; }

PluginDir::PluginDir() : path_(make_temp_dir("plugin")) {
  const fs::path source = built_plugin_dir();
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(source, error)) {
    if (!entry.is_regular_file() || entry.path().filename() == "qel_export.opt") continue;
    fs::copy_file(entry.path(), fs::path(path_) / entry.path().filename(), error);
    if (error) ADD_FAILURE() << "copying " << entry.path() << ": " << error.message();
  }
  if (!fs::exists(fs::path(path_) / "qel_export.so"))
    ADD_FAILURE() << "no plug-in library in " << source << " (is the plug-in built?)";
}

PluginDir::~PluginDir() { remove_tree(path_); }

std::string PluginDir::file(const std::string &name) const { return path_ + "/" + name; }

}  // namespace qel_test
