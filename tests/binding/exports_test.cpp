/*
 * What qel_export.so shows the host: exactly the four entry points, and the
 * host functions left for the host executable to provide.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "support/plugin_dir.h"

namespace {

std::set<std::string> dynamic_symbols(const std::string &flags) {
  std::string command = "nm -D " + flags + " --format=posix '" + qel_test::built_plugin_dir() +
                        "/qel_export.so'";
  std::set<std::string> names;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string name(line);
    name = name.substr(0, name.find(' '));
    if (!name.empty()) names.insert(name.substr(0, name.find('@')));
  }
  ::pclose(pipe);
  return names;
}

TEST(PluginLibrary, ExportsExactlyTheFourEntryPoints) {
  EXPECT_EQ(dynamic_symbols("--defined-only"),
            (std::set<std::string>{"MOLVPluginAbout", "MOLVPluginExit", "MOLVPluginInfo",
                                   "MOLVPluginInit"}));
}

TEST(PluginLibrary, LeavesTheHostFunctionsToTheHost) {
  std::set<std::string> undefined = dynamic_symbols("--undefined-only");
  for (const char *host : {"mo_get_version_number", "tcl_command", "debugf", "myalloc", "myfree",
                           "mo_get_world", "list_add_item", "surface_clone",
                           "object_calc_normals_force", "mo_get_export_filename"}) {
    EXPECT_EQ(undefined.count(host), 1u) << host;
  }
}

}  // namespace
