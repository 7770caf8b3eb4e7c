/*
 * Every file checked by a second reader: Assimp's .x importer reads the
 * hand-written golden files, the sample scene's export, a few hundred
 * generated scenes under option strings that switch every option, and
 * models from other formats, and each is compared with the model the host
 * held (support/x_check.h).  The generated exports must also give back
 * every block of host memory they took.
 *
 * The generated scenes come from one seed per run, printed at the start;
 * QEL_SEED=<seed> replays a run.
 */
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/host_memory.h"
#include "binding/options.h"
#include "import/load.h"
#include "import/scene_file.h"
#include "support/export_harness.h"
#include "support/random_scene.h"
#include "support/x_check.h"

namespace {

using qel_test::options_with;
using qel_test::x_check;
using qel_test::XCheck;

std::string golden_dir() { return std::string(QEL_TEST_DIR) + "/golden"; }

std::string with(std::initializer_list<int> set) {
  std::string options = qel_test::all_clear_options();
  for (int index : set) options[static_cast<size_t>(index)] = '1';
  return options;
}

mo_object *first_child() {
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  mo_object_get_contents(mo_get_world(), &vc, &sc, &kc, &v, &s, &k);
  return static_cast<mo_object *>(k->item);
}

// ---- the golden files -------------------------------------------------------------

enum class Kind { kWhole, kMeshBody, kHead };

struct Golden {
  const char *file;
  const char *scene;
  Kind kind;
  std::string options;  // as the golden file's own test writes it
  float offset[3];      // mesh bodies: the offset the test passes
};

const std::vector<Golden> &goldens() {
  static const std::vector<Golden> list = {
      {"frames_sample.x", "frames_sample.json", Kind::kWhole, with({14, 17}), {}},
      {"frames_names.x", "frames_names.json", Kind::kWhole, with({14, 15, 17}), {}},
      {"frames_index.x", "frames_index.json", Kind::kWhole, with({2, 15}), {}},
      {"frames_unnamed.x", "frames_unnamed.json", Kind::kWhole, with({17}), {}},
      {"frames_no_frames.x", "frames_no_frames.json", Kind::kWhole, with({10, 14, 17}), {}},
      {"frames_leaf.x", "frames_leaf.json", Kind::kWhole, with({14, 17, 20}), {}},
      {"frames_comments.x", "frames_comments.json", Kind::kWhole, with({2, 14, 17, 21}), {}},
      {"frames_light.x", "frames_light.json", Kind::kWhole, with({2, 14, 17}), {}},
      {"frames_degenerate.x", "frames_degenerate.json", Kind::kWhole, with({14, 17, 28}), {}},
      {"mesh_triangle.x", "mesh_triangle.json", Kind::kMeshBody, with({}), {}},
      {"mesh_triangle_winding_z.x", "mesh_triangle.json", Kind::kMeshBody, with({3, 7, 11}), {}},
      {"mesh_quad.x", "mesh_quad.json", Kind::kMeshBody, with({17}), {}},
      {"mesh_quad_triangulated.x", "mesh_quad.json", Kind::kMeshBody, with({9, 17}), {}},
      {"mesh_quad_triangulated_merged.x", "mesh_quad.json", Kind::kMeshBody, with({9, 17, 23}), {}},
      {"mesh_twosided.x", "mesh_twosided.json", Kind::kMeshBody, with({7, 22}), {}},
      {"mesh_twosided_merged.x", "mesh_twosided.json", Kind::kMeshBody, with({12, 22, 23}), {}},
      {"mesh_cube_flat.x",
       "mesh_cube.json",
       Kind::kMeshBody,
       with({7, 12, 17, 23}),
       {0.5f, 0.5f, 0.5f}},
      {"mesh_cube_merged.x",
       "mesh_cube.json",
       Kind::kMeshBody,
       with({12, 17, 23}),
       {0.5f, 0.5f, 0.5f}},
      {"mesh_materials.x", "mesh_materials.json", Kind::kMeshBody, with({6, 17}), {}},
      {"mesh_texture.x", "mesh_texture.json", Kind::kMeshBody, with({5, 6, 17, 19}), {}},
      {"mesh_duplication.x", "mesh_duplication.json", Kind::kMeshBody, with({13, 17}), {}},
      {"templates_fixed.x",
       "templates_fixed.json",
       Kind::kHead,
       options_with(qel::kDefaultOptions, {{1, '1'}, {23, '0'}}),
       {}},
      {"templates_short.x", "templates_short.json", Kind::kHead, with({4, 5, 6}), {}},
      {"export_ngons.x", "export_ngons.json", Kind::kWhole, with({1, 7, 14, 17, 23}), {}},
  };
  return list;
}

void PrintTo(const Golden &g, std::ostream *os) { *os << g.file; }

class GoldenRead : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenRead, ReadsBackAsTheSceneHoldsIt) {
  const Golden &g = GetParam();
  qel_test::load_scene(qel_test::golden(g.scene));
  const std::string text = qel_test::golden(g.file);
  ASSERT_FALSE(text.empty()) << g.file;
  XCheck r;
  switch (g.kind) {
    case Kind::kWhole:
      r = x_check(text, g.options);
      EXPECT_GT(r.frames, 0);
      break;
    case Kind::kMeshBody:
      r = qel_test::x_check_mesh_body(text, first_child(), g.offset, g.options);
      EXPECT_GT(r.faces, 0);
      EXPECT_GT(r.corners, 0);
      break;
    case Kind::kHead:
      r = qel_test::x_check_templates(text, g.options);
      EXPECT_GT(r.materials, 0);
      break;
  }
  EXPECT_TRUE(r.ok()) << r.report();
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenRead, ::testing::ValuesIn(goldens()),
                         [](const ::testing::TestParamInfo<Golden> &info) {
                           std::string name = info.param.file;
                           name.resize(name.size() - 2);
                           return name;
                         });

// Every golden .x file has its reader check above, but the one body that
// no file ever holds: a Mesh of no vertices, which the frame writer leaves
// out (and the reader refuses).  Its scene's whole file is checked instead.
TEST(GoldenRead, EveryGoldenFileIsRead) {
  std::set<std::string> checked;
  for (const Golden &g : goldens()) checked.insert(g.file);
  checked.insert("mesh_no_polygons.x");
  DIR *dir = opendir(golden_dir().c_str());
  ASSERT_NE(dir, nullptr);
  int files = 0;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 2 || name.compare(name.size() - 2, 2, ".x") != 0) continue;
    ++files;
    EXPECT_EQ(checked.count(name), 1u) << name << " has no reader check";
  }
  closedir(dir);
  EXPECT_EQ(files, static_cast<int>(checked.size()));
}

TEST(GoldenRead, MeshWithoutPolygonsIsLeftOutOfTheFile) {
  qel_test::load_scene(qel_test::golden("mesh_no_polygons.json"));
  const std::string options = with({6, 7, 13, 14});
  const std::string text = qel_test::export_text(options);
  EXPECT_EQ(text.find("Mesh "), std::string::npos);
  const XCheck r = x_check(text, options);
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_EQ(r.frames, 2);  // the world and the outline's frame
  // The body on its own is no file a reader takes.
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  const XCheck body = qel_test::x_check_mesh_body(qel_test::golden("mesh_no_polygons.x"),
                                                  first_child(), origin, options);
  EXPECT_FALSE(body.loaded);
}

// ---- the sample scene ------------------------------------------------------------

TEST(ReaderCheck, SampleSceneUnderTheDefaultsAndEveryOptionAlone) {
  qel_test::load_scene(molv::sample_scene_json());
  std::vector<std::string> runs = {qel::kDefaultOptions, qel_test::all_clear_options()};
  for (int option : qel_test::option_switches()) {
    std::string flipped = qel::kDefaultOptions;
    flipped[static_cast<size_t>(option)] = flipped[static_cast<size_t>(option)] == '1' ? '0' : '1';
    runs.push_back(flipped);
  }
  for (const std::string &options : runs) {
    const std::string text = qel_test::export_text(options);
    ASSERT_EQ(qel_test::last_status(), qel::RunStatus::completed);
    const XCheck r = x_check(text, options);
    EXPECT_TRUE(r.ok()) << "options " << options << "\n" << r.report();
    EXPECT_GT(r.corners, 0) << options;
  }
}

// The check itself: each fault put into a good file is found, and named.
TEST(ReaderCheck, FindsEachFaultPutIntoAGoodFile) {
  qel_test::load_scene(molv::sample_scene_json());
  const std::string options = qel::kDefaultOptions;
  const std::string good = qel_test::export_text(options);
  ASSERT_TRUE(x_check(good, options).ok()) << x_check(good, options).report();

  struct Fault {
    const char *from;
    const char *to;
    const char *found;  // part of the fault the check reports
  };
  const Fault faults[] = {
      {"Mesh Crate {\n24;\n-1.0;-1.0;-1.0;,", "Mesh Crate {\n24;\n-1.0;-1.0;-1.5;,", "position"},
      {"6;\n4;0,1,2,3;,", "6;\n4;0,2,1,3;,", "position"},
      {"Frame Props {", "Frame Prop {", "frame named 'Prop'"},
      {"  0.8; 0.1; 0.1; 1.0;;", "  0.8; 0.1; 0.2; 1.0;;", "Mat_1 face colour"},
      {"  32.0;\n", "  31.0;\n", "Mat_1 power"},
      {"  0.0, 1.0, 0.0, 1.0;;", "  0.0, 1.5, 0.0, 1.0;;", "Crate mesh Crate material 0 face 0"},
      {"{Tex_0_3}", "{Tex_0_4}", "Could not resolve global material reference"},
      {"MeshNormals{\n24;\n0.0;-1.0;0.0;,", "MeshNormals{\n24;\n0.0;1.0;0.0;,", "normal"},
      {"MeshTextureCoords {\n24;\n0.5;0.0;,", "MeshTextureCoords {\n24;\n0.5;0.5;,",
       "texture coordinates"},
      {"\"crate.png\"", "\"crate.jpg\"", "texture 'crate.jpg'"},
      {"MeshNormals{", "MeshNothing{", "no normals"},
  };
  for (const Fault &f : faults) {
    std::string bad = good;
    const size_t at = bad.find(f.from);
    ASSERT_NE(at, std::string::npos) << f.from;
    bad.replace(at, std::strlen(f.from), f.to);
    const XCheck r = x_check(bad, options);
    EXPECT_FALSE(r.ok()) << f.to;
    EXPECT_NE(r.report().find(f.found), std::string::npos) << f.to << "\n" << r.report();
  }
  // A file the reader cannot take at all.
  const XCheck cut = x_check(good.substr(0, good.size() / 2), options);
  EXPECT_FALSE(cut.ok());
  EXPECT_NE(cut.report().find("the reader refused the file"), std::string::npos) << cut.report();
}

// A world of line surfaces gets no frame: its children's frames stand at
// the top of the file side by side, and under opt_no_leaf_frames a leaf's Mesh
// stands outside every frame, in the host's coordinates.
TEST(ReaderCheck, WorldWithoutAFrame) {
  qel_test::load_scene(R"({"world": {
      "vertices": [[0,0,0],[5,0,0]], "surfaces": [{"type": "line", "verts": [0,1]}],
      "children": [
        {"name": "a", "vertices": [[1,2,3],[2,2,3],[1,3,3]], "surfaces": [{"verts": [0,1,2]}]},
        {"name": "b", "centre": [7,7,7], "vertices": [[4,0,1],[5,0,1],[4,1,2]],
         "surfaces": [{"verts": [0,1,2], "twosided": true}],
         "children": [{"type": "light", "name": "l"}]}]}})");
  const std::pair<std::string, int> runs[] = {
      {qel::kDefaultOptions, 2},
      // a's Mesh stands outside every frame; the reader puts it on its
      // root, b's frame, in place of b's own Mesh, which it then loses.
      {options_with(qel::kDefaultOptions, {{20, '1'}}), 1},
      {options_with(qel::kDefaultOptions, {{10, '1'}, {3, '1'}}), 2},
  };
  for (const auto &run : runs) {
    const std::string text = qel_test::export_text(run.first);
    EXPECT_EQ(text.find("\nFrame WORLD"), std::string::npos);
    const XCheck r = x_check(text, run.first);
    EXPECT_TRUE(r.ok()) << run.first << "\n" << r.report();
    EXPECT_EQ(r.meshes, run.second) << run.first;
  }
}

// ---- models from other formats ----------------------------------------------------

// Debian's assimp-testmodels (tools/packages.txt).
const char kTestModels[] = "/usr/share/assimp/models";

TEST(ReaderCheck, ModelsFromOtherFormatsReadBackAsTheyWereHeld) {
  const char *const models[] = {
      "OBJ/spider.obj",                                 // groups, .mtl, a texture
      "PLY/cube_uv.ply",                                // quads, two-sided
      "STL/Spider_ascii.stl",                           // one solid of triangles
      "3DS/cube_with_diffuse_texture.3DS",              // a node transform, a texture
      "glTF2/BoxTextured-glTF/BoxTextured.gltf",        // nested nodes
      "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",  // an embedded texture
      "Collada/duck.dae",                               // a camera, a light, polygons
      "AC/SphereWithLight.ac",                          // a light beside a sphere
      "OFF/Cube.off",
  };
  std::string all_on = qel_test::all_clear_options();
  for (int k : qel_test::option_switches()) {
    all_on[static_cast<size_t>(k)] = '1';
  }
  const std::string option_sets[] = {
      qel::kDefaultOptions,
      all_on,
      options_with(qel::kDefaultOptions, {{3, '1'}, {9, '1'}, {11, '1'}, {15, '1'}, {49, '2'}}),
  };
  qel_test::start_host();
  for (const char *model : models) {
    const std::string path = std::string(kTestModels) + "/" + model;
    molv::Load load = molv::load_file(path);
    ASSERT_TRUE(load.loaded) << load.error << " (install assimp-testmodels, tools/packages.txt)";
    molv::install(load);
    for (const std::string &options : option_sets) {
      const long live = molv::live_allocations();
      const std::string text = qel_test::export_text(options);
      EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed) << model;
      EXPECT_EQ(molv::live_allocations(), live) << model;
      const XCheck r = x_check(text, options);
      EXPECT_TRUE(r.ok()) << model << " under " << options << "\n" << r.report();
      EXPECT_GT(r.corners, 0) << model;
      if (options == qel::kDefaultOptions) {
        std::printf("[ model    ] %s: %d frames, %d faces, %d corners, %d materials\n", model,
                    r.frames, r.faces, r.corners, r.materials);
      }
    }
  }
}

// ---- generated scenes ----------------------------------------------------------

TEST(ReaderCheck, GeneratedScenesReadBackAsTheyWereHeld) {
  const uint64_t seed = qel_test::run_seed();
  std::printf("[ seed     ] QEL_SEED=%llu\n", static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  SCOPED_TRACE("QEL_SEED=" + std::to_string(seed));

  constexpr int kScenes = 400;
  constexpr int kOptionsPerScene = 3;
  int failures = 0;
  long corners = 0, normals = 0, uvs = 0, materials = 0, frames = 0, large_faces = 0;
  // Which value each option took at least once.
  std::set<std::pair<int, char>> seen;

  for (int i = 0; i < kScenes && failures < 3; ++i) {
    const uint64_t scene_seed = qel_test::scene_seed(seed, static_cast<uint64_t>(i));
    const std::string scene = qel_test::random_scene(scene_seed);
    qel_test::load_scene(scene);
    for (int j = 0; j < kOptionsPerScene; ++j) {
      const std::string options = qel_test::random_options(scene_seed + static_cast<uint64_t>(j));
      for (int k = 1; k < 50; ++k) seen.insert({k, options[static_cast<size_t>(k)]});

      const long live = molv::live_allocations();
      const std::string text = qel_test::export_text(options);
      EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
      EXPECT_EQ(molv::live_allocations(), live) << "scene " << i << ": the export leaked";
      const XCheck r = x_check(text, options);
      EXPECT_EQ(molv::live_allocations(), live) << "scene " << i << ": the check leaked";
      if (!r.ok()) {
        ++failures;
        ADD_FAILURE() << "scene " << i << " under options " << options << "\n"
                      << r.report() << "scene: " << scene;
      }
      corners += r.corners;
      large_faces += r.large_faces;
      normals += r.normals;
      uvs += r.texture_coords;
      materials += r.materials;
      frames += r.frames;
    }
  }
  std::printf(
      "[ checked  ] %ld frames, %ld corners, %ld faces of 9 to 16 corners, %ld normals, "
      "%ld texture coordinates, %ld materials\n",
      frames, corners, large_faces, normals, uvs, materials);
  EXPECT_GT(corners, 1000);
  EXPECT_GT(large_faces, 100);
  EXPECT_GT(normals, 100);
  EXPECT_GT(uvs, 100);
  EXPECT_GT(materials, 100);
  for (int k : qel_test::option_switches()) {
    EXPECT_TRUE(seen.count({k, '0'}) && seen.count({k, '1'})) << "option " << k;
  }
  for (char digits : {'0', '2', '6'}) EXPECT_TRUE(seen.count({49, digits})) << digits;
}

}  // namespace
