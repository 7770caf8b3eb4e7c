/*
 * The frame hierarchy: whole files against hand-written golden files, and
 * the structure, names, index codes, trace, comments and offsets checked
 * one behaviour at a time on small scenes.
 */
#include "xwriter/frames.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel_test::export_text;
using qel_test::last_debug;
using qel_test::options_with;

std::string opts(const std::vector<int> &set) {
  std::string options = qel_test::all_clear_options();
  for (int index : set) options[static_cast<std::size_t>(index)] = '1';
  return options;
}

int count_of(const std::string &text, const std::string &what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every index code of the trace, in trace order.
std::vector<std::string> index_codes(const std::string &trace) {
  std::vector<std::string> codes;
  static const std::regex code("Index : ([0-9]+_[0-9]+_[0-9]+_[0-9]+)");
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), code);
       it != std::sregex_iterator(); ++it) {
    codes.push_back((*it)[1]);
  }
  return codes;
}

// A triangle object for scenes written inline.
std::string triangle(const std::string &name, const std::string &centre,
                     const std::string &extra = "") {
  return R"({"name": ")" + name + R"(", "centre": )" + centre +
         R"(, "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}])" + extra +
         "}";
}

// ---- whole files -----------------------------------------------------------

struct GoldenCase {
  const char *name;
  std::vector<int> options;
};

void PrintTo(const GoldenCase &c, std::ostream *os) { *os << c.name; }

class FramesGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(FramesGolden, FileMatchesByteForByte) {
  const GoldenCase &c = GetParam();
  std::string scene = qel_test::golden(std::string(c.name) + ".json");
  ASSERT_FALSE(scene.empty()) << c.name;
  qel_test::load_scene(scene);
  std::string expected = qel_test::golden(std::string(c.name) + ".x");
  ASSERT_FALSE(expected.empty()) << c.name;
  EXPECT_EQ(export_text(opts(c.options)), expected);
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
}

INSTANTIATE_TEST_SUITE_P(Frames, FramesGolden,
                         ::testing::Values(
                             // One box in the world, names and fixed numbers.
                             GoldenCase{"frames_sample", {14, 17}},
                             // Names and index codes joined; a polygon object with children; a
                             // light that takes no own number.
                             GoldenCase{"frames_names", {14, 15, 17}},
                             // Index codes alone, short numbers: -0 for a z equal to the offset z.
                             GoldenCase{"frames_index", {2, 15}},
                             // Neither names nor codes: unnamed frames and meshes.
                             GoldenCase{"frames_unnamed", {17}},
                             // No frames at all: meshes in the host's coordinates.
                             GoldenCase{"frames_no_frames", {10, 14, 17}},
                             // Leaves without frames, a polygon object with children keeps its.
                             GoldenCase{"frames_leaf", {14, 17, 20}},
                             // Data and line comments; a lines-only object with a child.
                             GoldenCase{"frames_comments", {2, 14, 17, 21}},
                             // A light with data and a child.
                             GoldenCase{"frames_light", {2, 14, 17}},
                             // No Mesh without a face of three vertices (subdivided forms used).
                             GoldenCase{"frames_degenerate", {14, 17, 28}}),
                         [](const ::testing::TestParamInfo<GoldenCase> &info) {
                           return std::string(info.param.name);
                         });

// ---- index codes and the trace -----------------------------------------------

const char kTree[] = R"({"world": {"children": [
  {"type": "group", "name": "A", "children": [
    {"name": "A1", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}]},
    {"name": "A2", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}]}]},
  {"type": "light", "name": "L"},
  {"name": "B", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}]}]}})";

TEST(FramesTrace, TreeGivesTheIndexCodesInWalkOrder) {
  qel_test::load_scene(kTree);
  export_text(opts({}));
  EXPECT_EQ(index_codes(last_debug()), (std::vector<std::string>{"0_0_0_0", "1_0_0_1", "2_0_0_2",
                                                                 "2_0_1_3", "1_0_1_3", "1_0_1_4"}));
  // A complete walk leaves the level where it started; the counter ends at
  // the number of objects other than lights, minus one.
  EXPECT_EQ(qel_test::last_walk_end().hierarchy_level, -1);
  EXPECT_EQ(qel_test::last_walk_end().object_counter, 4);
}

TEST(FramesTrace, HeaderLinesPerType) {
  qel_test::load_scene(kTree);
  export_text(opts({}));
  const std::string &trace = last_debug();
  EXPECT_NE(trace.find("\n\n*****  >>> WORLD <<<  -  Index : 0_0_0_0  -  ( 0 Vertices, 0 Surfaces, "
                       "3 Kids )  *****\n"),
            std::string::npos);
  EXPECT_NE(trace.find("\n\n   ****  >> Group << -  'A'  -  Index : 1_0_0_1  -  ( 0 Vertices, 0 "
                       "Surfaces, 2 Kids )  ****\n"),
            std::string::npos);
  EXPECT_NE(trace.find("\n\n      **  Normal - 'A2'  -  Index : 2_0_1_3  -  ( 3 Vertices, 1 "
                       "Surfaces, 0 Kids )  **\n"),
            std::string::npos);
  EXPECT_NE(trace.find("\n\n   ****  >> Light << -  'L'  -  ( Index : 1_0_1_3 )  -  ( 0 Vertices, "
                       "0 Surfaces, 0 Kids )  ****\n"),
            std::string::npos);
}

TEST(FramesTrace, PolygonObjectWithChildrenAndItsCentre) {
  qel_test::load_scene(R"({"world": {"centre": [0.5, -2, 1e-3], "children": [)" +
                       triangle("P", "[1, 2, 3]", R"(, "children": [{"type": "group"}])") + "]}}");
  export_text(opts({}));
  const std::string &trace = last_debug();
  EXPECT_NE(
      trace.find("\n\n   ****  >> Group << - ** Objekt 'Normal' ** - 'P'  -  Index : 1_0_0_1  -  "
                 "( 3 Vertices, 1 Surfaces, 1 Kids )  ****\n"),
      std::string::npos);
  // The centre as the host holds it: no offset, no z sign.
  EXPECT_NE(trace.find("\n   local object centre : 0.500000 -2.000000 0.001000\n"),
            std::string::npos);
  EXPECT_NE(trace.find("\n      local object centre : 1.000000 2.000000 3.000000\n"),
            std::string::npos);
}

TEST(FramesTrace, NamesAreTextNeverFormat) {
  qel_test::load_scene(R"({"world": {"children": [{"type": "group", "name": "%s%n%d"}]}})");
  export_text(opts({}));
  EXPECT_NE(last_debug().find("'%s%n%d'  -  Index : 1_0_0_1"), std::string::npos);
}

TEST(FramesTrace, UnknownTypeHasNoHeaderButIsAGroup) {
  qel_test::load_scene(R"({"world": {"children": [
    {"type": 7, "name": "odd", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}],
     "children": [{"type": "group", "name": "inside"}]}]}})");
  std::string text = export_text(opts({14}));
  EXPECT_EQ(index_codes(last_debug()), (std::vector<std::string>{"0_0_0_0", "2_0_0_2"}));
  // Pass 1 names every object; the tree's part of the trace does not.
  std::size_t tree = last_debug().find("\nObject ...\n");
  ASSERT_NE(tree, std::string::npos);
  EXPECT_EQ(last_debug().find("'odd'", tree), std::string::npos);
  // A Frame like a group's, no Mesh even with a face.
  EXPECT_NE(text.find("\nFrame odd {\n"), std::string::npos);
  EXPECT_NE(text.find("\nFrame inside {\n"), std::string::npos);
  EXPECT_EQ(text.find("Mesh"), std::string::npos);
}

// ---- labels ------------------------------------------------------------------

TEST(FramesLabels, OptionsFourteenAndFifteen) {
  qel_test::load_scene(R"({"world": {"children": [)" + triangle("my box", "[0,0,0]") + "]}}");

  std::string both = export_text(opts({14, 15}));
  EXPECT_NE(both.find("\nFrame WORLD__FRM_0_0_0_0 {\n"), std::string::npos);
  EXPECT_NE(both.find("\nFrame my_box__FRM_1_0_0_1 {\n"), std::string::npos);
  EXPECT_NE(both.find("\nMesh my_box__MSH_1_0_0_1 {\n"), std::string::npos);

  std::string names = export_text(opts({14}));
  EXPECT_NE(names.find("\nFrame WORLD {\n"), std::string::npos);
  EXPECT_NE(names.find("\nFrame my_box {\n"), std::string::npos);
  EXPECT_NE(names.find("\nMesh my_box {\n"), std::string::npos);

  std::string codes = export_text(opts({15}));
  EXPECT_NE(codes.find("\nFrame FRM_0_0_0_0 {\n"), std::string::npos);
  EXPECT_NE(codes.find("\nFrame FRM_1_0_0_1 {\n"), std::string::npos);
  EXPECT_NE(codes.find("\nMesh MSH_1_0_0_1 {\n"), std::string::npos);

  std::string neither = export_text(opts({}));
  EXPECT_EQ(count_of(neither, "\nFrame  {\n"), 2);
  EXPECT_EQ(count_of(neither, "\nMesh  {\n"), 1);
}

TEST(FramesLabels, NamesThatWouldBreakTheFileAreMended) {
  qel_test::load_scene(R"({"world": {"name": "{w}", "children": [)" +
                       triangle("box{1};", "[0,0,0]") + "]}}");
  std::string text = export_text(opts({14}));
  EXPECT_NE(text.find("\nFrame WORLD {\n"), std::string::npos);  // the world is always WORLD
  EXPECT_NE(text.find("\nFrame box_1__ {\n"), std::string::npos);
  EXPECT_NE(text.find("\nMesh box_1__ {\n"), std::string::npos);
}

// ---- frame decision ------------------------------------------------------------

TEST(FramesDecision, NoFramesUnderNoFramesOption) {
  qel_test::load_scene(kTree);
  std::string text = export_text(opts({10}));
  EXPECT_EQ(text.find("Frame"), std::string::npos);
  EXPECT_EQ(count_of(text, "\nMesh  {\n"), 3);
  // No frame, so no closing brace but the meshes' own.
  EXPECT_EQ(count_of(text, "{"), 3);
  EXPECT_EQ(count_of(text, "}"), 3);
}

TEST(FramesDecision, LeavesLoseTheirFramesUnderNoLeafFramesOption) {
  qel_test::load_scene(kTree);
  std::string text = export_text(opts({14, 20}));
  EXPECT_EQ(count_of(text, "\nFrame "), 2);
  EXPECT_NE(text.find("\nFrame WORLD {\n"), std::string::npos);
  EXPECT_NE(text.find("\nFrame A {\n"), std::string::npos);
  EXPECT_EQ(count_of(text, "\nMesh "), 3);
  // A1 and A2 inside A's Frame, B inside the world's.
  std::size_t a = text.find("\nFrame A {\n");
  std::size_t a1 = text.find("\nMesh A1 {\n");
  std::size_t b = text.find("\nMesh B {\n");
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, a1);
  EXPECT_EQ(text.substr(b - 6, 6), "\n}\n\n}\n") << "A2's Mesh and A's Frame close before B";
  EXPECT_EQ(text.substr(text.size() - 6), "\n}\n\n}\n") << "B's Mesh, then the world";
}

TEST(FramesDecision, LinesOnlyObjectAndLightGetNoFrame) {
  qel_test::load_scene(R"({"world": {"children": [
    {"name": "wire", "vertices": [[0,0,0],[1,0,0]], "surfaces": [{"type": "line", "verts": [0,1]}]},
    {"type": "light", "name": "lamp", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
     "surfaces": [{"verts": [0,1,2]}]},
    {"name": "both", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
     "surfaces": [{"type": "closed_line", "verts": [0,1,2]}, {"verts": [0,1,2]}]}]}})");
  std::string text = export_text(opts({14}));
  EXPECT_EQ(text.find("wire"), std::string::npos);
  EXPECT_EQ(text.find("lamp"), std::string::npos);
  EXPECT_NE(text.find("\nFrame both {\n"), std::string::npos);
  EXPECT_NE(text.find("\nMesh both {\n"), std::string::npos);
  EXPECT_EQ(count_of(text, "\nFrame "), 2);
  EXPECT_EQ(count_of(text, "\nMesh "), 1);
}

TEST(FramesDecision, NoMeshWithoutVerticesOrFaces) {
  qel_test::load_scene(R"({"world": {"children": [
    {"name": "empty", "vertices": []},
    {"name": "bare", "vertices": [[0,0,0],[1,0,0],[0,1,0]]},
    {"name": "nofaces", "vertices": [], "surfaces": [{"verts": []}]},
    {"name": "slivers", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
     "surfaces": [{"verts": [0,1]}, {"verts": [2]}]}]}})");
  std::string text = export_text(opts({14}));
  EXPECT_EQ(text.find("Mesh"), std::string::npos);
  // Every one of them still a polygon object with a Frame.
  EXPECT_EQ(count_of(text, "\nFrame "), 5);
  EXPECT_NE(last_debug().find("**  Normal - 'slivers'"), std::string::npos);
}

// ---- offsets ------------------------------------------------------------------

// The last row of the matrix that follows the Frame named `name`.
std::string translation(const std::string &text, const std::string &name) {
  std::size_t at = text.find("\nFrame " + name + " {\n");
  if (at == std::string::npos) return "(no frame)";
  std::size_t row = text.find("0.0, 0.0, 1.0, 0.0,\n  ", at);
  if (row == std::string::npos) return "(no matrix)";
  row += 22;
  return text.substr(row, text.find(";;", row) - row);
}

TEST(FramesOffsets, ChildMatrixIsRelativeToTheEnclosingFrame) {
  qel_test::load_scene(R"({"world": {"centre": [10, 10, 10], "children": [
    {"type": "group", "name": "G", "centre": [1, 2, 3], "children": [
      {"type": "group", "name": "H", "centre": [1.5, 2, 5]}]}]}})");
  std::string text = export_text(opts({14, 17}));
  // The world's own centre is relative to the origin it receives.
  EXPECT_EQ(translation(text, "WORLD"), "10.0, 10.0, -10.0, 1.0");
  EXPECT_EQ(translation(text, "G"), "-9.0, -8.0, 7.0, 1.0");
  EXPECT_EQ(translation(text, "H"), "0.5, 0.0, -2.0, 1.0");
  // With opt_z_axis the z keeps its sign.
  text = export_text(opts({3, 14, 17}));
  EXPECT_EQ(translation(text, "H"), "0.5, 0.0, 2.0, 1.0");
}

TEST(FramesOffsets, ZEqualToTheOffsetIsZeroOrMinusZero) {
  qel_test::load_scene(R"({"world": {"centre": [0, 0, 4], "children": [
    {"type": "group", "name": "G", "centre": [1, 1, 4]}]}})");
  EXPECT_EQ(translation(export_text(opts({14, 17})), "G"), "1.0, 1.0, 0.0, 1.0");
  std::string text = export_text(opts({14}));
  std::size_t g = text.find("\nFrame G {\n");
  ASSERT_NE(g, std::string::npos);
  EXPECT_NE(text.find("  1, 1, -0, 1;;\n", g), std::string::npos);
  // With opt_z_axis nothing is negated: a plain 0.
  text = export_text(opts({3, 14}));
  EXPECT_NE(text.find("  1, 1, 0, 1;;\n", text.find("\nFrame G {\n")), std::string::npos);
}

TEST(FramesOffsets, ChildrenOfAnObjectWithoutFramePassItsOffsetOn) {
  qel_test::load_scene(R"({"world": {"children": [
    {"type": "group", "name": "G", "centre": [1, 1, 1], "children": [
      {"type": "light", "name": "lamp", "centre": [50, 50, 50], "children": [
        {"type": "group", "name": "underlamp", "centre": [2, 2, 2]}]},
      {"name": "wire", "centre": [70, 70, 70], "vertices": [[0,0,0],[1,0,0]],
       "surfaces": [{"type": "line", "verts": [0,1]}], "children": [
        {"type": "group", "name": "underwire", "centre": [3, 1, 1]}]}]}]}})");
  std::string text = export_text(opts({14, 17}));
  EXPECT_EQ(translation(text, "underlamp"), "1.0, 1.0, -1.0, 1.0");
  EXPECT_EQ(translation(text, "underwire"), "2.0, 0.0, 0.0, 1.0");
}

TEST(FramesOffsets, LeafMeshOffsetIsTakenInSinglePrecision) {
  // centre - (centre - offset): far from the parent's origin the float
  // steps lose the parent's 3, and the vertices follow the rule, not the
  // exact difference.
  qel_test::load_scene(R"({"world": {"children": [
    {"type": "group", "name": "G", "centre": [3, 0, 0], "children": [
      {"name": "far", "centre": [1e8, 0, 0], "vertices": [[0,0,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2]}]},
      {"name": "near", "centre": [5, 0, 0], "vertices": [[0,0,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2]}]}]}]}})");
  std::string text = export_text(opts({14, 17, 20}));
  EXPECT_NE(text.find("\nMesh far {\n3;\n0.0;1.0;0.0;,\n1.0;0.0;0.0;,\n0.0;0.0;0.0;;\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nMesh near {\n3;\n-3.0;1.0;0.0;,\n-2.0;0.0;0.0;,\n-3.0;0.0;0.0;;\n"),
            std::string::npos)
      << text;
}

// ---- data and line comments ------------------------------------------------------

TEST(FramesComments, DataTextIsCleanedOntoOneLine) {
  struct Case {
    const char *json_text;
    const char *comment;
  };
  const Case cases[] = {
      {R"(first\nsecond\n)", "first # second"},
      {R"()", ""},
      {R"(ends in ## # )", "ends in"},
      {R"(\r\n\t  lead)", "  lead"},  // leading control characters only, not spaces
      {R"(a\tb\rc\u0001d\u007fe)",
       "abcd\x7f"
       "e"},
      {R"(\u00e9t\u00e9)", "t"},  // bytes from 128 on are dropped, leading or not
      {R"(50% #1 %s)", "50% #1 %s"},
      {R"(one\n\ntwo)", "one #  # two"},
  };
  for (const Case &c : cases) {
    qel_test::load_scene(
        std::string(R"({"world": {"children": [{"type": "group", "name": "g", "data": ")") +
        c.json_text + R"("}]}})");
    std::string text = export_text(opts({2, 14}));
    EXPECT_NE(text.find(std::string("\n\n// DATA *g  ## ") + c.comment + " ##\n\nFrame g {\n"),
              std::string::npos)
        << c.json_text << "\n"
        << text;
  }
}

TEST(FramesComments, NoDataNoComment) {
  qel_test::load_scene(R"({"world": {"children": [{"type": "group", "name": "g"}]}})");
  EXPECT_EQ(export_text(opts({2, 14})).find("DATA"), std::string::npos);
  qel_test::load_scene(R"({"world": {"children": [{"type": "group", "name": "g", "data": "x"}]}})");
  EXPECT_EQ(export_text(opts({14})).find("DATA"), std::string::npos);
}

TEST(FramesComments, DataBufferGoesBackToTheHost) {
  qel_test::load_scene(
      R"({"world": {"data": "some text\n", "children": [{"type": "group", "data": "more"}]}})");
  long before = molv::live_allocations();
  std::string text = export_text(opts({2}));
  EXPECT_EQ(count_of(text, "// DATA *"), 2);
  EXPECT_EQ(molv::live_allocations(), before);
}

TEST(FramesComments, CommentIsSkippedWhenItsBufferCannotBeHad) {
  qel_test::load_scene(
      R"({"world": {"data": "notes", "children": [{"type": "group", "name": "g"}]}})");
  // The tree alone, so that the comment's buffer is the only allocation.
  qel_test::StringRun r(opts({2, 14}));
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  molv::set_fail_alloc_after(0);
  qel::write_object(r.run, mo_get_world(), origin, 0, 0);
  molv::set_fail_alloc_after(-1);
  const std::string &text = r.text();
  EXPECT_EQ(text.find("DATA"), std::string::npos);
  EXPECT_NE(text.find("\nFrame g {\n"), std::string::npos);
  EXPECT_EQ(r.run.status(), qel::RunStatus::running);
  EXPECT_EQ(r.run.hierarchy_level, -1);
}

TEST(FramesComments, LineCommentPerLineSurface) {
  qel_test::load_scene(R"({"world": {"children": [
    {"name": "wire", "vertices": [[0,0,0],[1,0,2],[0.5,-1,0]],
     "surfaces": [{"type": "line", "verts": [0,1]}, {"type": "closed_line", "verts": [2,1,0]},
                  {"type": 5, "verts": [0,1]}]}]}})");
  std::string text = export_text(opts({14, 17, 21}));
  EXPECT_NE(text.find("\n\n// LINE *wire  # 2  :  0.0 0.0 0.0  :  1.0 0.0 -2.0\n"
                      "// LINE *wire  # 3  :  0.5 -1.0 0.0  :  1.0 0.0 -2.0  :  0.0 0.0 0.0\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(count_of(text, "// LINE"), 2);  // type 5 is neither polygon nor line
  // The code alone behind the star under opt_index_names, short numbers, z kept.
  text = export_text(opts({3, 15, 21}));
  EXPECT_NE(text.find("\n\n// LINE *1_0_0_1  # 2  :  0 0 0  :  1 0 2\n"), std::string::npos)
      << text;
  EXPECT_EQ(export_text(opts({14})).find("LINE"), std::string::npos);
}

// ---- depth and stopping ------------------------------------------------------------

std::string chain(int depth) {
  std::string json = R"({"world": {"children": [)";
  for (int i = 0; i < depth; ++i) json += R"({"type": "group", "name": "g", "children": [)";
  for (int i = 0; i < depth; ++i) json += "]}";
  return json + "]}}";
}

TEST(FramesDepth, ThousandNestedGroups) {
  const int depth = 1000;
  qel_test::load_scene(chain(depth));
  std::string text = export_text(opts({15, 17}));
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
  EXPECT_EQ(count_of(text, "\nFrame FRM_"), depth + 1);
  EXPECT_NE(text.find("\nFrame FRM_1000_0_0_1000 {\n"), std::string::npos);
  std::string closing;
  for (int i = 0; i <= depth; ++i) closing += "\n}\n";
  EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
  EXPECT_EQ(qel_test::last_walk_end().hierarchy_level, -1);
  // The trace indentation stops growing at 255 spaces.
  EXPECT_NE(last_debug().find("\n\n" + std::string(255, ' ') +
                              "****  >> Group << -  'g'  -  Index : 1000_0_0_1000"),
            std::string::npos);
}

TEST(FramesStop, CancelInAMeshEndsTheFileThere) {
  qel_test::load_scene(R"({"world": {"children": [{"type": "group", "children": [)" +
                       triangle("a", "[0,0,0]") + "," + triangle("b", "[0,0,0]") + "]}," +
                       triangle("c", "[0,0,0]") + "]}}");
  const std::string abort_note = "\n\n##### Abort by User !!! #####\n\n";
  // The first poll of the export is the one of the first mesh.
  molv::set_cancel_at_poll(1);
  std::string text = export_text(opts({14}));
  molv::set_cancel_at_poll(0);
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::cancelled);
  ASSERT_GE(text.size(), abort_note.size());
  EXPECT_EQ(text.substr(text.size() - abort_note.size()), abort_note);
  EXPECT_EQ(text.find("Mesh b"), std::string::npos);
  EXPECT_EQ(text.find("Frame c"), std::string::npos);
  EXPECT_EQ(count_of(text, "\n}\n"), 3) << "the three matrices, no closing brace";
  // The levels are left as they were; the next export starts afresh.
  EXPECT_EQ(qel_test::last_walk_end().hierarchy_level, 2);

  // A cancel in the second mesh: the first one is complete, nothing after.
  molv::set_cancel_at_poll(2);
  text = export_text(opts({14}));
  molv::set_cancel_at_poll(0);
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::cancelled);
  EXPECT_NE(text.find("\nMesh a {\n"), std::string::npos);
  std::size_t b = text.find("\nMesh b {\n");
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(text.substr(b), "\nMesh b {\n" + abort_note);
}

// Deeper than a scene file may nest (the loader refuses more than 5000
// levels), so the model is built in the host directly.
void install_chain(int depth) {
  std::unique_ptr<molv::Model> m = molv::make_empty_model();
  std::vector<mo_object *> chain;
  for (int i = 0; i < depth; ++i) {
    m->objects.push_back(std::make_unique<mo_object>());
    mo_object *group = m->objects.back().get();
    group->type = MO_OBJ_GROUP;
    group->name = "g";
    chain.push_back(group);
  }
  for (int i = depth - 1; i >= 0; --i) {
    std::vector<mo_object *> children;
    if (i + 1 < depth) children.push_back(chain[static_cast<std::size_t>(i + 1)]);
    molv::build_object(chain[static_cast<std::size_t>(i)], {}, {}, children);
  }
  molv::build_object(m->world(), {}, {}, {chain.front()});
  molv::install_model(std::move(m));
}

TEST(FramesDepth, TenThousandNestedGroups) {
  const int depth = 10000;
  qel_test::start_host();
  install_chain(depth);
  std::string text = export_text(opts({15}));
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
  EXPECT_EQ(count_of(text, "\nFrame FRM_"), depth + 1);
  EXPECT_NE(text.find("\nFrame FRM_10000_0_0_10000 {\n"), std::string::npos);
  std::string closing;
  for (int i = 0; i <= depth; ++i) closing += "\n}\n";
  EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
  EXPECT_EQ(qel_test::last_walk_end().hierarchy_level, -1);
  EXPECT_EQ(qel_test::last_walk_end().object_counter, depth);
}

}  // namespace
