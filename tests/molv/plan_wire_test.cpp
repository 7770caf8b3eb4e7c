/*
 * The plan of a model as the reader's child hands it back: whole and as
 * it was, or refused; never half taken, never read past its end.
 */
#include "import/plan_wire.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A world with one textured triangle and its model's normals, a palette of
// one material and an embedded image.
molv::ModelPlan small_plan() {
  molv::ModelPlan plan;
  auto material = molv::make_default_material();
  material->name = "skin";
  material->diffuse[1] = 0.25f;
  plan.model->palette.push_back(std::move(material));
  plan.model->textures = {"*0"};
  plan.model->embedded_images.push_back({0, 0, "*0", "png", "", std::string("\x89PNG\0x", 6)});
  plan.objects.resize(2);
  plan.objects[0].type = MO_OBJ_WORLD;
  plan.objects[0].name = "world";
  plan.objects[0].children = {1};
  molv::Planned &tri = plan.objects[1];
  tri.type = MO_OBJ_POLYGON;
  tri.name = "tri";
  tri.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  tri.surfaces.add_surface(MO_SURF_POLYGON, 1, 0, 0);
  for (int k = 0; k < 3; ++k) {
    const float half = 0.5f * static_cast<float>(k);
    tri.surfaces.add_corner(k, half, 1.0f - half);
  }
  tri.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
  tri.texture_id = 0;
  tri.subtree.add(&tri.positions[3]);
  plan.notes.lights = 2;
  plan.notes.empty_groups = {"empty"};
  plan.notes.file.faces = 1;
  return plan;
}

std::string bytes_of(const molv::ModelPlan &plan) {
  const int fd = ::memfd_create("plan", 0);
  EXPECT_GE(fd, 0);
  molv::WireOut out(fd);
  EXPECT_TRUE(molv::send_plan(out, plan));
  std::string bytes(static_cast<size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  EXPECT_EQ(::pread(fd, &bytes[0], bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  return bytes;
}

bool take(const std::string &bytes, molv::ModelPlan *plan) {
  molv::WireIn in(bytes.data(), bytes.size());
  return molv::take_plan(in, plan);
}

TEST(PlanWire, APlanComesBackAsItWasOrNotAtAll) {
  const std::string bytes = bytes_of(small_plan());
  molv::ModelPlan back;
  ASSERT_TRUE(take(bytes, &back));
  EXPECT_EQ(back.model->palette.at(0)->name, "skin");
  EXPECT_EQ(back.model->palette.at(0)->diffuse[1], 0.25f);
  EXPECT_EQ(back.model->embedded_images.at(0).bytes, std::string("\x89PNG\0x", 6));
  EXPECT_EQ(back.notes.lights, 2u);
  EXPECT_EQ(back.notes.empty_groups, std::vector<std::string>{"empty"});
  EXPECT_EQ(back.notes.file.faces, 1u);
  ASSERT_EQ(back.objects.size(), 2u);
  EXPECT_EQ(back.objects[0].children, std::vector<size_t>{1});
  const molv::Planned &tri = back.objects[1];
  EXPECT_EQ(tri.name, "tri");
  // The arrays are read where the bytes hold them.
  const molv::SurfaceView surfaces = tri.surface_values();
  EXPECT_EQ(std::vector<int32_t>(surfaces.vertex_indices.begin(), surfaces.vertex_indices.end()),
            (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(std::vector<float>(surfaces.uvs.begin(), surfaces.uvs.end()),
            (std::vector<float>{0, 1, 0.5f, 0.5f, 1, 0}));
  EXPECT_GE(reinterpret_cast<const char *>(surfaces.uvs.data), bytes.data());
  EXPECT_EQ(tri.normal_values().size(), 9u);
  EXPECT_EQ(tri.subtree.high[0], 1.0f);
  EXPECT_EQ(bytes_of(back), bytes);

  // Bytes whose arrays would not be aligned where they lie are refused,
  // not read through a misaligned pointer.
  std::string shifted(bytes.size() + 1, '\0');
  std::memcpy(&shifted[1], bytes.data(), bytes.size());
  molv::ModelPlan misplaced;
  molv::WireIn at_odd_address(shifted.data() + 1, bytes.size());
  EXPECT_FALSE(molv::take_plan(at_odd_address, &misplaced));

  // Cut short anywhere: refused (and, under the sanitizers, never read
  // past the end).
  for (size_t size = 0; size < bytes.size(); ++size) {
    molv::ModelPlan cut;
    EXPECT_FALSE(take(bytes.substr(0, size), &cut)) << size;
  }
  // Whole but not holding together: refused.
  const auto broken = [](void (*change)(molv::ModelPlan &)) {
    molv::ModelPlan plan = small_plan();
    change(plan);
    molv::ModelPlan back;
    return take(bytes_of(plan), &back);
  };
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[1].children = {0}; }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[1].children = {1}; }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[0].children = {2}; }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[1].positions.resize(6); }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[1].normals.resize(6); }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.objects[1].texture_id = 1; }));
  EXPECT_FALSE(broken([](molv::ModelPlan &p) { p.model->embedded_images[0].slot = 1; }));
}

}  // namespace
