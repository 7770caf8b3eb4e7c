/*
 * The command line's table of the plug-in's options against the plug-in's
 * own: every name is the plug-in's option name without "opt_" at the same
 * number, the defaults are the plug-in's, and --help shows each of them.
 */
#include "plugin_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "binding/options.h"
#include "cli.h"

namespace {

struct Named {
  const char *name;
  int index;
};

// The plug-in's table, spelled through its enum: a renumbered or renamed
// option fails to compile here or to match below.
#define QEL_OPTION(name) \
  { #name + 4, qel::name }
const Named kPluginTable[] = {
    QEL_OPTION(opt_model_info),
    QEL_OPTION(opt_data_comments),
    QEL_OPTION(opt_z_axis),
    QEL_OPTION(opt_strip_texture_path),
    QEL_OPTION(opt_textures),
    QEL_OPTION(opt_materials),
    QEL_OPTION(opt_normals),
    QEL_OPTION(opt_flip_normals),
    QEL_OPTION(opt_triangulate),
    QEL_OPTION(opt_no_frames),
    QEL_OPTION(opt_winding),
    QEL_OPTION(opt_surface_shading),
    QEL_OPTION(opt_duplication_indices),
    QEL_OPTION(opt_object_names),
    QEL_OPTION(opt_index_names),
    QEL_OPTION(opt_fixed_numbers),
    QEL_OPTION(opt_no_specular),
    QEL_OPTION(opt_texture_material),
    QEL_OPTION(opt_no_leaf_frames),
    QEL_OPTION(opt_line_comments),
    QEL_OPTION(opt_two_sided),
    QEL_OPTION(opt_optimize_vertices),
    QEL_OPTION(opt_subdivision),
    QEL_OPTION(opt_digit_prefix),
    QEL_OPTION(opt_decimals),
};
#undef QEL_OPTION

TEST(PluginOptions, TheTableIsThePluginsOwn) {
  ASSERT_EQ(molv::plugin_options().size(), std::size(kPluginTable));
  for (size_t i = 0; i < std::size(kPluginTable); ++i) {
    const molv::PluginOption &ours = molv::plugin_options()[i];
    EXPECT_STREQ(ours.name, kPluginTable[i].name);
    EXPECT_EQ(ours.index, kPluginTable[i].index) << ours.name;
    EXPECT_EQ(molv::option_index(ours.name), ours.index) << ours.name;
    EXPECT_EQ(molv::option_index(std::to_string(ours.index)), ours.index);
  }
  EXPECT_STREQ(molv::default_option_string(), qel::kDefaultOptions);
  EXPECT_EQ(molv::kOptionLength, qel::kOptionCount);
}

TEST(PluginOptions, HelpListsEveryOptionWithItsDefaultWithinEightyColumns) {
  const std::string help = molv::cli::usage_text();
  for (const Named &option : kPluginTable) {
    char start[64];
    std::snprintf(start, sizeof start, "\n  %2d %-20s %c  ", option.index, option.name,
                  qel::kDefaultOptions[option.index]);
    EXPECT_NE(help.find(start), std::string::npos) << option.name;
  }
  // The test switches stand apart, after everything a user needs.
  const size_t for_tests = help.find("\nFor tests:\n");
  ASSERT_NE(for_tests, std::string::npos);
  EXPECT_GT(help.find("--cancel-at-poll"), for_tests);
  EXPECT_GT(help.find("--fail-alloc-after"), for_tests);
  size_t start = 0;
  while (start < help.size()) {
    const size_t end = help.find('\n', start);
    const std::string line = help.substr(start, end - start);
    // Only the build's plug-in folder may make its line longer.
    if (line.find("--plugin-dir DIR ") == std::string::npos) {
      EXPECT_LE(line.size(), 80u) << line;
    }
    start = end + 1;
  }
}

}  // namespace
