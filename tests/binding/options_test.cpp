/*
 * The options of a run, the process's option string, its file, and
 * qel_main handing it to the dialog.
 */
#include "binding/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "binding/plugin.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "support/child_process.h"
#include "support/export_harness.h"

namespace {

using qel::option_string;

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qel::options_take_over(qel::kDefaultOptions);
    dir_ = qel_test::make_temp_dir("opts");
    qel::set_options_path(dir_);
  }
  void TearDown() override { qel_test::remove_tree(dir_); }
  std::string file() const { return dir_ + "/qel_export.opt"; }
  std::string dir_;
};

TEST(RunOptions, DefaultSwitches) {
  const qel::Options defaults;
  // What users' stored option files and the documents rely on: the table
  // must keep making exactly this string.  The one place it is spelt out;
  // every other test takes it from the table.
  EXPECT_STREQ(defaults.text(), "00001111000010100101001111101100000000000000000006");
  const int set[] = {4, 5, 6, 7, 12, 14, 17, 19, 22, 23, 24, 25, 26, 28, 29};
  for (int i = 0; i < qel::kOptionCount; ++i) {
    bool expected = std::find(std::begin(set), std::end(set), i) != std::end(set);
    EXPECT_EQ(defaults.is_set(i), expected) << "option " << i;
  }
  EXPECT_FALSE(defaults.is_set(-1));
  EXPECT_FALSE(defaults.is_set(50));
  EXPECT_FALSE(defaults.is_set(1000));
  EXPECT_EQ(defaults.decimal_places(), 6);
}

// A short text replaces only the leading options; only '1' sets one, and
// any byte in place of the decimal digit is clamped into 0..9.
TEST(RunOptions, TakenFromATextOverTheDefaults) {
  const qel::Options options("12x ");
  EXPECT_STREQ(options.text(), "12x 1111000010100101001111101100000000000000000006");
  EXPECT_TRUE(options.is_set(0));
  EXPECT_FALSE(options.is_set(1));
  EXPECT_FALSE(options.is_set(2));
  EXPECT_FALSE(options.is_set(3));
  const std::string switches(49, '0');
  EXPECT_EQ(qel::Options((switches + "0").c_str()).decimal_places(), 0);
  EXPECT_EQ(qel::Options((switches + "/").c_str()).decimal_places(), 0);
  EXPECT_EQ(qel::Options((switches + ":").c_str()).decimal_places(), 9);
  EXPECT_EQ(qel::Options((switches + "\xff").c_str()).decimal_places(), 9);
  EXPECT_EQ(qel::Options((switches + "3" + "more").c_str()).decimal_places(), 3);
}

TEST_F(OptionsTest, TakeOverReplacesOnlyTheLeadingCharacters) {
  qel::options_take_over("1");
  EXPECT_STREQ(option_string(), "10001111000010100101001111101100000000000000000006");
}

TEST_F(OptionsTest, TakeOverOfALongTextStopsAtFifty) {
  std::string text(80, '1');
  qel::options_take_over(text.c_str());
  EXPECT_EQ(std::strlen(option_string()), 50u);
  EXPECT_EQ(std::string(option_string()), std::string(50, '1'));
}

TEST_F(OptionsTest, LoadOfAMissingFileKeepsTheString) {
  EXPECT_EQ(qel::options_load(), 1);
  EXPECT_STREQ(option_string(), qel::kDefaultOptions);
}

TEST_F(OptionsTest, LoadOfAShortFileReplacesItsLength) {
  qel_test::write_file(file(), "1111");
  EXPECT_EQ(qel::options_load(), 0);
  EXPECT_STREQ(option_string(), "11111111000010100101001111101100000000000000000006");
}

TEST_F(OptionsTest, LoadOfAnEmptyFileChangesNothing) {
  qel_test::write_file(file(), "");
  EXPECT_EQ(qel::options_load(), 0);
  EXPECT_STREQ(option_string(), qel::kDefaultOptions);
}

TEST_F(OptionsTest, LoadTakesFiftyBytesOfALongerFile) {
  std::string text = std::string(49, '1') + "3" + "trailing bytes";
  qel_test::write_file(file(), text);
  EXPECT_EQ(qel::options_load(), 0);
  EXPECT_EQ(std::string(option_string()), text.substr(0, 50));
}

TEST_F(OptionsTest, BinaryBytesNeverShortenTheString) {
  std::string text("1\0\xff\n", 4);
  qel_test::write_file(file(), text);
  EXPECT_EQ(qel::options_load(), 0);
  EXPECT_EQ(std::strlen(option_string()), 50u);
  EXPECT_EQ(option_string()[1], '0');
  EXPECT_EQ(option_string()[2], '\xff');
}

TEST_F(OptionsTest, SaveWritesExactlyTheFiftyCharacters) {
  qel::options_take_over("10101");
  EXPECT_EQ(qel::options_save(), 0);
  EXPECT_EQ(qel_test::read_file(file()), std::string(option_string()));
  EXPECT_EQ(qel_test::read_file(file()).size(), 50u);
  qel::options_take_over(qel::kDefaultOptions);
  EXPECT_EQ(qel::options_load(), 0);
  EXPECT_EQ(std::string(option_string(), 5), "10101");
}

TEST_F(OptionsTest, SaveIntoAFolderThatMayNotBeWrittenFails) {
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  int rc = qel_test::run_in_child(true, [] { return qel::options_save(); });
  EXPECT_EQ(rc, 1);
  EXPECT_NE(::access(file().c_str(), F_OK), 0);
}

// qel_main in a running host: the trace, the file and the dialog call.
class QelMainTest : public OptionsTest {
 protected:
  void SetUp() override {
    OptionsTest::SetUp();
    qel_test::write_file(dir_ + "/qel_export.tcl",
                         qel_test::read_file(std::string(QEL_SOURCE_DIR) +
                                             "/plugins/script/qel_export.tcl"));
    molv::tcl_start(false);
    molv::set_record_debug(true);
    ASSERT_EQ(molv::plugin_start(MOLVPluginInit, dir_), 0);
    molv::install_headless_dialog();
    molv::clear_recording();
  }
  std::string run_main() {
    std::string result;
    EXPECT_EQ(molv::tcl_eval("molv qel_main", &result), 0) << result;
    return result;
  }
};

TEST_F(QelMainTest, FirstOpenWithoutFileGivesTheDefault) {
  EXPECT_EQ(run_main(), qel::kDefaultOptions);
  std::string expected = "\n" + std::string(79, '-') +
                         "\n\nDirectX-Export ( QTV )\n======================\n\n" +
                         "\nOptions-Datei : '" + file() + "'\n" + "   -> Fehler !!! ( 1 )\n";
  EXPECT_EQ(molv::recording().debug.substr(0, expected.size()), expected);
}

TEST_F(QelMainTest, DialogGetsTheOptionsAndTheVersion) {
  // A recording dialog instead of the headless one.
  molv::tcl_eval("proc qel_export_dialog {options version} {"
                 " set ::seen [list $options $version]; return $options }");
  qel_test::write_file(file(), "11111111111111111111111111111111111111111111111112");
  EXPECT_EQ(run_main(), "11111111111111111111111111111111111111111111111112");
  std::string seen;
  molv::tcl_eval("set ::seen", &seen);
  EXPECT_EQ(seen, "11111111111111111111111111111111111111111111111112 1.8");
  EXPECT_NE(molv::recording().debug.find("   -> OK !\n"), std::string::npos);
}

TEST_F(QelMainTest, TclCodeInTheOptionsFileNeverRuns) {
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  std::string hostile = "[exec touch pwned]$x\"{}\\ ;";
  hostile.resize(50, '0');
  qel_test::write_file(file(), hostile);
  EXPECT_EQ(run_main(), hostile);
  EXPECT_NE(::access((dir_ + "/pwned").c_str(), F_OK), 0);
}

}  // namespace
