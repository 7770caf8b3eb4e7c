/*
 * The check of an export (common/verify.h, common/x_read.h): the plug-in
 * writes the model in-process, the check reads the text back and compares
 * it with the model; a file changed by hand must show what was changed.
 */
#include "common/verify.h"

#include <gtest/gtest.h>

#include <string>

#include "common/plugin_options.h"
#include "import/scene_file.h"
#include "support/export_harness.h"

namespace {

using qel_test::options_with;

// The kinds of the real differences, in order.
std::string real_kinds(const molv::Verification &v) {
  std::string kinds;
  for (const molv::VerifyDifference &d : v.differences)
    if (!d.expected) kinds += (kinds.empty() ? "" : " ") + d.kind;
  return kinds;
}

bool has(const molv::Verification &v, const std::string &kind, const std::string &text = "") {
  for (const molv::VerifyDifference &d : v.differences)
    if (d.kind == kind && d.text.find(text) != std::string::npos) return true;
  return false;
}

molv::Verification check(const std::string &x, const std::string &options) {
  molv::XScene scene;
  std::string error;
  if (!molv::read_x_text(x.data(), x.size(), &scene, &error)) {
    molv::Verification failed;
    failed.error = error;
    return failed;
  }
  molv::to_modeller_space(&scene, options);
  return molv::compare_with_model(scene, options);
}

void replace(std::string *text, const std::string &from, const std::string &to) {
  const size_t at = text->find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text->replace(at, from.size(), to);
}

TEST(XRead, ResolvesReferencesByNameAndPlacesFacesInTheWorld) {
  const std::string x = R"(xof 0302txt 0064
template Unused { <01234567-0000-0000-0000-000000000000> DWORD n; }
Material A { 1.0; 0.0; 0.0; 1.0;; 0.0; 0.0; 0.0; 0.0;; 0.0; 0.0; 0.0;; TextureFileName { "a.png"; } }
Material B { 0.0; 1.0; 0.0; 1.0;; 0.0; 0.0; 0.0; 0.0;; 0.0; 0.0; 0.0;; }
Frame F { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 5,0,0,1;; }
  Frame G { FrameTransformMatrix { 0,1,0,0, -1,0,0,0, 0,0,1,0, 0,2,0,1;; }
    Mesh M { 3; 1;0;0;, 0;1;0;, 0;0;0;; 2; 3;0,1,2;, 3;2,1,0;;
      MeshMaterialList { 2; 2; 0, 1;; {B} { A } }
      MeshNormals { 1; 1;0;0;; 2; 3;0,0,0;, 3;0,0,0;; }  // one normal for all
      MeshTextureCoords { 3; 0;0;, 1;0;, 0;1;; }
    } } }
)";
  molv::XScene s;
  std::string error;
  ASSERT_TRUE(molv::read_x_text(x.data(), x.size(), &s, &error)) << error;
  ASSERT_EQ(s.faces.size(), 2u);
  // Face 0 names the mesh's material 1, which is {B}: not the file's first.
  EXPECT_EQ(s.materials[static_cast<size_t>(s.faces[0].material)].name, "B");
  EXPECT_EQ(s.materials[static_cast<size_t>(s.faces[1].material)].texture, "a.png");
  // (1,0,0) turned a quarter about z, then moved by (0,2,0) and (5,0,0).
  EXPECT_FLOAT_EQ(s.position[0][0], 5.0f);
  EXPECT_FLOAT_EQ(s.position[0][1], 3.0f);
  EXPECT_NEAR(s.normal[0][1], 1.0f, 1e-6);
  EXPECT_EQ(s.meshes[0].frame, "G");

  for (const auto &[broken, why] : std::initializer_list<std::pair<std::string, std::string>>{
           {"xof 0302bin 0064", "bin form"},
           {"xof 0302txt 0064\nMesh { 1; 0;0;0;; 1; 3;0,1,2;; }",
            "line 2: a face names vertex 1 of 1"},
           {"xof 0302txt 0064\nMesh { 3; 0;0;0;,0;0;0;,0;0;0;; 1; 3;0,1,2;;\n"
            "MeshMaterialList { 1; 1; 0;; {Nowhere} } }",
            "no material named Nowhere"},
           {"xof 0302txt 0064\nMesh { 4000000000; }", "a count past the file's end"},
           {"xof 0302txt 0064\nFrame F {", "a frame is not closed"}}) {
    molv::XScene ignored;
    EXPECT_FALSE(molv::read_x_text(broken.data(), broken.size(), &ignored, &error)) << broken;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
}

// The sample under option sets that change the file in every way the
// check undoes: only the concave Floor is real, and Triangulate mends it.
TEST(Verify, TheSampleAgreesUnderEveryOptionButItsConcaveFloor) {
  qel_test::start_host();
  qel_test::load_scene(molv::sample_scene_json());
  const std::string defaults = molv::default_option_string();
  const molv::Verification plain = check(qel_test::export_text(defaults), defaults);
  EXPECT_EQ(real_kinds(plain), "concave");
  EXPECT_TRUE(has(plain, "concave", "concave polygon in Floor: turn on Triangulate"));
  EXPECT_TRUE(has(plain, "two-sided") && has(plain, "lines") && has(plain, "merged"));
  for (const auto &changes : std::initializer_list<std::initializer_list<std::pair<int, char>>>{
           {{9, '1'}},
           {{9, '1'}, {3, '1'}, {11, '1'}, {8, '1'}},
           {{9, '1'}, {10, '1'}, {17, '0'}, {23, '0'}, {12, '0'}},
           {{9, '1'}, {20, '1'}, {19, '0'}, {4, '0'}, {49, '3'}},
           {{9, '1'}, {6, '0'}, {7, '0'}, {22, '0'}}}) {
    const std::string options = options_with(defaults, changes);
    const molv::Verification v = check(qel_test::export_text(options), options);
    EXPECT_TRUE(v.agrees()) << options << ": " << v.verdict();
    EXPECT_TRUE(has(v, "triangulated")) << options;
  }
}

// Two objects with textures of their own (a body and its legs): each face
// is checked against its own texture, and a file whose reference names
// the other texture, whose face turned, or whose corner moved says so.
TEST(Verify, RealDifferencesNameTheirObjects) {
  qel_test::start_host();
  const std::string quad = R"("vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
      "surfaces": [{"material": M, "verts": [[0,0,0],[1,1,0],[2,1,1],[3,0,1]]}])";
  std::string body = R"({"name": "Body", "texture": {"id": 0}, )" + quad + "}";
  std::string legs = R"({"name": "Legs", "texture": {"id": 1}, )" + quad + "}";
  replace(&body, "M", "0");
  replace(&legs, "M", "1");
  replace(&legs, "[1,1,0],[0,1,0]", "[1,3,0],[0,3,0]");
  qel_test::load_scene(R"({"palette": [{"name": "a"}, {"name": "b", "diffuse": [0.5, 0.5, 0.5]}],
      "textures": ["body.png", "legs.png"], "world": {"children": [)" +
                       body + "," + legs + "]}}");
  const std::string options = molv::default_option_string();
  const std::string x = qel_test::export_text(options);
  const molv::Verification v = check(x, options);
  EXPECT_TRUE(v.agrees()) << v.verdict();
  EXPECT_EQ(v.model_faces, 2);

  std::string swapped = x;
  replace(&swapped, "{Tex_1_1}", "{Tex_0_0}");
  EXPECT_TRUE(has(check(swapped, options), "materials", "1 face of Legs showing another"));
  std::string turned = x;
  replace(&turned, "4;0,1,2,3;;", "4;3,2,1,0;;");
  EXPECT_TRUE(has(check(turned, options), "winding", "of Body facing the other way"));
  std::string moved = x;
  replace(&moved, "\n0.5;1.5;0.0;", "\n0.5;2.0;0.0;");
  const molv::Verification m = check(moved, options);
  EXPECT_EQ(real_kinds(m), "missing extra") << m.verdict();
  EXPECT_TRUE(has(m, "missing", "1 face of Legs not in the file"));

  // A polygon whose outline crosses itself, or runs round twice, has no
  // cut into triangles that all face its way: the model's own, named but
  // no failure.
  qel_test::load_scene(R"({"world": {"children": [{"name": "Tie",
      "vertices": [[0,0,0],[2,2,0],[2,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2,3]}]},
      {"name": "Round", "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2,3,0,1,2,3,0,1,2,3]}]}]}})");
  const std::string cut = options_with(options, {{9, '1'}});
  const molv::Verification tie = check(qel_test::export_text(cut), cut);
  EXPECT_TRUE(tie.agrees()) << tie.verdict();
  EXPECT_TRUE(has(tie, "crossing", "3 triangles of Tie, Round facing against a polygon"))
      << tie.verdict();
  // A sliver the host cut facing its polygon's way, turned over by the two
  // decimals its corners are written with: the model's corners say which
  // way it faces.
  qel_test::load_scene(R"({"world": {"children": [{"name": "Sliver",
      "vertices": [[-1,-0.4951,0],[0,-0.4899,0],[1,-0.4845,0],[0,0.4951,0]],
      "surfaces": [{"verts": [0,1,2,3]}]}]}})");
  const std::string coarse = options_with(options, {{9, '1'}, {49, '2'}});
  const molv::Verification sliver = check(qel_test::export_text(coarse), coarse);
  EXPECT_TRUE(sliver.agrees()) << sliver.verdict();
}

}  // namespace
