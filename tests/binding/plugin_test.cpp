/*
 * Start-up of the plug-in in the host: the version refusal, the Tcl
 * variables, the dialog script, the registrations and the fixed texts.
 */
#include "binding/plugin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "binding/options.h"
#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "support/child_process.h"
#include "support/export_harness.h"

namespace {

std::string tcl(const std::string &script) {
  std::string result;
  molv::tcl_eval(script, &result);
  return result;
}

// A plug-in folder holding the dialog script, named `name` inside a fresh
// temporary folder; the folders go when the test process ends.
std::string make_plugin_dir(const std::string &name) {
  static std::vector<std::unique_ptr<qel_test::TempDir>> made;
  made.push_back(std::make_unique<qel_test::TempDir>("plugin"));
  std::string dir = made.back()->path() + "/" + name;
  EXPECT_EQ(::mkdir(dir.c_str(), 0755), 0) << dir;
  qel_test::write_file(dir + "/qel_export.tcl",
                       qel_test::read_file(std::string(QEL_SOURCE_DIR) +
                                           "/plugins/script/qel_export.tcl"));
  return dir;
}

TEST(PluginStartTest, OldHostIsRefusedAndNothingIsRegistered) {
  molv::set_host_version(4.9);
  molv::tcl_start(false);
  std::string dir = make_plugin_dir("plugins");
  testing::internal::CaptureStdout();
  int rc = molv::plugin_start(MOLVPluginInit, dir);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(out, "\n*** Falsches 'qel_export'-Plugin fuer diese MOLV-Version ! ***\n");
  EXPECT_TRUE(molv::export_menu().empty());
  EXPECT_TRUE(molv::registrations().empty());
  EXPECT_EQ(tcl("info exists qel_opt_anz"), "0");
  EXPECT_EQ(tcl("info procs qel_export_dialog"), "");
  EXPECT_NE(molv::tcl_eval("molv qel_main"), 0) << "qel_main registered by a refused plug-in";
  EXPECT_EQ(MOLVPluginExit(), 0);
}

TEST(PluginStartTest, VersionFiveIsAcceptedWithItsTclSide) {
  molv::set_host_version(5.0);
  molv::tcl_start(false);
  std::string dir = make_plugin_dir("plugins");
  ASSERT_EQ(molv::plugin_start(MOLVPluginInit, dir), 0);
  EXPECT_EQ(tcl("set qel_opt_anz"), "50");
  EXPECT_EQ(tcl("set qel_animation"), "0");
  EXPECT_EQ(tcl("info procs qel_export_dialog"), "qel_export_dialog");
  ASSERT_EQ(molv::export_menu().size(), 1u);
  EXPECT_EQ(molv::export_menu()[0].label, "Direct X ...");
  EXPECT_EQ(molv::export_menu()[0].tcl_text, "molv qel_main");
  EXPECT_EQ(qel::options_path(), dir + "/qel_export.opt");
  EXPECT_EQ(molv::registrations(),
            (std::vector<std::string>{
                "mo_add_command|qel_main",
                "mo_add_export_menu_item|Direct X ...|molv qel_main",
                "mo_add_command_full|qel_save|3|sss|<cmd string>  <name string>  <opt string>|"
                "Save X-File"}));
}

TEST(PluginStartTest, SaveCommandTakesExactlyThreeWords) {
  molv::tcl_start(false);
  ASSERT_EQ(molv::plugin_start(MOLVPluginInit, make_plugin_dir("plugins")), 0);
  std::string result;
  EXPECT_NE(molv::tcl_eval("molv qel_save export", &result), 0);
  EXPECT_EQ(result,
            "wrong # args: should be \"molv qel_save <cmd string>  <name string>  <opt string>\"");
}

TEST(PluginStartTest, FixedTexts) {
  EXPECT_STREQ(MOLVPluginAbout(), "qel_export.p v1.8 - DirectX (.x) export plug-in for molv\n");
  EXPECT_STREQ(MOLVPluginInfo(), "Export plugin for Microsoft(R) DirectX(R) (.x) files.\n");
  EXPECT_EQ(MOLVPluginAbout(), MOLVPluginAbout());
  EXPECT_EQ(MOLVPluginExit(), 0);
}

TEST(PluginStartTest, FolderNameIsNeverTclCode) {
  molv::tcl_start(false);
  std::string dir = make_plugin_dir("a b\"c$d[exec touch pwned]{e};g");
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  ASSERT_EQ(molv::plugin_start(MOLVPluginInit, dir), 0);
  EXPECT_EQ(tcl("info procs qel_export_dialog"), "qel_export_dialog")
      << "the dialog script was not sourced from " << dir;
  EXPECT_NE(::access((dir + "/pwned").c_str(), F_OK), 0);
  EXPECT_NE(::access("pwned", F_OK), 0);
  EXPECT_EQ(qel::options_path(), dir + "/qel_export.opt");
}

TEST(PluginStartTest, BackslashesOfTheFolderStayInTheOptionsPath) {
  // On this system a backslash is part of a file name: the options file
  // stays in the folder as given; the script is sourced from the host's
  // converted copy.
  molv::tcl_start(false);
  const qel_test::TempDir top_dir("bs");
  const std::string &top = top_dir.path();
  ASSERT_EQ(::mkdir((top + "/tools").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((top + "/tools/plugins").c_str(), 0755), 0);
  qel_test::write_file(top + "/tools/plugins/qel_export.tcl", "proc qel_export_dialog {o v} {return $o}\n");
  std::string dir = top + "\\tools\\plugins";
  ASSERT_EQ(molv::plugin_start(MOLVPluginInit, dir), 0);
  EXPECT_EQ(qel::options_path(), dir + "/qel_export.opt");
  EXPECT_EQ(tcl("info procs qel_export_dialog"), "qel_export_dialog");
}

}  // namespace
