/*
 * Pass 1: which palette materials and textures the meshes use, the dense
 * first-use numbers, the three totals, the trace of the walk and of the
 * maps, and the end of a run whose maps cannot be had.
 */
#include "export/pass1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/export_run.h"
#include "api/host_memory.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel_test::options_with;

// What one pass 1 left behind, copied out before the maps are freed.
struct Pass1 {
  std::vector<int> mat;
  std::vector<int> tex;
  std::vector<int> tex_material;
  int surfaces = 0;
  int vertices = 0;
  int corners = 0;
  qel::RunStatus status = qel::RunStatus::running;
  std::string failure;
  bool maps_made = false;
  std::string trace;
};

// Runs collect_materials on the world of the loaded scene, as the save
// command does on a new run.
Pass1 run_pass1(const std::string &options) {
  qel_test::start_host();
  molv::clear_recording();
  qel_test::StringRun string_run(options);
  qel::ExportRun &s = string_run.run;
  qel::collect_materials(s, mo_get_world());

  Pass1 r;
  r.maps_made = s.maps.mat_list != nullptr && s.maps.tex_list != nullptr;
  if (s.maps.mat_list != nullptr) r.mat.assign(s.maps.mat_list, s.maps.mat_list + s.maps.mat_count);
  if (s.maps.tex_list != nullptr) {
    r.tex.assign(s.maps.tex_list, s.maps.tex_list + s.maps.tex_count);
    r.tex_material.assign(s.maps.tex_material, s.maps.tex_material + s.maps.tex_count);
  }
  r.surfaces = s.surface_total;
  r.vertices = s.vertex_total;
  r.corners = s.surface_vertex_total;
  r.status = s.status();
  r.failure = s.failure();
  r.trace = molv::recording().debug;
  return r;
}

// Every switch clear but those given.
std::string only(std::initializer_list<std::pair<int, char>> changes) {
  return options_with("", changes);
}

using V = std::vector<int>;

// ---- what counts as used -------------------------------------------------

TEST(Pass1Maps, ModelWithoutPolygonObjectsMakesEmptyMaps) {
  qel_test::load_scene(R"({
    "palette": [{}, {}],
    "textures": ["a.png"],
    "world": { "children": [
      { "name": "g", "children": [ { "name": "lamp", "type": "light" } ] },
      { "name": "odd", "type": 7 } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_TRUE(r.maps_made);
  EXPECT_EQ(r.mat, (V{-1, -1}));
  EXPECT_EQ(r.tex, (V{-1}));
  EXPECT_EQ(r.tex_material, (V{-1}));
  EXPECT_EQ(r.surfaces, 0);
  EXPECT_EQ(r.vertices, 0);
  EXPECT_EQ(r.corners, 0);
  // One "Objekt" line and one empty line per object, depth first.
  EXPECT_EQ(r.trace, "Objekt : 'world'\nObjekt : 'g'\nObjekt : 'lamp'\n\n\nObjekt : 'odd'\n\n\n");
}

TEST(Pass1Maps, TexturedObjectOfLinesAndShortPolygonsClaimsNothing) {
  qel_test::load_scene(R"({
    "palette": [{}, {}],
    "textures": ["a.png"],
    "world": { "children": [ { "name": "wire", "texture": { "id": 0 },
      "vertices": [[0,0,0], [1,0,0], [1,1,0]],
      "surfaces": [
        { "type": "line", "material": 1, "verts": [0, 1, 2] },
        { "type": "closed_line", "material": 1, "verts": [0, 1, 2] },
        { "material": 1, "verts": [0, 1] } ] } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.tex, (V{-1}));
  EXPECT_EQ(r.tex_material, (V{-1}));
  EXPECT_EQ(r.mat, (V{-1, -1}));
  // The host's totals count every surface; the corners only the polygons
  // the mesh writer will take.
  EXPECT_EQ(r.surfaces, 3);
  EXPECT_EQ(r.vertices, 3);
  EXPECT_EQ(r.corners, 0);
}

TEST(Pass1Maps, MaterialOfTexturedObjectsOnlyStaysUnused) {
  qel_test::load_scene(R"({
    "palette": [{}, {}, {}],
    "textures": ["a.png"],
    "world": { "children": [
      { "name": "t", "texture": { "id": 0 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 2, "verts": [0, 1, 2] } ] },
      { "name": "p", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ] } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.mat, (V{-1, 0, -1}));
  EXPECT_EQ(r.tex, (V{0}));
  EXPECT_EQ(r.tex_material, (V{2}));

  // No template for palette material 2; the texture carries its colours.
  std::string text = qel_test::export_text(options_with(qel::kDefaultOptions, {{17, '0'}}));
  EXPECT_NE(text.find("Material Mat_1 {"), std::string::npos);
  EXPECT_EQ(text.find("Mat_2"), std::string::npos);
  EXPECT_NE(text.find("Material Tex_0_2 {"), std::string::npos);
}

TEST(Pass1Maps, SharedTextureTakesTheMaterialOfItsFirstQualifyingSurface) {
  qel_test::load_scene(R"({
    "palette": [{}, {}, {}, {}, {}],
    "textures": ["x.png", "shared.png"],
    "world": { "children": [
      { "name": "first", "texture": { "id": 1 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [
          { "type": "line", "material": 3, "verts": [0, 1] },
          { "material": 4, "verts": [0, 1] },
          { "material": 2, "verts": [0, 1, 2] },
          { "material": 1, "verts": [0, 1, 2] } ] },
      { "name": "second", "texture": { "id": 1 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 4, "verts": [0, 1, 2] } ] } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.tex, (V{-1, 0}));
  EXPECT_EQ(r.tex_material, (V{-1, 2}));
  EXPECT_EQ(r.mat, (V{-1, -1, -1, -1, -1}));
}

TEST(Pass1Maps, NumbersAreDenseInDepthFirstOrderAndTraced) {
  // a (with child b) before c; surfaces in list order; repeats get nothing.
  qel_test::load_scene(R"({
    "palette": [{}, {}, {}, {}],
    "textures": ["t0.png", "t1.png"],
    "world": { "children": [
      { "name": "a", "vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0]],
        "surfaces": [
          { "material": 2, "verts": [0, 1, 2, 3] },
          { "material": 0, "verts": [0, 1, 2] },
          { "material": 2, "verts": [1, 2, 3] } ],
        "children": [
          { "name": "b", "texture": { "id": 1 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
            "surfaces": [ { "material": 3, "verts": [0, 1, 2] } ] } ] },
      { "name": "c", "texture": { "id": 0 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ] },
      { "name": "d", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ] } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.mat, (V{1, 2, 0, -1}));
  EXPECT_EQ(r.tex, (V{1, 0}));
  EXPECT_EQ(r.tex_material, (V{1, 3}));
  EXPECT_EQ(r.trace,
            "Objekt : 'world'\n"
            "Objekt : 'a'\n"
            "   Material : 2 - 0\n"
            "   Material : 0 - 1\n"
            "Objekt : 'b'\n"
            "   Texture  : 1 - 0  ( Material 3 )\n"
            "\n"
            "\n"
            "Objekt : 'c'\n"
            "   Texture  : 0 - 1  ( Material 1 )\n"
            "\n"
            "Objekt : 'd'\n"
            "   Material : 1 - 2\n"
            "\n"
            "\n");
}

TEST(Pass1Maps, HostTextsInTheTraceAreNeverFormats) {
  qel_test::load_scene(R"({ "world": { "name": "%s%n%d %%",
    "children": [ { "name": "" } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.trace, "Objekt : '%s%n%d %%'\nObjekt : ''\n\n\n");
}

TEST(Pass1Maps, SecondRunStartsTheNumbersAgain) {
  qel_test::load_scene(R"({
    "palette": [{}, {}],
    "textures": ["t.png"],
    "world": { "children": [
      { "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ] },
      { "texture": { "id": 0 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 0, "verts": [0, 1, 2] } ] } ] } })");
  Pass1 first = run_pass1(qel::kDefaultOptions);
  Pass1 second = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(first.mat, (V{-1, 0}));
  EXPECT_EQ(second.mat, first.mat);
  EXPECT_EQ(second.tex, (V{0}));
  EXPECT_EQ(second.corners, first.corners);
  EXPECT_EQ(second.trace, first.trace);
}

// ---- the totals ------------------------------------------------------------

const char kShapes[] = R"({
  "world": { "children": [ { "name": "shapes",
    "vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0], [0.5,2,0]],
    "surfaces": [ %SURFACES% ] } ] } })";

std::string shapes(const std::string &surfaces) {
  std::string scene = kShapes;
  scene.replace(scene.find("%SURFACES%"), 10, surfaces);
  return scene;
}

TEST(Pass1Totals, TriangulationCountsThreeCornersPerTriangle) {
  qel_test::load_scene(shapes(R"({ "verts": [0, 1, 2, 3] })"));
  EXPECT_EQ(run_pass1(only({})).corners, 4);
  EXPECT_EQ(run_pass1(only({{9, '1'}})).corners, 6);

  qel_test::load_scene(shapes(R"({ "verts": [0, 1, 2] })"));
  EXPECT_EQ(run_pass1(only({{9, '1'}})).corners, 3);

  qel_test::load_scene(shapes(R"({ "verts": [0, 1, 2, 4, 3] })"));
  EXPECT_EQ(run_pass1(only({})).corners, 5);
  EXPECT_EQ(run_pass1(only({{9, '1'}})).corners, 9);
}

TEST(Pass1Totals, TwoSidedSurfacesCountTwiceWithOption22) {
  qel_test::load_scene(shapes(R"({ "twosided": true, "verts": [0, 1, 2, 3] })"));
  EXPECT_EQ(run_pass1(only({{9, '1'}, {22, '1'}})).corners, 12);
  EXPECT_EQ(run_pass1(only({{22, '1'}})).corners, 8);
  EXPECT_EQ(run_pass1(only({{9, '1'}})).corners, 6);

  qel_test::load_scene(shapes(R"({ "verts": [0, 1, 2, 3] })"));
  EXPECT_EQ(run_pass1(only({{9, '1'}, {22, '1'}})).corners, 6);
}

TEST(Pass1Totals, HostTotalsOfPolygonObjectsOnly) {
  qel_test::load_scene(R"({ "world": { "children": [
    { "name": "p", "vertices": [[0,0,0], [1,0,0], [0,1,0], [5,5,5]],
      "surfaces": [ { "verts": [0, 1, 2] }, { "type": "line", "verts": [2, 3] } ],
      "children": [ { "name": "q", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "twosided": true, "verts": [0, 1, 2] } ] } ] },
    { "name": "g", "children": [ { "name": "l", "type": "light" } ] } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_EQ(r.surfaces, 3);
  EXPECT_EQ(r.vertices, 7);
  EXPECT_EQ(r.corners, 3 + 6);  // q is two-sided and opt_two_sided is set
}

TEST(Pass1Totals, TheHeaderCarriesTheCornerTotal) {
  qel_test::load_scene(shapes(R"({ "twosided": true, "verts": [0, 1, 2, 3] },
                                  { "verts": [0, 1, 4] })"));
  // opt_optimize_vertices clear: the placeholder keeps what the header wrote.
  std::string text =
      qel_test::export_text(options_with(qel::kDefaultOptions, {{1, '1'}, {9, '1'}, {23, '0'}}));
  EXPECT_NE(text.find("// Total number of vertices : 15      \n"
                      "// Number of vertices used by surfaces : 15\n"),
            std::string::npos);
  EXPECT_NE(qel_test::last_debug().find("*** Gesamtanzahl der Surfaces : 2 ***\n"
                                        "*** Gesamtanzahl der Vertices : 5 ***\n\n"
                                        "*** Gesamtanzahl der Surface-Vertices : 15 ***\n\n"),
            std::string::npos);
}

// ---- subdivision -------------------------------------------------------------

TEST(Pass1Subdivision, Option28TakesTheSubdividedForm) {
  qel_test::load_scene(R"({
    "palette": [{}, {}, {}],
    "textures": ["t.png"],
    "world": { "children": [
      { "name": "coarse", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ],
        "children": [ { "name": "kid" } ],
        "subdivided": { "name": "fine", "texture": { "id": 0 },
          "vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0]],
          "surfaces": [ { "material": 2, "verts": [0, 1, 2, 3] },
                        { "material": 1, "verts": [0, 1, 2] } ],
          "children": [ { "name": "fine kid" } ] } } ] } })");
  Pass1 fine = run_pass1(only({{28, '1'}}));
  EXPECT_EQ(fine.mat, (V{-1, -1, -1}));
  EXPECT_EQ(fine.tex, (V{0}));
  EXPECT_EQ(fine.tex_material, (V{2}));
  EXPECT_EQ(fine.surfaces, 2);
  EXPECT_EQ(fine.vertices, 4);
  EXPECT_EQ(fine.corners, 7);
  // The walk goes on below the object itself, whose children the frame
  // writer writes.
  EXPECT_EQ(fine.trace,
            "Objekt : 'world'\nObjekt : 'fine'\n   Texture  : 0 - 0  ( Material 2 )\n"
            "Objekt : 'kid'\n\n\n\n");

  Pass1 coarse = run_pass1(only({}));
  EXPECT_EQ(coarse.mat, (V{-1, 0, -1}));
  EXPECT_EQ(coarse.tex, (V{-1}));
  EXPECT_EQ(coarse.corners, 3);
  EXPECT_EQ(coarse.trace,
            "Objekt : 'world'\nObjekt : 'coarse'\n   Material : 1 - 0\n"
            "Objekt : 'kid'\n\n\n\n");
}

TEST(Pass1Subdivision, EveryWrittenChildGetsItsTemplate) {
  // A subdivided object whose form lists no children: its own child is
  // written by the frame writer, so its material needs a template.
  qel_test::load_scene(R"({
    "palette": [{}, {"diffuse": [1, 0, 0]}],
    "world": { "children": [
      { "name": "P", "vertices": [[0,0,0], [1,0,0], [0,1,0]], "surfaces": [ { "verts": [0, 1, 2] } ],
        "subdivided": { "vertices": [[0,0,0], [1,0,0], [0,1,0]], "surfaces": [ { "verts": [0, 1, 2] } ] },
        "children": [ { "name": "C", "vertices": [[0,0,1], [1,0,1], [0,1,1]],
                        "surfaces": [ { "verts": [0, 1, 2], "material": 1 } ] } ] } ] } })");
  Pass1 run = run_pass1(only({{28, '1'}}));
  EXPECT_EQ(run.mat, (V{0, 1}));
  std::string text = qel_test::export_text(qel_test::options_with("", {{6, '1'}, {28, '1'}}));
  EXPECT_NE(text.find("Material Mat_1 {"), std::string::npos);
  EXPECT_NE(text.find("{Mat_1}"), std::string::npos);
}

// ---- the maps trace of the save command ------------------------------------

// The part of the trace from the mat_list address line to the totals, with
// the two addresses taken out (they differ from run to run).
std::string maps_trace(const std::string &debug) {
  std::size_t begin = debug.find("Adresse 'mat_list' = ");
  std::size_t end = debug.find("*** Gesamtanzahl");
  if (begin == std::string::npos || end == std::string::npos) return "(no maps trace)";
  std::string text = debug.substr(begin, end - begin);
  for (const char *label : {"Adresse 'mat_list' = ", "Adresse 'tex_list' = "}) {
    std::size_t at = text.find(label);
    if (at == std::string::npos) return "(no " + std::string(label) + ")";
    at += std::string(label).size();
    std::size_t line_end = text.find('\n', at);
    std::string address = text.substr(at, line_end - at);
    // A created map has an address.
    EXPECT_NE(address, "(nil)");
    EXPECT_NE(address, "0");
    text.replace(at, line_end - at, "ADDR");
  }
  return text;
}

TEST(Pass1Trace, SaveCommandTracesTheWalkAndTheMaps) {
  qel_test::load_scene(R"({
    "palette": [{}, {}, {}],
    "textures": ["t0.png", "t1.png"],
    "world": { "children": [
      { "name": "p", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 2, "verts": [0, 1, 2] } ] },
      { "name": "t", "texture": { "id": 1 }, "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 0, "verts": [0, 1, 2] } ] } ] } })");
  qel_test::export_text(qel::kDefaultOptions);
  const std::string &debug = qel_test::last_debug();
  EXPECT_NE(debug.find("\nList of Materials/Textures ...\n"
                       "Objekt : 'world'\n"
                       "Objekt : 'p'\n   Material : 2 - 0\n\n"
                       "Objekt : 't'\n   Texture  : 1 - 0  ( Material 0 )\n\n"
                       "\n"
                       "Adresse 'mat_list' = "),
            std::string::npos);
  EXPECT_EQ(maps_trace(debug),
            "Adresse 'mat_list' = ADDR\n\n"
            "Material 0 = -1\nMaterial 1 = -1\nMaterial 2 = 0\n"
            "\n\nAdresse 'tex_list' = ADDR\n\n"
            "Texture 0 = -1  ( Material -1 )\nTexture 1 = 0  ( Material 0 )\n"
            "\n\n");
}

TEST(Pass1Trace, EmptyPaletteAndNoTexturesGiveOnlyTheHeadings) {
  qel_test::load_scene(R"({ "palette": [], "world": { "children": [ { "name": "g" } ] } })");
  Pass1 r = run_pass1(qel::kDefaultOptions);
  EXPECT_TRUE(r.maps_made);
  EXPECT_TRUE(r.mat.empty());
  EXPECT_TRUE(r.tex.empty());

  std::string text = qel_test::export_text(qel::kDefaultOptions);
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
  EXPECT_EQ(maps_trace(qel_test::last_debug()),
            "Adresse 'mat_list' = ADDR\n\n\n\nAdresse 'tex_list' = ADDR\n\n\n\n");
  EXPECT_EQ(text.find("Material "), std::string::npos);
}

// ---- no memory for the maps ----------------------------------------------------

class Pass1OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    qel_test::load_scene(R"({
      "palette": [{}, {}],
      "textures": ["t.png"],
      "world": { "children": [ { "name": "p", "vertices": [[0,0,0], [1,0,0], [0,1,0]],
        "surfaces": [ { "material": 1, "verts": [0, 1, 2] } ] } ] } })");
    before_ = molv::live_allocations();
  }
  void TearDown() override { molv::set_fail_alloc_after(-1); }
  long before_ = 0;
};

TEST_F(Pass1OutOfMemory, NoMaterialMapEndsTheRunAsFailed) {
  molv::set_fail_alloc_after(0);
  Pass1 r = run_pass1(qel::kDefaultOptions);
  molv::set_fail_alloc_after(-1);
  EXPECT_EQ(r.status, qel::RunStatus::failed);
  EXPECT_EQ(r.failure, "Out of memory !");
  EXPECT_FALSE(r.maps_made);
  EXPECT_EQ(r.corners, 0);
  EXPECT_EQ(r.trace, "");  // the walk stops before the first object
  EXPECT_EQ(molv::live_allocations(), before_);
}

TEST_F(Pass1OutOfMemory, NoTextureMapGivesTheMaterialMapBack) {
  molv::set_fail_alloc_after(1);
  Pass1 r = run_pass1(qel::kDefaultOptions);
  molv::set_fail_alloc_after(-1);
  EXPECT_EQ(r.status, qel::RunStatus::failed);
  EXPECT_EQ(r.failure, "Out of memory !");
  EXPECT_TRUE(r.mat.empty());
  EXPECT_TRUE(r.tex.empty());
  EXPECT_EQ(molv::live_allocations(), before_);
}

TEST_F(Pass1OutOfMemory, FailedRunWritesNothingBehindTheTrace) {
  molv::set_fail_alloc_after(0);
  std::string text = qel_test::export_text(qel::kDefaultOptions);
  molv::set_fail_alloc_after(-1);
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::failed);
  // Not even the header: the run ends after the trace of pass 1.
  EXPECT_EQ(text, "");
  EXPECT_EQ(qel_test::last_debug().find("File-Header"), std::string::npos);
  EXPECT_EQ(molv::live_allocations(), before_);
}

}  // namespace
