/*
 * The mesh writer: hand-written mesh bodies (triangle, quad, two-sided
 * piece, cube, material list, texture coordinates, duplication indices, no
 * polygons), the preparation of the mesh surfaces, status texts, progress,
 * the cancel points with the abort sequence, and failed allocations.
 */
#include "xwriter/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "export/pass1.h"
#include "api/host_memory.h"
#include "api/model.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel_test::options_with;

const char kAbortNote[] = "\n\n##### Abort by User !!! #####\n\n";

using qel_test::first_object;

std::string only(std::initializer_list<std::pair<int, char>> changes) {
  return options_with("", changes);
}

// What one call of the mesh writer left behind.
struct MeshRun {
  std::string text;
  qel::RunStatus status = qel::RunStatus::running;
  std::string debug;
  std::vector<std::string> status_lines;
  std::vector<int> progress;
  long updates = 0;      // "update" sent during the call
  long live_before = 0;  // host blocks, lists and copies before the call
  long live_after = 0;   // ... and after it
  std::string cancel;    // qel_cancel after the call
};

class MeshWriterTest : public ::testing::Test {
 protected:
  // Loads a scene and takes the options, then runs pass 1 as the save
  // command does (maps, totals).
  void prepare(const std::string &scene, const std::string &options) {
    qel_test::load_scene(scene);
    run_ = std::make_unique<qel_test::StringRun>(options);
    qel::collect_materials(state(), mo_get_world());
  }
  qel::ExportRun &state() { return run_->run; }

  // One call of the mesh writer on `object` (the world's first child).
  MeshRun run(mo_object *object = nullptr, const float offset[3] = nullptr) {
    static const float kOrigin[3] = {0.0f, 0.0f, 0.0f};
    if (object == nullptr) object = first_object();
    MeshRun r;
    molv::clear_recording();
    r.live_before = molv::live_allocations();
    const long updates = molv::update_count();
    run_->text();
    run_->sink.clear();
    qel::write_mesh_body(state(), object, offset != nullptr ? offset : kOrigin);
    r.text = run_->text();
    r.updates = molv::update_count() - updates;
    r.live_after = molv::live_allocations();
    r.status = state().status();
    r.debug = molv::recording().debug;
    r.status_lines = molv::recording().status_lines;
    r.progress = molv::recording().progress;
    molv::tcl_eval("set qel_cancel", &r.cancel);
    return r;
  }

  MeshRun body(const std::string &scene_file, const std::string &options,
               const float offset[3] = nullptr) {
    prepare(qel_test::golden(scene_file), options);
    return run(nullptr, offset);
  }

  void TearDown() override {
    run_.reset();
    molv::set_cancel_at_poll(0);
    molv::set_fail_alloc_after(-1);
    molv::tcl_eval("set qel_cancel 0");
  }

  std::unique_ptr<qel_test::StringRun> run_;
};

// A polygon object "big" with one surface of `n` vertices, on rows of
// seven.
std::string big_polygon_scene(int n) {
  std::vector<std::array<double, 3>> vertices;
  std::vector<int> corners;
  for (int i = 0; i < n; ++i) {
    vertices.push_back({static_cast<double>(i % 7), static_cast<double>(i / 7), 0.0});
    corners.push_back(i);
  }
  return qel_test::polygon_scene("big", vertices, {corners});
}

// A polygon object of `count` separate triangles.
std::string triangles_scene(int count) {
  std::vector<std::array<double, 3>> vertices;
  std::vector<std::vector<int>> surfaces;
  for (int t = 0; t < count; ++t) {
    const double x = t;
    vertices.insert(vertices.end(), {{x, 0, 0}, {x, 1, 0}, {x, 0, 1}});
    surfaces.push_back({3 * t, 3 * t + 1, 3 * t + 2});
  }
  return qel_test::polygon_scene("many", vertices, surfaces);
}

std::size_t count_of(const std::string &text, const std::string &part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// ---- hand-written bodies ---------------------------------------------------------

TEST_F(MeshWriterTest, SingleTriangle) {
  MeshRun r = body("mesh_triangle.json", only({}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_triangle.x"));
  EXPECT_EQ(r.status, qel::RunStatus::running);
}

TEST_F(MeshWriterTest, SingleTriangleWithWindingAndZAxisAndNormals) {
  MeshRun r =
      body("mesh_triangle.json",
           only({{qel::opt_winding, '1'}, {qel::opt_z_axis, '1'}, {qel::opt_normals, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_triangle_winding_z.x"));
}

TEST_F(MeshWriterTest, QuadAsOneFace) {
  MeshRun r = body("mesh_quad.json", only({{qel::opt_fixed_numbers, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_quad.x"));
}

TEST_F(MeshWriterTest, QuadTriangulated) {
  MeshRun r =
      body("mesh_quad.json", only({{qel::opt_fixed_numbers, '1'}, {qel::opt_triangulate, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_quad_triangulated.x"));
}

TEST_F(MeshWriterTest, QuadTriangulatedWithMergedCorners) {
  MeshRun r = body("mesh_quad.json", only({{qel::opt_fixed_numbers, '1'},
                                           {qel::opt_triangulate, '1'},
                                           {qel::opt_optimize_vertices, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_quad_triangulated_merged.x"));
  EXPECT_EQ(state().written_vertex_total, 4);
  EXPECT_EQ(state().surface_vertex_done, 6);
}

TEST_F(MeshWriterTest, TwoSidedTriangleGetsAFlippedCopyFirst) {
  MeshRun r =
      body("mesh_twosided.json", only({{qel::opt_two_sided, '1'}, {qel::opt_normals, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_twosided.x"));
}

TEST_F(MeshWriterTest, TwoSidedCopyMergesWithItsSourceOnlyWhenNormalsAreZeroed) {
  MeshRun r = body("mesh_twosided.json", only({{qel::opt_two_sided, '1'},
                                               {qel::opt_surface_shading, '1'},
                                               {qel::opt_optimize_vertices, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_twosided_merged.x"));
  // With the normals kept, the copy's corners stay apart from the source's.
  r = body("mesh_twosided.json",
           only({{qel::opt_two_sided, '1'}, {qel::opt_optimize_vertices, '1'}}));
  EXPECT_EQ(r.text.substr(0, 3), "6;\n");
}

TEST_F(MeshWriterTest, FlatCubeKeepsOneVertexPerCornerAndFace) {
  const float centre[3] = {0.5f, 0.5f, 0.5f};
  MeshRun r = body("mesh_cube.json",
                   only({{qel::opt_fixed_numbers, '1'},
                         {qel::opt_surface_shading, '1'},
                         {qel::opt_normals, '1'},
                         {qel::opt_optimize_vertices, '1'}}),
                   centre);
  EXPECT_EQ(r.text, qel_test::golden("mesh_cube_flat.x"));
}

TEST_F(MeshWriterTest, CubeWithZeroedNormalsMergesToItsEightCorners) {
  const float centre[3] = {0.5f, 0.5f, 0.5f};
  MeshRun r = body("mesh_cube.json",
                   only({{qel::opt_fixed_numbers, '1'},
                         {qel::opt_surface_shading, '1'},
                         {qel::opt_optimize_vertices, '1'}}),
                   centre);
  EXPECT_EQ(r.text, qel_test::golden("mesh_cube_merged.x"));
  EXPECT_EQ(state().written_vertex_total, 8);
}

TEST_F(MeshWriterTest, MaterialListOfFacesSevenTwoSeven) {
  MeshRun r =
      body("mesh_materials.json", only({{qel::opt_fixed_numbers, '1'}, {qel::opt_materials, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_materials.x"));
  EXPECT_NE(r.debug.find("   Material : 7 - 0\n   Material : 2 - 1\n"), std::string::npos);
}

TEST_F(MeshWriterTest, TextureCoordinatesWithRepeatAndOffset) {
  MeshRun r = body("mesh_texture.json", only({{qel::opt_fixed_numbers, '1'},
                                              {qel::opt_textures, '1'},
                                              {qel::opt_materials, '1'},
                                              {qel::opt_texture_material, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_texture.x"));
}

TEST_F(MeshWriterTest, DuplicationIndicesPointAtTheFirstWrittenVertexOfEachHostVertex) {
  MeshRun r = body("mesh_duplication.json",
                   only({{qel::opt_fixed_numbers, '1'}, {qel::opt_duplication_indices, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_duplication.x"));
  // The list is as long as the highest first index plus one: 4, one poll.
  EXPECT_EQ(r.status_lines.back(), "Export X File - Mesh Vert. Duplication Indices ( 4 ) ...");
}

TEST_F(MeshWriterTest, ObjectWithoutPolygonSurfacesWritesEmptyBlocks) {
  MeshRun r = body("mesh_no_polygons.json", only({{qel::opt_materials, '1'},
                                                  {qel::opt_normals, '1'},
                                                  {qel::opt_duplication_indices, '1'}}));
  EXPECT_EQ(r.text, qel_test::golden("mesh_no_polygons.x"));
  EXPECT_EQ(r.status, qel::RunStatus::running);
}

// The body inside a whole export, where the frame writer places the Mesh
// at the cube's centre.
TEST_F(MeshWriterTest, BodyInsideAWholeExport) {
  qel_test::load_scene(qel_test::golden("mesh_cube.json"));
  const std::string text = qel_test::export_text(only({{qel::opt_fixed_numbers, '1'},
                                                       {qel::opt_surface_shading, '1'},
                                                       {qel::opt_optimize_vertices, '1'}}));
  EXPECT_NE(text.find("\nMesh  {\n" + qel_test::golden("mesh_cube_merged.x") + "\n}\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
}

// ---- preparation -----------------------------------------------------------------

TEST_F(MeshWriterTest, TwoSidedPiecesOfATriangulatedQuadComeFlippedAndReversedFirst) {
  prepare(
      R"({"world": {"children": [{"name": "q",
    "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
    "surfaces": [{"verts": [0,1,2,3], "twosided": true}]}]}})",
      only(
          {{qel::opt_fixed_numbers, '1'}, {qel::opt_triangulate, '1'}, {qel::opt_two_sided, '1'}}));
  MeshRun r = run();
  // Pieces P1 (0,1,2), P2 (0,2,3): the list reads flipped P2 (3,2,0),
  // flipped P1 (2,1,0), P1, P2, and each is written last to first.
  const std::string v0 = "0.0;0.0;0.0;", v1 = "1.0;0.0;0.0;", v2 = "1.0;1.0;0.0;",
                    v3 = "0.0;1.0;0.0;";
  const std::vector<std::string> order = {v0, v2, v3, v0, v1, v2, v2, v1, v0, v3, v2, v0};
  std::string expected = "12;";
  for (std::size_t i = 0; i < order.size(); ++i) expected += (i ? ",\n" : "\n") + order[i];
  expected += ";\n\n4;\n3;0,1,2;,\n3;3,4,5;,\n3;6,7,8;,\n3;9,10,11;;\n";
  EXPECT_EQ(r.text, expected);
  // Pass 1 counted the corners the same way.
  EXPECT_EQ(state().surface_vertex_total, 12);
  EXPECT_NE(r.debug.find("Objekt : 4 Vertices, 0 Kids, 4 Surfaces -> 12 S-Vertices\n"),
            std::string::npos);
}

TEST_F(MeshWriterTest, TheHostModelIsReadNeverChanged) {
  prepare(R"({"textures": ["t.png"], "world": {"children": [{"name": "t", "texture": {"id": 0},
    "vertices": [[0,0,0],[1,0,0],[0,1,0]],
    "surfaces": [{"verts": [[0, 0.5, 0.5], [1, 0.25, 0.75], [2, 1, 0]], "twosided": true}]}]}})",
          only({{qel::opt_two_sided, '1'}, {qel::opt_surface_shading, '1'}}));
  MeshRun r = run();
  ASSERT_EQ(r.status, qel::RunStatus::running);
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  mo_object_get_contents(first_object(), &vc, &sc, &kc, &v, &s, &k);
  auto *surface = static_cast<mo_surface *>(s->item);
  // Texture coordinates and normals read as zero, and the flipped copy
  // reversed, without a change to the host's surface.
  mo_svertex *first = surface_get_svertex_at(surface, 0);
  EXPECT_EQ(first->u, 0.5f);
  EXPECT_EQ(first->v, 0.5f);
  EXPECT_EQ(first->normal[2], 1.0f);
  EXPECT_EQ(surface_get_svertex_at(surface, 2)->u, 1.0f);
  EXPECT_EQ(surface->normal[2], 1.0f);
}

TEST_F(MeshWriterTest, TextureCoordinatesKeepVerticesApartOnlyWhenWritten) {
  const std::string scene = R"({"textures": ["t.png"], "world": {"children": [{"name": "t",
    "texture": {"id": 0}, "vertices": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
    "surfaces": [{"verts": [[0, 0, 0], [1, 0, 0], [2, 0, 0]]},
                 {"verts": [[2, 0.5, 0.5], [1, 0, 0], [3, 0, 0]]}]}]}})";
  // Without opt_textures the coordinates are zeroed: the second triangle's
  // corner on vertex 2 merges (its corner on vertex 1 always does).
  prepare(scene, only({{qel::opt_materials, '1'}, {qel::opt_optimize_vertices, '1'}}));
  EXPECT_EQ(run().text.substr(0, 3), "4;\n");
  prepare(scene, only({{qel::opt_materials, '1'},
                       {qel::opt_textures, '1'},
                       {qel::opt_optimize_vertices, '1'}}));
  MeshRun r = run();
  EXPECT_EQ(r.text.substr(0, 3), "5;\n");
  EXPECT_NE(r.text.find("\nMeshTextureCoords {\n5;"), std::string::npos);
  // Without opt_materials there are no texture coordinates at all.
  prepare(scene, only({{qel::opt_textures, '1'}, {qel::opt_optimize_vertices, '1'}}));
  r = run();
  EXPECT_EQ(r.text.substr(0, 3), "4;\n");
  EXPECT_EQ(r.text.find("MeshTextureCoords"), std::string::npos);
}

TEST_F(MeshWriterTest, ATextureIdBeyondTheTextureTableMeansAnUntexturedMesh) {
  prepare(
      qel_test::golden("mesh_texture.json"),
      only({{qel::opt_fixed_numbers, '1'}, {qel::opt_textures, '1'}, {qel::opt_materials, '1'}}));
  first_object()->texture_id = 4;  // the host has one texture
  MeshRun r = run();
  EXPECT_EQ(r.text.find("MeshTextureCoords"), std::string::npos);
  EXPECT_TRUE(ends_with(r.text, "\nMeshMaterialList {\n1;\n1;\n0;;\n{Mat_1}\n}\n")) << r.text;
}

TEST_F(MeshWriterTest, NormalSignFollowsOptionsEightAndElevenTogether) {
  struct Case {
    bool flip, winding;
    const char *normal;  // each written normal of the triangle
  };
  // The triangle's normal is (0, 0, 1); the z sign is -1.
  const Case cases[] = {{false, false, "0;0;-1;"},
                        {true, false, "-0;-0;1;"},
                        {false, true, "-0;-0;1;"},
                        {true, true, "0;0;-1;"}};
  for (const Case &c : cases) {
    prepare(qel_test::golden("mesh_triangle.json"),
            only({{qel::opt_normals, '1'},
                  {qel::opt_flip_normals, c.flip ? '1' : '0'},
                  {qel::opt_winding, c.winding ? '1' : '0'}}));
    MeshRun r = run();
    const std::string n = c.normal;
    EXPECT_NE(r.text.find("\nMeshNormals{\n3;\n" + n + ",\n" + n + ",\n" + n + ";\n"),
              std::string::npos)
        << "flip " << c.flip << " winding " << c.winding << "\n"
        << r.text;
  }
}

TEST_F(MeshWriterTest, SurfaceShadingWritesAFlatSurfacesOwnNormalAndRoundsTheRest) {
  // A flat and a smooth triangle on one edge, at an angle.
  prepare(R"({"world": {"children": [{"name": "fold",
    "vertices": [[0,0,0],[1,0,0],[0,1,0],[0.3,0.2,0.7]],
    "surfaces": [{"verts": [0,1,2], "shading": "flat"}, {"verts": [1,3,2]}]}]}})",
          only({{qel::opt_normals, '1'}, {qel::opt_surface_shading, '1'}}));
  MeshRun r = run();
  // The flat triangle's corners all carry its own normal (0, 0, 1).
  EXPECT_NE(r.text.find("\nMeshNormals{\n6;\n0;0;-1;,\n0;0;-1;,\n0;0;-1;,\n"), std::string::npos)
      << r.text;
  // The smooth triangle's corners carry vertex normals that differ from it.
  EXPECT_EQ(count_of(r.text, "0;0;-1;"), 3u);
}

TEST_F(MeshWriterTest, RoundedNormalsLetNearlyEqualFlatNormalsMerge) {
  // Flat triangles of one tilted plane: their normals come out of the
  // host's arithmetic a few last bits apart, which rounding to 1e-6 hides.
  const std::string scene = R"({"world": {"children": [{"name": "plane",
    "vertices": [[0,0,0],[1,0,0.3],[0,1,0.7],[0.9,0.8,0.83]],
    "surfaces": [{"verts": [0,1,2], "shading": "flat"}, {"verts": [1,3,2], "shading": "flat"}]}]}})";
  prepare(scene, only({{qel::opt_normals, '1'}}));
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  object_calc_normals_force(first_object());
  mo_object_get_contents(first_object(), &vc, &sc, &kc, &v, &s, &k);
  std::vector<const float *> normals;
  for (mo_list_node *node = s; node != nullptr; node = node->next) {
    normals.push_back(static_cast<mo_surface *>(node->item)->normal);
  }
  bool apart = false;
  for (std::size_t i = 1; i < normals.size(); ++i) {
    for (int c = 0; c < 3; ++c) apart = apart || normals[i][c] != normals[0][c];
  }
  ASSERT_TRUE(apart) << "the scene no longer shows float noise in its normals";

  // Without opt_surface_shading the flat normals keep the noise and nothing merges
  // but what is exactly equal; with it (and 7) the shared corners merge.
  prepare(scene, only({{qel::opt_normals, '1'}, {qel::opt_optimize_vertices, '1'}}));
  const std::string raw = run().text;
  prepare(scene, only({{qel::opt_normals, '1'},
                       {qel::opt_optimize_vertices, '1'},
                       {qel::opt_surface_shading, '1'}}));
  MeshRun rounded = run();
  EXPECT_EQ(raw.substr(0, 3), "6;\n");
  EXPECT_EQ(rounded.text.substr(0, 3), "4;\n");
}

TEST_F(MeshWriterTest, SubdivisionOptionWritesTheSubdividedForm) {
  const std::string scene = R"({"world": {"children": [{"name": "s",
    "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}],
    "subdivided": {"name": "s2", "vertices": [[0,0,0],[2,0,0],[0,2,0],[2,2,0]],
                   "surfaces": [{"verts": [0,1,3,2]}]}}]}})";
  prepare(scene, only({{qel::opt_subdivision, '1'}}));
  EXPECT_EQ(run().text, "4;\n0;2;-0;,\n2;2;-0;,\n2;0;-0;,\n0;0;-0;;\n\n1;\n4;0,1,2,3;;\n");
  prepare(scene, only({}));
  EXPECT_EQ(run().text, "3;\n0;1;-0;,\n1;0;-0;,\n0;0;-0;;\n\n1;\n3;0,1,2;;\n");
}

TEST_F(MeshWriterTest, DebugLineIsIndentedByTheHierarchyLevel) {
  prepare(qel_test::golden("mesh_quad.json"), only({{qel::opt_triangulate, '1'}}));
  state().hierarchy_level = 2;
  MeshRun r = run();
  EXPECT_NE(r.debug.find("\n         'x_output_surface_vertices' :\n"
                         "            Objekt : 4 Vertices, 0 Kids, 2 Surfaces -> 6 S-Vertices\n"),
            std::string::npos)
      << r.debug;
}

// ---- status texts, progress, polls ------------------------------------------------

TEST_F(MeshWriterTest, StatusTextsComeBeforeEachBlock) {
  prepare(qel_test::golden("mesh_texture.json"), only({{qel::opt_textures, '1'},
                                                       {qel::opt_materials, '1'},
                                                       {qel::opt_normals, '1'},
                                                       {qel::opt_duplication_indices, '1'}}));
  MeshRun r = run();
  EXPECT_EQ(r.status_lines, (std::vector<std::string>{
                                "Export X File - Mesh Vertices ...",
                                "Export X File - Mesh Surfaces ...",
                                "Export X File - Mesh Materials ...",
                                "Export X File - Texture Coordinates ...",
                                "Export X File - Mesh Normals ...",
                                "Export X File - Mesh Vert. Duplication Indices ...",
                                "Export X File - Mesh Vert. Duplication Indices ( 3 ) ...",
                            }));
  // The poll after the table shows no text: it and the count poll are the
  // only ones of so small a mesh.
  EXPECT_EQ(r.updates, 2);
  EXPECT_TRUE(r.progress.empty());
}

TEST_F(MeshWriterTest, ProgressEveryThousandSurfaceVerticesOfTheExport) {
  prepare(big_polygon_scene(2500), only({}));
  ASSERT_EQ(state().surface_vertex_total, 2500);
  MeshRun r = run();
  EXPECT_EQ(r.progress, (std::vector<int>{40, 80}));
  EXPECT_EQ(count_of(r.text, ",\n"), 2499u);
  // 25 polls while listing, one after the table, two in the vertex block.
  EXPECT_EQ(r.updates, 28);
  EXPECT_EQ(std::count(r.status_lines.begin(), r.status_lines.end(),
                       std::string("Export X File - Mesh Vertices ...")),
            3);
}

TEST_F(MeshWriterTest, ProgressCarriesOverAndStaysWithinZeroToHundred) {
  prepare(big_polygon_scene(2500), only({}));
  // A total that is too small, then none at all: never above 100, never a
  // division by zero.
  state().surface_vertex_total = 1500;
  EXPECT_EQ(run().progress, (std::vector<int>{66, 100}));
  state().surface_vertex_total = 0;
  state().surface_vertex_done = 999;  // the count of earlier meshes goes on
  EXPECT_EQ(run().progress, (std::vector<int>{100, 100, 100}));
  EXPECT_EQ(state().surface_vertex_done, 999 + 2500);
  EXPECT_EQ(state().written_vertex_total, 5000);
}

// ---- cancel ------------------------------------------------------------------------

TEST_F(MeshWriterTest, CancelInTheVertexBlockEndsTheMeshWithTheAbortNote) {
  prepare(big_polygon_scene(2500), only({{qel::opt_normals, '1'}}));
  molv::set_cancel_at_poll(27);  // 25 while listing, the one after the table, then at 1000
  MeshRun r = run();
  EXPECT_EQ(r.status, qel::RunStatus::cancelled);
  ASSERT_TRUE(ends_with(r.text, kAbortNote)) << r.text.substr(r.text.size() - 200);
  const std::string before = r.text.substr(0, r.text.size() - std::string(kAbortNote).size());
  // Exactly the first thousand vertices, the last without its ",".
  EXPECT_EQ(count_of(before, "\n"), 1000u);
  EXPECT_TRUE(ends_with(before, ";"));
  EXPECT_EQ(before.find("MeshNormals"), std::string::npos);
  EXPECT_NE(r.debug.find(kAbortNote), std::string::npos);
  EXPECT_EQ(r.cancel, "0");
  EXPECT_EQ(r.live_after, r.live_before);
}

TEST_F(MeshWriterTest, CancelWhileTheTableIsBuiltAbortsAfterIt) {
  // The first and the last poll while listing, the first while merging
  // (25 of each), and the poll after the table.
  for (long at : {1L, 25L, 26L, 51L}) {
    prepare(big_polygon_scene(2500), only({{qel::opt_optimize_vertices, '1'}}));
    molv::set_cancel_at_poll(at);
    MeshRun r = run();
    EXPECT_EQ(r.status, qel::RunStatus::cancelled) << at;
    EXPECT_EQ(r.text, kAbortNote) << at;
    EXPECT_EQ(r.cancel, "0");
    EXPECT_EQ(r.live_after, r.live_before);
  }
}

TEST_F(MeshWriterTest, CancelWhileCountingDuplicatesAborts) {
  // 150 separate triangles: 450 host vertices, each written once.
  prepare(triangles_scene(150), only({{qel::opt_duplication_indices, '1'}}));
  molv::set_cancel_at_poll(6);  // 4 while listing, 1 after the table, the first count
  MeshRun r = run();
  EXPECT_EQ(r.status, qel::RunStatus::cancelled);
  EXPECT_TRUE(ends_with(r.text, std::string(";;\n") + kAbortNote));
  EXPECT_EQ(r.text.find("VertexDuplicationIndices"), std::string::npos);
  EXPECT_EQ(r.status_lines.back(), "Export X File - Mesh Vert. Duplication Indices ( 450 ) ...");
  EXPECT_EQ(r.live_after, r.live_before);
}

TEST_F(MeshWriterTest, CancelWhileWritingDuplicationIndicesAborts) {
  prepare(triangles_scene(150), only({{qel::opt_duplication_indices, '1'}}));
  // 4 while listing, 1 after the table, 5 while counting (450 entries),
  // then the one after the 100th surface.
  molv::set_cancel_at_poll(11);
  MeshRun r = run();
  EXPECT_EQ(r.status, qel::RunStatus::cancelled);
  ASSERT_TRUE(ends_with(r.text, kAbortNote));
  const std::vector<std::string> expected_tail = {
      "Export X File - Mesh Vert. Duplication Indices ( 450 ) ...",
      "Export X File - Mesh Vert. Duplication Indices ( 350 ) ...",
      "Export X File - Mesh Vert. Duplication Indices ( 250 ) ...",
      "Export X File - Mesh Vert. Duplication Indices ( 150 ) ...",
      "Export X File - Mesh Vert. Duplication Indices ( 50 ) ...",
      "Export X File - Mesh Vert. Duplication Indices ( 100 ) ..."};
  ASSERT_GE(r.status_lines.size(), expected_tail.size());
  EXPECT_EQ(std::vector<std::string>(r.status_lines.end() - 6, r.status_lines.end()),
            expected_tail);
  const std::size_t block = r.text.find("VertexDuplicationIndices {\n450;\n450;");
  ASSERT_NE(block, std::string::npos);
  // The indices of the first hundred surfaces, then the note.
  const std::string indices =
      r.text.substr(block, r.text.size() - std::string(kAbortNote).size() - block);
  EXPECT_TRUE(ends_with(indices, "\n299"));
  EXPECT_EQ(r.live_after, r.live_before);

  // Without a cancel the walk goes on past the polls at 100 surfaces.
  prepare(triangles_scene(150), only({{qel::opt_duplication_indices, '1'}}));
  r = run();
  EXPECT_TRUE(ends_with(r.text, "\n449;\n}\n"));
  EXPECT_EQ(r.updates, 11);
}

TEST_F(MeshWriterTest, CancelInsideAWholeExportStopsEverythingAfterTheNote) {
  qel_test::load_scene(big_polygon_scene(2500));
  molv::clear_recording();
  // Nothing polls before the meshes: the vertex poll at 1000 is the 27th.
  molv::set_cancel_at_poll(27);
  const long live = molv::live_allocations();
  const std::string text = qel_test::export_text(only({}));
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::cancelled);
  EXPECT_TRUE(ends_with(text, kAbortNote));
  EXPECT_EQ(molv::live_allocations(), live);
}

// ---- memory ------------------------------------------------------------------------

TEST_F(MeshWriterTest, FailedAllocationsEndTheMeshAndFreeEverything) {
  // The table's rows, the merge's hash, the map of first written vertices,
  // the material map: each failure ends the run as failed.
  for (long fail_after : {0L, 1L, 2L, 3L}) {
    prepare(qel_test::golden("mesh_duplication.json"), only({{qel::opt_optimize_vertices, '1'},
                                                             {qel::opt_duplication_indices, '1'},
                                                             {qel::opt_materials, '1'}}));
    molv::set_fail_alloc_after(fail_after);
    MeshRun r = run();
    molv::set_fail_alloc_after(-1);
    EXPECT_EQ(r.status, qel::RunStatus::failed) << fail_after;
    EXPECT_EQ(state().failure(), "Out of memory !");
    EXPECT_EQ(r.live_after, r.live_before) << fail_after;
    EXPECT_EQ(r.text.find("Abort"), std::string::npos);
  }
  // With enough memory the same mesh is whole.
  prepare(qel_test::golden("mesh_duplication.json"), only({{qel::opt_optimize_vertices, '1'},
                                                           {qel::opt_duplication_indices, '1'},
                                                           {qel::opt_materials, '1'}}));
  MeshRun r = run();
  EXPECT_EQ(r.status, qel::RunStatus::running);
  EXPECT_TRUE(ends_with(r.text, "VertexDuplicationIndices {\n4;\n4;\n0,\n1,\n2,\n3;\n}\n"));
  EXPECT_EQ(r.live_after, r.live_before);
}

TEST_F(MeshWriterTest, ARunThatAlreadyEndedWritesNothing) {
  prepare(qel_test::golden("mesh_triangle.json"), only({}));
  state().fail("stopped");
  MeshRun r = run();
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.live_after, r.live_before);
}

}  // namespace
