/*
 * One qel_save run in the host: the file name rules, the open failure, the
 * header, the header patch, the final status, the options file, and host
 * memory given back.
 */
#include "export/save_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/options.h"
#include "binding/tcl_word.h"
#include "api/host_memory.h"
#include "api/display.h"
#include "api/model.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "xwriter/header.h"

namespace {

using qel_test::read_file;

const char kEmptyScene[] = R"({"world": {}})";

class SaveCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qel_test::load_scene(kEmptyScene);
    dir_ = qel_test::make_temp_dir("save");
    ::unlink(qel::options_path().c_str());
    qel::options_take_over(qel::kDefaultOptions);
    molv::hooks().choose_file = nullptr;
    molv::clear_recording();
  }
  void TearDown() override {
    molv::hooks().choose_file = nullptr;
    molv::hooks().status = nullptr;
    qel_test::remove_tree(dir_);
  }
  // Runs "molv qel_save CMD NAME OPTIONS" as the dialog would.
  void save(const std::string &command, const std::string &name, const std::string &options) {
    molv::clear_recording();
    std::string script = "molv qel_save " + qel::tcl_word(command) + " " + qel::tcl_word(name) +
                         " " + qel::tcl_word(options);
    std::string result;
    ASSERT_EQ(molv::tcl_eval(script, &result), 0) << result;
  }
  bool exists(const std::string &path) const { return ::access(path.c_str(), F_OK) == 0; }
  const std::vector<std::string> &status() const { return molv::recording().status_lines; }

  std::string dir_;
  const std::string options_ = qel_test::all_clear_options();
};

TEST_F(SaveCommandTest, NameGetsDotXAndTheRunEndsReady) {
  save("export", dir_ + "/model", options_);
  EXPECT_TRUE(exists(dir_ + "/model.x"));
  EXPECT_EQ(status(), (std::vector<std::string>{"Export X File ...", "Ready !"}));
  EXPECT_TRUE(molv::recording().messages.empty());
  ASSERT_FALSE(molv::recording().progress.empty());
  EXPECT_EQ(molv::recording().progress.back(), 0);
}

TEST_F(SaveCommandTest, NameEndingInDotXGetsASecondOne) {
  save("export", dir_ + "/model.x", options_);
  EXPECT_TRUE(exists(dir_ + "/model.x.x"));
  EXPECT_FALSE(exists(dir_ + "/model.x"));
}

TEST_F(SaveCommandTest, EmptyNameAsksTheChooserAndTakesItsNameUnchanged) {
  static std::string chosen;
  static std::vector<std::string> seen;
  chosen = dir_ + "/picked";
  seen.clear();
  molv::hooks().choose_file = [](const char *title, const char *const *filters) {
    seen.push_back(title);
    for (const char *const *f = filters; *f != nullptr; ++f) seen.push_back(*f);
    return chosen.c_str();
  };
  save("export", "", options_);
  EXPECT_TRUE(exists(dir_ + "/picked"));
  EXPECT_EQ(seen, (std::vector<std::string>{"Save X File", "X Files", ".x", "All Files", "*"}));
}

TEST_F(SaveCommandTest, SaveAsAsksTheChooserEvenWithAName) {
  static std::string chosen;
  chosen = dir_ + "/picked.x";
  molv::hooks().choose_file = [](const char *, const char *const *) { return chosen.c_str(); };
  save("save_as", dir_ + "/ignored", options_);
  EXPECT_TRUE(exists(dir_ + "/picked.x"));
  EXPECT_FALSE(exists(dir_ + "/ignored.x"));
}

TEST_F(SaveCommandTest, CancelledChooserDoesNothingButKeepTheOptions) {
  molv::hooks().choose_file = [](const char *, const char *const *) -> const char * {
    return "";
  };
  molv::set_record_debug(true);
  save("save_as", "", "1");
  EXPECT_TRUE(status().empty());
  EXPECT_TRUE(molv::recording().messages.empty());
  EXPECT_EQ(molv::recording().debug, "\n'qel_save_cmd' : 'save_as', '', '1'\n");
  EXPECT_FALSE(exists(qel::options_path()));
  EXPECT_EQ(qel::option_string()[0], '1');
}

TEST_F(SaveCommandTest, FileThatCannotBeOpenedGivesOnlyTheMessage) {
  std::string name = dir_ + "/no/such/folder/model";
  save("export", name, options_);
  EXPECT_EQ(molv::recording().messages,
            std::vector<std::string>{"Can not open file '" + name + ".x' for writing !"});
  EXPECT_TRUE(status().empty());
  EXPECT_FALSE(exists(qel::options_path()));
}

TEST_F(SaveCommandTest, DirectoryTargetGivesTheOpenMessage) {
  ASSERT_EQ(::mkdir((dir_ + "/d.x").c_str(), 0755), 0);
  save("export", dir_ + "/d", options_);
  EXPECT_EQ(molv::recording().messages.size(), 1u);
  EXPECT_TRUE(status().empty());
}

TEST_F(SaveCommandTest, CompleteRunSavesTheOptions) {
  std::string options = qel_test::options_with("", {{0, '1'}, {30, '1'}});
  save("export", dir_ + "/m", options);
  EXPECT_EQ(read_file(qel::options_path()), options);
}

TEST_F(SaveCommandTest, HeaderWithoutModelInformation) {
  save("export", dir_ + "/h", options_);
  std::string text = read_file(dir_ + "/h.x");
  const std::string expected =
      "xof 0302txt 0064\n\n"
      "// Created by molv 6.0 ( http://www.molv.example )\n"
      "// Export Plugin : 'qel_export.p' v1.8 by Quorrin Talv\n\n\n";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  EXPECT_EQ(text.find("Model Information"), std::string::npos);
}

TEST_F(SaveCommandTest, HeaderWithModelInformation) {
  qel_test::load_scene(R"({"host": {"version_string": "molv 7.1", "info": "line one\n\nline three\n"},
                           "world": {}})");
  save("export", dir_ + "/h", qel_test::options_with("", {{1, '1'}}));
  std::string text = read_file(dir_ + "/h.x");
  const std::string expected =
      "xof 0302txt 0064\n\n"
      "// Created by molv 7.1 ( http://www.molv.example )\n"
      "// Export Plugin : 'qel_export.p' v1.8 by Quorrin Talv\n\n\n"
      "\n//\n// ***** Model Information ( MOLV model ) *****\n//\n"
      "// line one\n// \n// line three\n"
      "//\n//\n//\n// ***** Model Information ( X file ) *****\n//\n"
      "// Total number of vertices : 0      \n"
      "// Number of vertices used by surfaces : 0\n"
      "//\n\n\n\n";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
}

TEST_F(SaveCommandTest, ModelInformationWithoutLineEndAndEmpty) {
  qel_test::load_scene(R"({"host": {"info": "one\ntwo"}, "world": {}})");
  save("export", dir_ + "/a", qel_test::options_with("", {{1, '1'}}));
  EXPECT_NE(read_file(dir_ + "/a.x").find("//\n// one\n// two//\n//\n//\n// *****"), std::string::npos);
  qel_test::load_scene(R"({"host": {"info": ""}, "world": {}})");
  save("export", dir_ + "/b", qel_test::options_with("", {{1, '1'}}));
  EXPECT_NE(read_file(dir_ + "/b.x").find("*****\n//\n// //\n//\n//\n// *****"), std::string::npos);
}

TEST_F(SaveCommandTest, HostTextsNeverEndTheirCommentEarly) {
  qel_test::load_scene(R"({"host": {"version_string": "molv\r{ 6.0\n", "info": "a\rb {\r\nc\n"},
                           "world": {}})");
  save("export", dir_ + "/c", qel_test::options_with("", {{1, '1'}}));
  std::string text = read_file(dir_ + "/c.x");
  EXPECT_NE(text.find("// Created by molv { 6.0  ( http://www.molv.example )\n"), std::string::npos);
  EXPECT_NE(text.find("//\n// a\r// b {\r\n// c\n//\n"), std::string::npos);
}

TEST_F(SaveCommandTest, DefaultInfoTextCountsTheModel) {
  qel_test::load_scene(R"({"world": {"children": [
      {"name": "g", "children": [{"name": "t", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
                                  "surfaces": [{"verts": [0,1,2]}]}]}]}})");
  save("export", dir_ + "/i", qel_test::options_with("", {{1, '1'}}));
  EXPECT_NE(read_file(dir_ + "/i.x").find("// Objects : 2\n// Vertices : 3\n// Surfaces : 1\n//\n"),
            std::string::npos);
}

TEST_F(SaveCommandTest, EveryRunGivesBackTheHostMemoryItTook) {
  long before = molv::live_allocations();
  save("export", dir_ + "/a", qel_test::options_with("", {{1, '1'}, {6, '1'}}));
  EXPECT_EQ(molv::live_allocations(), before);
  save("export", dir_ + "/no/such/b", options_);
  EXPECT_EQ(molv::live_allocations(), before);
}

// Whatever is thrown inside a run ends it as failed with a message that
// says what happened; "Out of memory !" is for a failed allocation only.
// The mesh's copies and tables and the maps go back, and no file is left.
TEST_F(SaveCommandTest, AnExceptionInsideAMeshFailsTheRunWithWhatHappened) {
  qel_test::load_scene(qel_test::golden("mesh_cube.json"));
  static std::function<void()> raise;
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { throw std::runtime_error("the host broke"); }, "Export failed : the host broke !"},
      {[] { throw std::bad_alloc(); }, "Out of memory !"},
      {[] { throw 7; }, "Export failed : an unknown error !"},
  };
  for (const auto &c : cases) {
    raise = c.first;
    molv::hooks().status = [](const std::string &text) {
      if (text == "Export X File - Mesh Vertices ...") raise();
    };
    const long live = molv::live_allocations();
    save("export", dir_ + "/model", options_);
    EXPECT_EQ(molv::recording().messages, std::vector<std::string>{c.second});
    EXPECT_EQ(status().back(), "*** Export failed ! ***");
    EXPECT_FALSE(exists(dir_ + "/model.x"));
    EXPECT_EQ(molv::live_allocations(), live) << c.second;
  }
  // And the next run goes through.
  molv::hooks().status = nullptr;
  save("export", dir_ + "/model", options_);
  EXPECT_EQ(status().back(), "Ready !");
  EXPECT_TRUE(exists(dir_ + "/model.x"));
}

// A second run or the dialog, from an event processed during a run, would
// share its state: the dialog would load the options file into it.
TEST_F(SaveCommandTest, SecondRunAndDialogDuringARunAreRefused) {
  molv::set_record_debug(true);
  qel_test::write_file(qel::options_path(), std::string(49, '1') + "3");
  std::string nested = dir_ + "/nested";
  molv::tcl_eval("proc ::nested_save {args} { molv qel_main; molv qel_save export " +
                 qel::tcl_word(nested) + " " + options_ + " }");
  molv::tcl_eval("trace add execution update enter ::nested_save");
  save("export", dir_ + "/outer", options_);
  molv::tcl_eval("trace remove execution update enter ::nested_save");
  EXPECT_TRUE(exists(dir_ + "/outer.x"));
  EXPECT_FALSE(exists(nested + ".x"));
  const std::string &debug = molv::recording().debug;
  EXPECT_NE(debug.find("qel_save : export already running\n"), std::string::npos);
  EXPECT_NE(debug.find("qel_main : export already running\n"), std::string::npos);
  EXPECT_EQ(debug.find("Options-Datei"), std::string::npos) << "the options file was read";
  EXPECT_EQ(read_file(qel::options_path()), options_) << "the run saved other options";
  EXPECT_EQ(status().back(), "Ready !");
}

TEST_F(SaveCommandTest, FileNamesWithPercentAndQuotesAreNeverFormats) {
  std::string name = dir_ + "/100%s \"%d\" [x]";
  save("export", name, options_);
  EXPECT_TRUE(exists(name + ".x"));
}

TEST_F(SaveCommandTest, LongFileNamesAreWritten) {
  std::string name = dir_;
  for (int i = 0; i < 3; ++i) {
    name += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(name.c_str(), 0755), 0);
  }
  name += "/" + std::string(200, 'f');
  save("export", name, options_);
  EXPECT_TRUE(exists(name + ".x"));
}

// The header patch, on a header written with chosen totals.
class HeaderPatchTest : public ::testing::Test {
 protected:
  void header_with_total(int total) {
    qel_test::start_host();
    r_.run.surface_vertex_total = total;
    qel::write_header(r_.run);
  }
  std::string patched(int written) {
    qel::patch_header(r_.run, written);
    const std::string &text = r_.text();
    std::string::size_type at = text.find("// Total number of vertices : ");
    std::string::size_type end = text.find('\n', at);
    return text.substr(at, end - at + 1);
  }
  qel_test::StringRun r_{qel_test::options_with("", {{1, '1'}})};
};

TEST_F(HeaderPatchTest, ShorterNumberLeavesSpacesBehind) {
  header_with_total(12345);
  EXPECT_EQ(patched(99), "// Total number of vertices : 99         \n");
}

TEST_F(HeaderPatchTest, SameLengthNumber) {
  header_with_total(24);
  EXPECT_EQ(patched(8), "// Total number of vertices : 8       \n");
}

TEST_F(HeaderPatchTest, MuchShorterNumberClearsTheOldDigits) {
  header_with_total(123456789);
  EXPECT_EQ(patched(1), "// Total number of vertices : 1              \n");
}

TEST_F(HeaderPatchTest, LongerNumberUsesTheSpaces) {
  header_with_total(12);
  EXPECT_EQ(patched(1234567), "// Total number of vertices : 1234567 \n");
}

TEST_F(HeaderPatchTest, NumberThatDoesNotFitLeavesThePlaceholder) {
  header_with_total(12);
  EXPECT_EQ(patched(123456789), "// Total number of vertices : 12      \n");
}

TEST_F(HeaderPatchTest, RestOfTheHeaderUnchanged) {
  header_with_total(500);
  const std::string before = r_.text();  // the patch now goes to bytes already written out
  ASSERT_FALSE(before.empty());
  qel::patch_header(r_.run, 20);
  const std::string &text = r_.text();
  ASSERT_EQ(text.size(), before.size());
  std::string::size_type at = before.find("// Total number of vertices : ") + 30;
  EXPECT_EQ(text.substr(0, at), before.substr(0, at));
  EXPECT_EQ(text.substr(at + 9), before.substr(at + 9));
}

// The abort sequence on its own.
TEST(AbortSequenceTest, ClearsTheCancelNotesItAndEndsTheRunCancelled) {
  qel_test::start_host();
  molv::set_record_debug(true);
  molv::clear_recording();
  molv::tcl_eval("set qel_cancel 1");
  qel_test::StringRun r("");
  r.out.puts("partial");
  r.run.abort_sequence();
  EXPECT_EQ(r.text(), "partial\n\n##### Abort by User !!! #####\n\n");
  EXPECT_EQ(molv::recording().debug, "\n\n##### Abort by User !!! #####\n\n");
  EXPECT_EQ(r.run.status(), qel::RunStatus::cancelled);
  std::string cancel;
  molv::tcl_eval("set qel_cancel", &cancel);
  EXPECT_EQ(cancel, "0");
}

TEST(AbortSequenceTest, CancelPollReadsTheVariable) {
  qel_test::start_host();
  molv::clear_recording();
  molv::tcl_eval("set qel_cancel 0");
  qel_test::StringRun r("");
  EXPECT_FALSE(r.run.cancel_poll("Export X File - Mesh Vertices ..."));
  molv::tcl_eval("set qel_cancel 1");
  EXPECT_TRUE(r.run.cancel_poll(nullptr));
  EXPECT_EQ(molv::recording().status_lines,
            std::vector<std::string>{"Export X File - Mesh Vertices ..."});
}

}  // namespace
