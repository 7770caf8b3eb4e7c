/*
 * Loading plug-ins: the folder the start-up record names, what happens
 * when a folder holds no usable library, the real plug-in loaded with
 * dlopen, and the headless dialog.
 */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "core/options.h"
#include "support/child_process.h"
#include "support/plugin_dir.h"

namespace fs = std::filesystem;

namespace {

// An init linked into the test: remembers what the host handed it.
std::string g_seen_dir;
const mo_startup_record *g_seen_record = nullptr;
int g_init_result = 0;

int remembering_init(mo_startup_record *record) {
  g_seen_record = record;
  g_seen_dir = record->plugin_dir;
  return g_init_result;
}

std::string start_with(const std::string &dir) {
  g_seen_dir = "<not called>";
  EXPECT_EQ(molv::plugin_start(remembering_init, dir), g_init_result);
  return g_seen_dir;
}

std::string current_folder() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

// Runs a test body in another current folder and gives the old one back.
class InFolder {
 public:
  explicit InFolder(const std::string &dir) : old_(current_folder()) {
    const char *pwd = std::getenv("PWD");
    old_pwd_ = pwd ? pwd : "";
    EXPECT_EQ(::chdir(dir.c_str()), 0) << dir;
  }
  ~InFolder() {
    EXPECT_EQ(::chdir(old_.c_str()), 0);
    ::setenv("PWD", old_pwd_.c_str(), 1);
  }

 private:
  std::string old_;
  std::string old_pwd_;
};

class PluginLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = qel_test::make_temp_dir("loader");
    molv::tcl_start(false);
    g_init_result = 0;
  }
  void TearDown() override {
    molv::tcl_stop();
    qel_test::remove_tree(temp_);
  }
  std::string temp_;
};

// ---- the folder in the start-up record -----------------------------------------

TEST_F(PluginLoader, AbsoluteFolderLosesOnlyItsTrailingSlashes) {
  EXPECT_EQ(start_with("/opt/molv/plugins"), "/opt/molv/plugins");
  EXPECT_EQ(start_with("/opt/molv/plugins/"), "/opt/molv/plugins");
  EXPECT_EQ(start_with("/opt/molv/plugins///"), "/opt/molv/plugins");
  EXPECT_EQ(start_with("/opt//molv/./plugins"), "/opt/molv/plugins");
  // ".." stays: after a link it does not mean the folder the text suggests.
  EXPECT_EQ(start_with("/opt/link/../plugins"), "/opt/link/../plugins");
  EXPECT_EQ(start_with("/"), "/");
}

TEST_F(PluginLoader, RelativeFolderIsJoinedToTheCurrentFolder) {
  const std::string real = fs::canonical(temp_).string();
  InFolder here(real);
  ::setenv("PWD", real.c_str(), 1);
  EXPECT_EQ(start_with("plugins"), real + "/plugins");
  EXPECT_EQ(start_with("./plugins/"), real + "/plugins");
  EXPECT_EQ(start_with("."), real);
  EXPECT_EQ(start_with(""), real);
}

TEST_F(PluginLoader, LinksAreKeptAsTheUserNamedThem) {
  const std::string real = fs::canonical(temp_).string();
  fs::create_directory(real + "/target");
  fs::create_directory_symlink(real + "/target", real + "/link");
  EXPECT_EQ(start_with(real + "/link/"), real + "/link");

  // In a folder reached through a link, the shell's name for it is kept.
  InFolder here(real + "/link");
  ::setenv("PWD", (real + "/link").c_str(), 1);
  EXPECT_EQ(start_with("plugins"), real + "/link/plugins");
  // A stale $PWD (another folder) is not believed.
  ::setenv("PWD", "/", 1);
  EXPECT_EQ(start_with("plugins"), real + "/target/plugins");
}

TEST_F(PluginLoader, StartReturnsTheInitResultAndKeepsTheRecordAlive) {
  g_init_result = -1;
  EXPECT_EQ(start_with("/first/dir"), "/first/dir");
  const mo_startup_record *first = g_seen_record;
  g_init_result = 0;
  EXPECT_EQ(start_with("/second/dir"), "/second/dir");
  // A plug-in may keep the pointers it was given.
  EXPECT_STREQ(first->plugin_dir, "/first/dir");
  EXPECT_EQ(first->host_private, nullptr);
  EXPECT_EQ(molv::plugin_start(nullptr, "/x"), -2);
}

// ---- libraries that cannot be used --------------------------------------------

TEST_F(PluginLoader, MissingLibraryIsReportedWithItsPath) {
  std::string error;
  EXPECT_EQ(molv::plugin_load(temp_ + "/nowhere/", &error), -2);
  EXPECT_NE(error.find(temp_ + "/nowhere/qel_export.so"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_TRUE(molv::export_menu().empty());
}

TEST_F(PluginLoader, FileThatIsNoLibraryIsRefused) {
  qel_test::write_file(temp_ + "/qel_export.so", "not a shared object\n");
  std::string error;
  EXPECT_EQ(molv::plugin_load(temp_, &error), -2);
  EXPECT_NE(error.find(temp_ + "/qel_export.so"), std::string::npos) << error;
}

TEST_F(PluginLoader, LibraryWithoutEntryPointsIsRefused) {
  // Any shared library that is not a molv plug-in: the Tcl library.
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<void *>(&Tcl_CreateInterp), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  fs::copy_file(info.dli_fname, temp_ + "/qel_export.so");
  std::string error;
  EXPECT_EQ(molv::plugin_load(temp_, &error), -2);
  EXPECT_EQ(error, temp_ + "/qel_export.so: not a molv plug-in (no MOLVPluginInit)");
}

// ---- the real plug-in ------------------------------------------------------------

TEST_F(PluginLoader, LoadsThePluginWhichRegistersItselfFromItsFolder) {
  qel_test::PluginDir plugin;
  std::string error;
  ASSERT_EQ(molv::plugin_load(plugin.path() + "/", &error), 0) << error;
  ASSERT_EQ(molv::export_menu().size(), 1u);
  EXPECT_EQ(molv::export_menu()[0].label, "Direct X ...");
  EXPECT_EQ(molv::export_menu()[0].tcl_text, "molv qel_main");
  // The dialog script came from the folder the record named.
  std::string result;
  EXPECT_EQ(molv::tcl_eval("info procs qel_export_dialog", &result), TCL_OK);
  EXPECT_EQ(result, "qel_export_dialog");

  molv::install_headless_dialog();
  EXPECT_EQ(molv::tcl_eval("molv qel_main", &result), TCL_OK) << result;
  EXPECT_EQ(result, qel::kDefaultOptions);
}

TEST_F(PluginLoader, OldHostIsRefusedByThePlugin) {
  qel_test::PluginDir plugin;
  molv::set_host_version(4.9);
  std::string error;
  EXPECT_EQ(molv::plugin_load(plugin.path(), &error), -1);
  EXPECT_TRUE(molv::export_menu().empty());
  molv::set_host_version(6.0);
}

// ---- the dialog without a window --------------------------------------------------

TEST_F(PluginLoader, HeadlessDialogReturnsItsOptionsUnchanged) {
  std::string result;
  molv::tcl_eval("proc qel_export_dialog {options version} { toplevel .x_export_save }");
  molv::install_headless_dialog();
  const std::string options = "0101 [exit] $x {\"}\\";
  std::string command = "qel_export_dialog ";
  char *word = Tcl_Merge(1, std::vector<const char *>{options.c_str()}.data());
  command += word;
  Tcl_Free(word);
  EXPECT_EQ(molv::tcl_eval(command + " 1.8", &result), TCL_OK) << result;
  EXPECT_EQ(result, options);
  EXPECT_EQ(molv::tcl_eval("qel_export_dialog 0101", &result), TCL_ERROR);
}

}  // namespace
