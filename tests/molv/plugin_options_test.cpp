/*
 * The option table as the command line and the dialog show it: the
 * documented default string, every name and number answering, every switch
 * in the dialog, and every option in --help.
 */
#include "cli/usage.h"
#include "common/plugin_options.h"

#include <gtest/gtest.h>
#include <tcl.h>

#include <algorithm>
#include <vector>

#include <cstdio>
#include <string>

#include "core/options.h"

namespace {

TEST(PluginOptions, EveryNameOfTheTableAnswers) {
  EXPECT_EQ(qel::opt_triangulate, 9);
  EXPECT_EQ(qel::opt_decimals, 49);
  for (const molv::PluginOption &option : molv::plugin_options()) {
    EXPECT_EQ(molv::option_index(option.name), option.index) << option.name;
    EXPECT_EQ(molv::option_index(std::to_string(option.index)), option.index);
  }
}

// The dialog script keeps its own labels; every switch of the table must
// have one (and no label a switch the table lacks), and its Defaults button
// must bring back the table's string.
TEST(PluginOptions, TheDialogShowsEverySwitchOfTheTable) {
  Tcl_Interp *interp = Tcl_CreateInterp();
  const std::string script = std::string(QEL_SOURCE_DIR) + "/plugins/script/qel_export.tcl";
  ASSERT_EQ(Tcl_EvalFile(interp, script.c_str()), TCL_OK) << Tcl_GetStringResult(interp);
  ASSERT_EQ(Tcl_Eval(interp,
                     "set shown {}\n"
                     "foreach {key title switches} [::qel_export::groups] {\n"
                     "  foreach s $switches { lappend shown [lindex $s 0] }\n"
                     "}\n"
                     "lsort -integer $shown"),
            TCL_OK);
  const std::string shown = Tcl_GetStringResult(interp);
  std::vector<int> switches;
  for (const molv::PluginOption &option : molv::plugin_options())
    if (option.index != qel::opt_decimals) switches.push_back(option.index);
  std::sort(switches.begin(), switches.end());
  std::string expected;
  for (int index : switches) expected += (expected.empty() ? "" : " ") + std::to_string(index);
  EXPECT_EQ(shown, expected);
  ASSERT_EQ(Tcl_Eval(interp, "::qel_export::defaults"), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(interp), qel::kDefaultOptions);
  Tcl_DeleteInterp(interp);
}

TEST(PluginOptions, HelpListsEveryOptionWithItsDefaultWithinEightyColumns) {
  const std::string help = molv::cli::usage_text();
  for (const molv::PluginOption &option : molv::plugin_options()) {
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
