/*
 * What a model from another format keeps on its way to the .x file: its own
 * normals (on smooth surfaces, under either shading option, through the
 * triangulation's copies; flat surfaces and corners without a normal as the
 * host computes them), positions that are not finite kept out of the file
 * without moving anything else, no skeleton made up by the reader, names
 * that differ within one node, and a warning on the textures the .x names
 * that a reader will not find beside it.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/model.h"
#include "api/records.h"
#include "binding/options.h"
#include "import/load.h"
#include "support/export_harness.h"
#include "support/molv_run_test.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/x_check.h"

namespace {

const std::string kDefaults = qel::kDefaultOptions;

// A quad whose corners lean outwards (the host would give every corner
// (0, 0, 1)); the last corner's normal is zero, which gives none.  Beside
// it a triangle without normals.
const char kLeaningQuad[] =
    "o leaning\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vn 0.6 0 0.8\nvn 0 0.6 0.8\nvn -0.6 0 0.8\nvn 0 0 0\n"
    "f 1//1 2//2 3//3 4//4\n"
    "o plain\n"
    "v 2 0 0\nv 3 0 0\nv 3 1 0\n"
    "f 5 6 7\n";

using Normals = std::map<std::vector<float>, std::vector<float>>;  // by corner position

// Each corner's normal in the .x as the reader holds it (in the model's
// coordinates), by the corner's position; a position with two normals
// fails the test.
Normals normals_by_position(const std::string &x_text) {
  const qel_test::XSummary x = qel_test::x_read(x_text);
  EXPECT_TRUE(x.loaded) << x.reader_error;
  EXPECT_EQ(x.normals.size(), x.positions.size());
  Normals normals;
  for (size_t i = 0; i < x.positions.size() && i < x.normals.size(); ++i) {
    const auto placed = normals.emplace(x.positions[i], x.normals[i]);
    EXPECT_TRUE(placed.second || placed.first->second == x.normals[i]) << "two normals at one corner";
  }
  return normals;
}

void expect_normals(const Normals &written, const Normals &expected, const std::string &what) {
  ASSERT_EQ(written.size(), expected.size()) << what;
  for (const auto &[position, normal] : expected) {
    const auto found = written.find(position);
    ASSERT_NE(found, written.end()) << what;
    for (size_t c = 0; c < 3; ++c) {
      EXPECT_NEAR(found->second[c], normal[c], 1e-6)
          << what << " at " << position[0] << " " << position[1];
    }
  }
}

class ImportFidelity : public qel_test::MolvRunTest {};

// The model's own normals on smooth surfaces, whatever option 12 says and
// through the triangles of option 9; the corner without a normal and the
// triangle without any get the host's.  Flat, every corner has its
// surface's normal under either option.
TEST_F(ImportFidelity, TheModelsNormalsReachTheFileOnSmoothSurfaces) {
  qel_test::start_host();
  molv::Load quad = molv::load_file(write("quad.obj", kLeaningQuad));
  ASSERT_TRUE(quad.loaded) << quad.error;
  molv::install(quad);
  const Normals up = {{{0, 0, 0}, {0, 0, 1}}, {{1, 0, 0}, {0, 0, 1}}, {{1, 1, 0}, {0, 0, 1}},
                      {{0, 1, 0}, {0, 0, 1}}, {{2, 0, 0}, {0, 0, 1}}, {{3, 0, 0}, {0, 0, 1}},
                      {{3, 1, 0}, {0, 0, 1}}};
  Normals own = up;
  own[{0, 0, 0}] = {0.6f, 0, 0.8f};
  own[{1, 0, 0}] = {0, 0.6f, 0.8f};
  own[{1, 1, 0}] = {-0.6f, 0, 0.8f};
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"defaults", kDefaults},
      {"surface shading off", qel_test::options_with(kDefaults, {{12, '0'}})},
      {"triangulated", qel_test::options_with(kDefaults, {{9, '1'}})},
      {"every vertex written", qel_test::options_with(kDefaults, {{23, '0'}, {12, '0'}})},
  };
  for (const auto &[what, options] : runs) {
    expect_normals(normals_by_position(qel_test::export_text(options)), own, what);
  }
  // The quad made flat.
  mo_object *leaning = qel_test::first_object();
  int vertices = 0, surfaces = 0, children = 0;
  mo_list v = nullptr, s = nullptr, c = nullptr;
  mo_object_get_contents(leaning, &vertices, &surfaces, &children, &v, &s, &c);
  ASSERT_EQ(surfaces, 1);
  molv::as_surface(static_cast<mo_surface *>(s->item))->shading = 0;
  for (const auto &[what, options] : runs) {
    expect_normals(normals_by_position(qel_test::export_text(options)), up, "flat, " + what);
  }
  molv::clear_model();
}

// A coordinate that is not finite after the transforms (on any axis): the faces that
// touch it are left out and counted in one warning, and nothing else
// moves; a model with nothing else is refused in one line and nothing is
// written.  Thousands of NaN positions load at once.
TEST_F(ImportFidelity, PositionsThatAreNotFiniteStayOutOfTheFile) {
  const std::string obj = write("far.obj",
                                "o good\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"
                                "o bad\nv 5 0 0\nv 6 0 0\nv 5 1e39 0\nv 6 1 0\n"
                                "f 4 5 6\nf 4 5 7\n");
  auto r = run({obj, "-o", "far", "--defaults"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("molv: " + obj +
                       ": warning: 1 face with a corner at an infinite or undefined (NaN) "
                       "position left out\n"),
            std::string::npos)
      << r.err;
  const qel_test::XSummary x = qel_test::x_read(read("far.x"));
  ASSERT_TRUE(x.loaded) << x.reader_error;
  const std::set<std::vector<float>> corners(x.positions.begin(), x.positions.end());
  const std::set<std::vector<float>> expected = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                                 {5, 0, 0}, {6, 0, 0}, {6, 1, 0}};
  EXPECT_EQ(corners, expected);
  EXPECT_EQ(x.faces, 2);

  // A glTF of an infinite and a NaN corner, and an OBJ of NaN only.
  std::string bin;
  const float inf = INFINITY, nan = NAN;
  for (float value : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, inf, 1.f, 0.f,  //
                      0.f, 0.f, 0.f, 1.f, nan, 0.f, 0.f, 1.f, 0.f}) {
    bin.append(reinterpret_cast<const char *>(&value), sizeof value);
  }
  write("tri.bin", bin);
  const std::string gltf = write(
      "tri.gltf",
      R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
          "nodes": [{"name": "n", "mesh": 0}],
          "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
          "accessors": [{"bufferView": 0, "componentType": 5126, "count": 6, "type": "VEC3"}],
          "bufferViews": [{"buffer": 0, "byteLength": 72}],
          "buffers": [{"byteLength": 72, "uri": "tri.bin"}]})");
  std::string nans;
  for (int i = 0; i < 19998; ++i) nans += "v nan nan nan\n";
  for (int i = 0; i < 19998; i += 3) {
    nans += "f " + std::to_string(i + 1) + " " + std::to_string(i + 2) + " " +
            std::to_string(i + 3) + "\n";
  }
  const std::string nan_obj = write("nan.obj", nans);
  // A scale that takes one axis of a corner past the float range: x, y, z.
  const std::string axes = write("axes.gltf", R"({"asset": {"version": "2.0"},
      "scenes": [{"nodes": [0, 1, 2]}], "nodes": [{"mesh": 0, "scale": [10, 1, 1]},
          {"mesh": 0, "scale": [1, 10, 1]}, {"mesh": 0, "scale": [1, 1, 10]}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}], "buffers": [{"byteLength": 36, "uri":
          "data:;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAA5rFhf+axYX/msWF/"}]})");
  for (const auto &[model, faces] :
       {std::pair{gltf, 2}, std::pair{nan_obj, 6666}, std::pair{axes, 3}}) {
    r = run({model, "-o", "none", "--defaults"});
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_EQ(r.err, "molv: " + model +
                         ": the model holds no faces, lines or lights to export (" +
                         std::to_string(faces) +
                         " faces with a corner at an infinite or undefined (NaN) position left "
                         "out)\n");
    EXPECT_FALSE(std::filesystem::exists(path("none.x")));
  }
}

// Assimp's skeleton of a file without geometry is not taken for the model:
// a motion file holds nothing to export; a Collada of lights keeps its
// lights (and its warning) and nothing else.
TEST_F(ImportFidelity, NoSkeletonIsMadeUpAndNamesWithinANodeDiffer) {
  const std::string bvh = "/usr/share/assimp/models/BVH/01_01.bvh";
  auto r = run({bvh, "-o", "motion", "--defaults"});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_EQ(r.err, "molv: " + bvh + ": the model holds no faces, lines or lights to export\n");
  EXPECT_FALSE(std::filesystem::exists(path("motion.x")));

  qel_test::start_host();
  molv::Load lights = molv::load_file("/usr/share/assimp/models/Collada/lights.dae");
  ASSERT_TRUE(lights.loaded) << lights.error;
  molv::install(lights);
  std::map<int, int> types;
  for (const auto &object : molv::model().objects) ++types[object->type];
  EXPECT_EQ(types[MO_OBJ_POLYGON], 0);
  EXPECT_GT(types[MO_OBJ_LIGHT], 0);
  EXPECT_NE(molv::load_warnings(lights, false).at(0).find("left out (a .x file holds no lights)"),
            std::string::npos);

  // A node whose meshes share a name: each object under one parent has a
  // name of its own, the first the one it always had.
  molv::Load shared = molv::load_file("/usr/share/assimp/models/Collada/regr01.dae");
  ASSERT_TRUE(shared.loaded) << shared.error;
  molv::install(shared);
  size_t named = 0;
  for (const auto &object : molv::model().objects) {
    std::set<std::string> names;
    size_t count = 0;
    for (mo_list node = object->children; node != nullptr; node = node->next, ++count) {
      names.insert(static_cast<mo_object *>(node->item)->name);
    }
    EXPECT_EQ(names.size(), count) << "children of " << object->name;
    named += count;
  }
  EXPECT_GT(named, 2u);
  molv::clear_model();
}

// After the export the textures the .x names are looked for beside it:
// the missing ones get one line (--copy-textures for those beside the
// model), one in another letter case a line of its own; one that is there,
// one embedded in the model and the textures of a scene file get none.
TEST_F(ImportFidelity, TexturesTheXNamesAreLookedForBesideIt) {
  write("box.mtl",
        "newmtl there\nmap_Kd here.png\n"
        "newmtl gone\nmap_Kd maps/wood.png\n"
        "newmtl shout\nmap_Kd TEST.PNG\n");
  write("here.png", "");
  write("test.png", "");
  const std::string obj = write("box.obj",
                                "mtllib box.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n"
                                "usemtl there\nf 1/1 2/1 3/1\nusemtl gone\nf 1/1 3/1 2/1\n"
                                "usemtl shout\nf 2/1 1/1 3/1\n");
  const auto r = run({obj, "-o", "box", "--defaults"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string warning = "molv: " + obj + ": warning: the .x names ";
  std::vector<std::string> lines;
  for (const std::string &line : qel_test::text_lines(r.err)) {
    if (line.rfind(warning, 0) == 0) lines.push_back(line.substr(warning.size()));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "the texture TEST.PNG, but the file there is test.png (the names differ "
                       "in letter case, which a reader outside Windows does not overlook)",
                       "1 texture that is not beside it: wood.png"}))
      << r.err;
  EXPECT_NE(run({obj, "-o", "sub/", "--defaults"})
                .err.find("3 textures that are not beside it: here.png, wood.png, TEST.PNG "
                          "(--copy-textures copies 1 of them there; the others are not beside"),
            std::string::npos);
  EXPECT_EQ(run({obj, "-o", "quiet", "--defaults", "--quiet"}).err, "");
  // The names are those the run wrote: with their folder, or none at all.
  EXPECT_NE(run({obj, "-o", "kept", "--defaults", "--set", "strip_texture_path=0"})
                .err.find("1 texture that is not beside it: maps/wood.png\n"),
            std::string::npos);
  EXPECT_EQ(run({obj, "-o", "none", "--defaults", "--set", "textures=0"}).err.find("the .x names"),
            std::string::npos);

  const std::string scene = write("scene.json", R"({"textures": ["nowhere.png"], "world": {
      "children": [{"vertices": [[0,0,0],[1,0,0],[0,1,0]], "texture": {"id": 0},
                    "surfaces": [{"verts": [0,1,2]}]}]}})");
  const auto from_scene = run({scene, "-o", "scene", "--defaults"});
  ASSERT_EQ(from_scene.exit_status, 0) << from_scene.err;
  EXPECT_EQ(from_scene.err.find("warning"), std::string::npos) << from_scene.err;
}

}  // namespace
