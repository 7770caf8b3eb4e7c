/*
 * Whole exports through the real molv and the real qel_export.so: the
 * sample scene, a failed write, a failed allocation and cancels, each with
 * what the user is left with (exit status, message, the file, the options
 * file, an earlier file of the same name).
 */
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "binding/options.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/molv_run_test.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"

namespace fs = std::filesystem;

namespace {

const std::string kDefaults = qel::kDefaultOptions;

// Two meshes, shared host vertices and duplication indices: every cancel
// point of a mesh is reached.
const char kTwoMeshes[] = R"({
  "palette": [{"name": "red", "diffuse": [1, 0, 0]}, {"name": "blue", "diffuse": [0, 0, 1]}],
  "world": {"children": [
    {"name": "strip", "vertices": [[0,0,0],[1,0,0],[2,0,0],[0,1,0],[1,1,0],[2,1,0]],
     "surfaces": [{"verts": [0,1,4,3]}, {"verts": [1,2,5,4], "material": 1}]},
    {"name": "tri", "centre": [0,0,1], "vertices": [[0,0,1],[1,0,1],[0,1,1]],
     "surfaces": [{"verts": [0,1,2], "twosided": true}]}]}})";

class ExportRun : public qel_test::MolvRunTest {
 protected:
  using MolvRunTest::run;
  qel_test::RunResult run(std::vector<std::string> args, long file_size_limit) {
    qel_test::RunOptions options;
    options.file_size_limit = file_size_limit;
    return run(std::move(args), options);
  }
};

TEST_F(ExportRun, SampleSceneIsWrittenAndTheOptionsRemembered) {
  auto r = run({"-o", "sample", "--options", kDefaults, "--remembered", "--verbose"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  // Standard output is kept for what the user asks for (-o -).
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Export Direct X File\n", 0), 0u) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err), "Ready !");
  std::string text = qel_test::read_file(path("sample.x"));
  for (const char *block : {"xof 0302txt 0064\n", "\nMaterial Mat_", "\nMaterial Tex_",
                            "TextureFileName", "\nFrame WORLD {\n", "FrameTransformMatrix",
                            "\nMesh ", "MeshMaterialList", "MeshTextureCoords", "MeshNormals"}) {
    EXPECT_NE(text.find(block), std::string::npos) << block;
  }
  EXPECT_EQ(qel_test::read_file(plugin_.options_file()), kDefaults);
  EXPECT_EQ(entries(), std::vector<std::string>{"sample.x"});
}

// Polygons of 12 and 9 corners sharing four (a face of more than 8 corners
// is laid out on a path of its own), the shared corners merged, and the
// header's total patched with the 17 vertices written, not the 21 that the
// surfaces use.
TEST_F(ExportRun, NGonsWithMergedCornersAndThePatchedTotalMatchTheGoldenFile) {
  const std::string options =
      qel_test::options_with("", {{1, '1'}, {7, '1'}, {14, '1'}, {17, '1'}, {23, '1'}});
  auto r = run({std::string(QEL_TEST_DIR) + "/golden/export_ngons.json", "-o", "ngons",
                "--options", options});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string text = qel_test::read_file(path("ngons.x"));
  EXPECT_EQ(text, qel_test::golden("export_ngons.x"));
  const auto number_after = [&](const std::string &mark) {
    const size_t at = text.find(mark);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + mark.size());
  };
  EXPECT_EQ(number_after("// Total number of vertices : "), number_after("\nMesh ngons {\n"));
}

TEST_F(ExportRun, OptionsFileOfTheLastRunIsLoadedByTheNext) {
  std::string scene = write("m.json", kTwoMeshes);
  std::string options = kDefaults;
  options[13] = '1';
  ASSERT_EQ(run({scene, "--options", options, "--remembered"}).exit_status, 0);
  // Without --options the dialog gets what the options file holds.
  ASSERT_EQ(run({scene, "-o", "again", "--remembered"}).exit_status, 0);
  EXPECT_EQ(qel_test::read_file(path("again.x")), qel_test::read_file(path("m.x")));
  EXPECT_NE(qel_test::read_file(path("again.x")).find("VertexDuplicationIndices"),
            std::string::npos);
}

TEST_F(ExportRun, FullDiskFailsTheRunAndKeepsTheEarlierFile) {
  std::string scene = write("m.json", kTwoMeshes);
  write("m.x", "earlier export\n");
  // The limit is below the first flush: the failure shows when the last
  // buffered bytes are written out.
  for (long limit : {0L, 100L, 700L}) {
    auto r = run({scene, "--options", kDefaults, "--verbose"}, limit);
    EXPECT_EQ(r.exit_status, 1) << "limit " << limit << ": " << r.err;
    EXPECT_NE(r.err.find("Can not write file 'm.x' !"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("*** Export failed ! ***"), std::string::npos);
    EXPECT_EQ(qel_test::read_file(path("m.x")), "earlier export\n");
    EXPECT_EQ(entries().size(), 2u) << "a temporary file was left behind";
    EXPECT_FALSE(fs::exists(plugin_.options_file()));
  }
}

TEST_F(ExportRun, FailedAllocationEndsTheRunWithOutOfMemory) {
  std::string scene = write("m.json", kTwoMeshes);
  write("m.x", "earlier export\n");
  for (const char *after : {"0", "1", "2", "3"}) {
    auto r = run({scene, "--options", kDefaults, "--fail-alloc-after", after});
    EXPECT_EQ(r.exit_status, 1) << after << ": " << r.err;
    EXPECT_NE(r.err.find("Out of memory !"), std::string::npos) << r.err;
    EXPECT_EQ(qel_test::read_file(path("m.x")), "earlier export\n");
    EXPECT_EQ(entries().size(), 2u);
  }
}

TEST_F(ExportRun, OldHostPrintsTheRefusal) {
  auto r = run({"--host-version", "4.9"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("*** Falsches 'qel_export'-Plugin fuer diese MOLV-Version ! ***"),
            std::string::npos);
  EXPECT_TRUE(entries().empty());
}

TEST_F(ExportRun, CancelAtEveryPollLeavesNothingBehind) {
  std::string scene = write("m.json", kTwoMeshes);
  std::string options = kDefaults;
  options[13] = '1';  // duplication indices
  // How many polls a complete run makes: one update per poll, and one when
  // the dialog is shown again.
  ASSERT_EQ(run({scene, "--options", options, "-o", "full", "--remembered"}).exit_status, 0);
  write("m.x", "earlier export\n");
  std::string saved = qel_test::read_file(plugin_.options_file());
  int cancelled = 0;
  for (int poll = 2; poll < 40; ++poll) {
    auto r = run({scene, "--options", options, "--cancel-at-poll", std::to_string(poll),
                  "--remembered", "--verbose"});
    if (r.exit_status == 0) break;  // past the last poll
    ++cancelled;
    EXPECT_EQ(r.exit_status, 1) << "poll " << poll << ": " << r.err;
    EXPECT_EQ(qel_test::final_status(r.err), "*** Abort by User ! ***") << "poll " << poll;
    EXPECT_EQ(qel_test::read_file(path("m.x")), "earlier export\n") << "poll " << poll;
    EXPECT_EQ(qel_test::read_file(plugin_.options_file()), saved);
  }
  EXPECT_GE(cancelled, 6) << "too few cancel points reached";
}

}  // namespace
