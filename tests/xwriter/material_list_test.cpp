/*
 * The mesh material list: local numbers in the order of first use over
 * surfaces of any type, the face numbers and their ";;", the references of
 * untextured and textured objects (the opt_texture_material suffix),
 * palette indices and texture ids out of range, and a failed allocation.
 */
#include "xwriter/material_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "export/pass1.h"
#include "api/host_memory.h"
#include "api/model.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel_test::first_object;

class MeshMaterialListTest : public ::testing::Test {
 protected:
  // Loads the scene, takes the options, runs pass 1 (for tex_material) and
  // copies the first object's surfaces, as the mesh writer would list them.
  void prepare(const std::string &scene, std::initializer_list<std::pair<int, char>> options) {
    qel_test::load_scene(scene);
    run_ = std::make_unique<qel_test::StringRun>(qel_test::options_with("", options));
    qel::collect_materials(run_->run, mo_get_world());
    molv::clear_recording();
    object_ = first_object();
    int vc = 0, sc = 0, kc = 0;
    mo_list v = nullptr, s = nullptr, k = nullptr;
    mo_object_get_contents(object_, &vc, &sc, &kc, &v, &s, &k);
    for (mo_list_node *node = s; node != nullptr; node = node->next) {
      mo_surface *copy = surface_clone(static_cast<mo_surface *>(node->item), object_);
      list_add_item(&copies_, copy);
      surfaces_.push_back(copy);
    }
  }

  // The block as written, with the debug output of the call in debug_.
  std::string write(bool *ok = nullptr) {
    run_->text();
    run_->sink.clear();
    molv::clear_recording();
    // The surfaces as the mesh writer reads them into its array.
    std::vector<qel::MeshSurface> surfaces;
    for (mo_surface *copy : surfaces_) {
      surfaces.push_back(qel::MeshSurface{copy, copy->vertex_count, copy->material,
                                          surface_get_type(copy) == MO_SURF_POLYGON, false});
    }
    const bool written = qel::write_mesh_material_list(run_->run, object_, surfaces.data(),
                                                       static_cast<int32_t>(surfaces.size()));
    const std::string text = run_->text();
    debug_ = molv::recording().debug;
    if (ok != nullptr) *ok = written;
    return text;
  }

  void TearDown() override {
    if (copies_ != nullptr) mo_surfacelist_free(copies_);
    run_.reset();
    molv::set_fail_alloc_after(-1);
  }

  std::unique_ptr<qel_test::StringRun> run_;
  mo_object *object_ = nullptr;
  mo_list copies_ = nullptr;
  std::vector<mo_surface *> surfaces_;
  std::string debug_;
};

const char kEightMaterials[] = R"("palette": [{}, {}, {}, {}, {}, {}, {}, {}])";

TEST_F(MeshMaterialListTest, LocalNumbersFollowFirstUse) {
  prepare(std::string("{") + kEightMaterials + R"(, "world": {"children": [{"name": "m",
    "vertices": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
    "surfaces": [{"verts": [0,1,2], "material": 7}, {"verts": [1,3,2], "material": 2},
                 {"verts": [0,1,3], "material": 7}]}]}})",
          {{qel::opt_materials, '1'}});
  EXPECT_EQ(write(),
            "\nMeshMaterialList {\n2;\n3;\n"
            "0,\n1,\n0;;\n"
            "{Mat_7}\n{Mat_2}\n"
            "}\n");
  EXPECT_EQ(debug_, "   Material : 7 - 0\n   Material : 2 - 1\n");
}

TEST_F(MeshMaterialListTest, SurfacesOfEveryTypeTakeNumbersButOnlyPolygonsAreFaces) {
  prepare(std::string("{") + kEightMaterials + R"(, "world": {"children": [{"name": "m",
    "vertices": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
    "surfaces": [{"verts": [0,1], "type": "line", "material": 5},
                 {"verts": [0,1,2], "material": 3},
                 {"verts": [1,3,2], "material": 5},
                 {"verts": [2,3], "type": "closed_line", "material": 6}]}]}})",
          {{qel::opt_materials, '1'}});
  // The closing ";;" follows the last face, not the last surface.
  EXPECT_EQ(write(), "\nMeshMaterialList {\n3;\n2;\n1,\n0;;\n{Mat_5}\n{Mat_3}\n{Mat_6}\n}\n");
  EXPECT_EQ(debug_, "   Material : 5 - 0\n   Material : 3 - 1\n   Material : 6 - 2\n");
}

TEST_F(MeshMaterialListTest, APaletteIndexBeyondThePaletteCountsAsZero) {
  prepare(R"({"palette": [{}, {}, {}], "world": {"children": [{"name": "m",
    "vertices": [[0,0,0],[1,0,0],[0,1,0]],
    "surfaces": [{"verts": [0,1,2], "material": 2}, {"verts": [0,1,2], "material": 1},
                 {"verts": [0,1,2], "material": 0}]}]}})",
          {{qel::opt_materials, '1'}});
  surfaces_[1]->material = 300;  // no such palette entry: stands for 0
  EXPECT_EQ(write(), "\nMeshMaterialList {\n2;\n3;\n0,\n1,\n1;;\n{Mat_2}\n{Mat_0}\n}\n");
  EXPECT_EQ(debug_, "   Material : 2 - 0\n   Material : 0 - 1\n");
}

TEST_F(MeshMaterialListTest, NoSurfacesWritesTheCountsAndTheBraceOnly) {
  prepare(R"({"world": {"children": [{"name": "m", "vertices": [[0,0,0]]}]}})",
          {{qel::opt_materials, '1'}});
  EXPECT_EQ(write(), "\nMeshMaterialList {\n0;\n0;\n}\n");
  EXPECT_EQ(debug_, "");
}

// ---- textured objects ----------------------------------------------------------

const char kTexturedQuads[] = R"({"palette": [{}, {}, {}, {}], "textures": ["a.png", "b.png"],
  "world": {"children": [{"name": "m", "texture": {"id": 1},
    "vertices": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
    "surfaces": [{"verts": [0,1,2], "material": 3}, {"verts": [1,3,2], "material": 2},
                 {"verts": [0,1,3], "material": 3}, {"verts": [0,3,2], "material": 1}]}]}})";

TEST_F(MeshMaterialListTest, ATexturedObjectUsesOneMaterialItsTexture) {
  prepare(kTexturedQuads, {{qel::opt_materials, '1'}});
  EXPECT_EQ(write(), "\nMeshMaterialList {\n1;\n4;\n0,\n0,\n0,\n0;;\n{Tex_1}\n}\n");
  // The local numbers are still given out and traced.
  EXPECT_EQ(debug_, "   Material : 3 - 0\n   Material : 2 - 1\n   Material : 1 - 2\n");
}

TEST_F(MeshMaterialListTest, TextureMaterialOptionNamesTheMaterialTheTextureWasFirstUsedWith) {
  prepare(kTexturedQuads, {{qel::opt_materials, '1'}, {qel::opt_texture_material, '1'}});
  EXPECT_EQ(write(), "\nMeshMaterialList {\n1;\n4;\n0,\n0,\n0,\n0;;\n{Tex_1_3}\n}\n");
}

TEST_F(MeshMaterialListTest, ATexturedObjectWithoutFacesStillRefersToItsTexture) {
  prepare(R"({"textures": ["a.png"], "world": {"children": [{"name": "m",
    "texture": {"id": 0}, "vertices": [[0,0,0]]}]}})",
          {{qel::opt_materials, '1'}});
  EXPECT_EQ(write(), "\nMeshMaterialList {\n1;\n0;\n{Tex_0}\n}\n");
}

TEST_F(MeshMaterialListTest, ATextureIdBeyondTheTextureTableMeansNoTexture) {
  prepare(kTexturedQuads, {{qel::opt_materials, '1'}});
  object_->texture_id = 9;  // the host has two textures
  EXPECT_EQ(qel::object_texture_id(object_), -1);
  EXPECT_EQ(write(),
            "\nMeshMaterialList {\n3;\n4;\n0,\n1,\n0,\n2;;\n{Mat_3}\n{Mat_2}\n{Mat_1}\n}\n");
  object_->texture_id = -1;
  EXPECT_EQ(qel::object_texture_id(object_), -1);
  object_->texture_id = 1;
  EXPECT_EQ(qel::object_texture_id(object_), 1);
}

// ---- memory ---------------------------------------------------------------------

TEST_F(MeshMaterialListTest, NoMemoryForTheMapEndsTheRunWithNothingWritten) {
  prepare(std::string("{") + kEightMaterials + R"(, "world": {"children": [{"name": "m",
    "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2], "material": 4}]}]}})",
          {{qel::opt_materials, '1'}});
  const long live = molv::live_allocations();
  molv::set_fail_alloc_after(0);
  bool ok = true;
  EXPECT_EQ(write(&ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(run_->run.status(), qel::RunStatus::failed);
  EXPECT_EQ(run_->run.failure(), "Out of memory !");
  EXPECT_EQ(molv::live_allocations(), live);

  molv::set_fail_alloc_after(-1);
  EXPECT_EQ(write(&ok), "\nMeshMaterialList {\n1;\n1;\n0;;\n{Mat_4}\n}\n");
  EXPECT_TRUE(ok);
  EXPECT_EQ(molv::live_allocations(), live);
}

}  // namespace
