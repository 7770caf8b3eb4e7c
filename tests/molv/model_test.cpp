/*
 * The model queries a plug-in makes, their answers for bad arguments, and
 * the built-in sample scene.
 */
#include "api/host_memory.h"
#include "api/model.h"
#include "import/scene_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>


namespace {

struct Contents {
  int vertex_count = -1;
  int surface_count = -1;
  int child_count = -1;
  mo_list vertices = nullptr;
  mo_list surfaces = nullptr;
  mo_list children = nullptr;
};

Contents contents_of(mo_object *object) {
  Contents c;
  mo_object_get_contents(object, &c.vertex_count, &c.surface_count, &c.child_count, &c.vertices,
                         &c.surfaces, &c.children);
  return c;
}

mo_object *child(mo_object *object, int index) {
  return static_cast<mo_object *>(list_get_item(contents_of(object).children, index));
}

mo_surface *surface(mo_object *object, int index) {
  return static_cast<mo_surface *>(list_get_item(contents_of(object).surfaces, index));
}

void load(const std::string &text) {
  std::string error;
  ASSERT_TRUE(molv::load_scene_text(text, "m.json", &error)) << error;
}

TEST(ModelQueries, ContentsOfAnObject) {
  load(R"({"world": {"children": [{"name": "box", "data": "d",
    "vertices": [[0,0,0], [1,0,0], [0,1,0]],
    "surfaces": [{"verts": [0, 1, 2]}, {"type": "line", "verts": [2, 0]}],
    "children": [{"name": "a"}, {"name": "b", "type": "light"}]}]}})");
  mo_object *box = child(mo_get_world(), 0);
  const Contents c = contents_of(box);
  EXPECT_EQ(c.vertex_count, 3);
  EXPECT_EQ(c.surface_count, 2);
  EXPECT_EQ(c.child_count, 2);
  EXPECT_EQ(list_count(c.vertices), 3);
  EXPECT_EQ(static_cast<mo_vertex *>(list_get_item(c.vertices, 1))->x, 1.0f);
  EXPECT_STREQ(mo_object_get_name(static_cast<mo_object *>(list_get_item(c.children, 1))), "b");
  EXPECT_EQ(surface_get_svertex_at(surface(box, 0), 2)->vertex, list_get_item(c.vertices, 2));
  // Each out-parameter may be left out.
  int surfaces = 0;
  mo_object_get_contents(box, nullptr, &surfaces, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(surfaces, 2);
  EXPECT_STREQ(mo_object_get_data(box), "d");
}

TEST(ModelQueries, PaletteAndTextures) {
  load(R"({"palette": [{"name": "m", "diffuse": [0.5, 0.25, 1], "ambient": [0, 0.5, 0],
                        "specular": [1, 1, 0], "emissive": [0, 0, 0.125],
                        "shininess": 12.5, "transparency": 0.75}],
          "textures": ["a\\b.png", "c.png"], "world": {}})");
  ASSERT_EQ(mo_get_num_palette(), 1);
  mo_material *m = mo_palette_get_material(0);
  ASSERT_NE(m, nullptr);
  float rgb[3];
  mo_entity_get_rgb_value(m, "diffuse", rgb);
  EXPECT_EQ(rgb[0], 0.5f);
  EXPECT_EQ(rgb[1], 0.25f);
  EXPECT_EQ(rgb[2], 1.0f);
  mo_entity_get_rgb_value(m, "ambient", rgb);
  EXPECT_EQ(rgb[1], 0.5f);
  mo_entity_get_rgb_value(m, "specular", rgb);
  EXPECT_EQ(rgb[2], 0.0f);
  EXPECT_EQ(rgb[0], 1.0f);
  mo_entity_get_rgb_value(m, "emissive", rgb);
  EXPECT_EQ(rgb[2], 0.125f);
  float value = -1.0f;
  mo_entity_get_float_value(m, "shininess", &value);
  EXPECT_EQ(value, 12.5f);
  mo_entity_get_float_value(m, "transparency", &value);
  EXPECT_EQ(value, 0.75f);

  // Names the host does not know, and missing materials, give zeros.
  mo_entity_get_rgb_value(m, "colour", rgb);
  EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0.0f);
  mo_entity_get_float_value(m, "diffuse", &value);
  EXPECT_EQ(value, 0.0f);
  mo_entity_get_rgb_value(nullptr, "diffuse", rgb);
  EXPECT_EQ(rgb[0], 0.0f);
  mo_entity_get_rgb_value(m, nullptr, rgb);
  mo_entity_get_rgb_value(m, "diffuse", nullptr);
  mo_entity_get_float_value(m, "shininess", nullptr);
  EXPECT_EQ(mo_palette_get_material(1), nullptr);
  EXPECT_EQ(mo_palette_get_material(-1), nullptr);

  EXPECT_EQ(mo_get_num_textures(), 2);
  EXPECT_STREQ(texture_id_to_name(0), "a\\b.png");
  EXPECT_EQ(texture_id_to_name(2), nullptr);
  EXPECT_EQ(texture_id_to_name(-1), nullptr);
}

TEST(ModelQueries, NullObjectsAndSurfacesGetNeutralAnswers) {
  EXPECT_EQ(mo_object_get_type(nullptr), -1);
  EXPECT_STREQ(mo_object_get_name(nullptr), "");
  EXPECT_EQ(mo_object_get_data(nullptr), nullptr);
  float *centre = mo_object_get_centre(nullptr);
  centre[0] = 7.0f;  // a caller that writes must not change the next answer
  EXPECT_EQ(mo_object_get_centre(nullptr)[0], 0.0f);
  const Contents c = contents_of(nullptr);
  EXPECT_EQ(c.vertex_count + c.surface_count + c.child_count, 0);
  EXPECT_EQ(c.vertices, nullptr);
  EXPECT_EQ(mo_object_has_texture(nullptr), 0);
  EXPECT_EQ(mo_object_get_texture_index(nullptr), -1);
  EXPECT_EQ(mo_object_get_texture_repeat_x(nullptr), 1.0f);
  EXPECT_EQ(mo_object_get_texture_offset_y(nullptr), 0.0f);
  EXPECT_EQ(mo_object_is_subdivided(nullptr), 0);
  EXPECT_EQ(mo_object_get_subdivision(nullptr), nullptr);
  object_calc_normals_force(nullptr);
  EXPECT_EQ(surface_get_type(nullptr), -1);
  EXPECT_EQ(surface_get_svertex_at(nullptr, 0), nullptr);
}

TEST(ModelQueries, SurfaceVertexAtAnyIndexOfALongSurface) {
  std::string vertices;
  std::string verts;
  for (int i = 0; i < 1000; ++i) {
    vertices += (i ? ",[" : "[") + std::to_string(i) + ",0,0]";
    verts += (i ? "," : "") + std::to_string(i);
  }
  load(R"({"world": {"vertices": [)" + vertices + R"(], "surfaces": [{"verts": [)" + verts +
       "]}]}}");
  mo_surface *s = surface(mo_get_world(), 0);
  // The order a mesh writer asks in: last to first.
  for (int k = 999; k >= 0; --k) ASSERT_EQ(surface_get_svertex_at(s, k)->vertex->x, k);
  EXPECT_EQ(surface_get_svertex_at(s, 1000), nullptr);
  EXPECT_EQ(surface_get_svertex_at(s, -1), nullptr);

  const long start = molv::live_allocations();
  mo_surface *copy = surface_clone(s, mo_get_world());
  list_reverse(&copy->svertices);
  for (int k = 0; k < 1000; k += 37) {
    EXPECT_EQ(surface_get_svertex_at(copy, k)->vertex->x, 999 - k);
    EXPECT_EQ(surface_get_svertex_at(s, k)->vertex->x, k);
  }
  mo_list list = nullptr;
  list_add_item(&list, copy);
  mo_surfacelist_free(list);
  EXPECT_EQ(molv::live_allocations(), start);
}

TEST(ModelQueries, ClearModelLeavesAnEmptyWorld) {
  load(R"({"host": {"version": 5, "info": "i"}, "palette": [{}, {}], "textures": ["t"],
          "world": {"name": "w", "vertices": [[1,1,1]], "children": [{}]}})");
  molv::clear_model();
  mo_object *world = mo_get_world();
  EXPECT_EQ(mo_object_get_type(world), MO_OBJ_WORLD);
  EXPECT_STREQ(mo_object_get_name(world), "world");
  const Contents c = contents_of(world);
  EXPECT_EQ(c.vertex_count + c.surface_count + c.child_count, 0);
  EXPECT_EQ(mo_get_num_palette(), 1);
  EXPECT_EQ(mo_get_num_textures(), 0);
  EXPECT_EQ(molv::host_version(), 6.0);
  EXPECT_EQ(molv::host_info_text(), "Objects : 0\nVertices : 0\nSurfaces : 0\n");
}

// ---- the sample scene --------------------------------------------------------------

// The sample must keep giving every block of the file under the default
// options something to write; each check names what it stands for.
TEST(SampleScene, LoadsAndCoversEveryBlock) {
  load(molv::sample_scene_json());
  EXPECT_EQ(molv::host_info_text(), "Objects : 8\nVertices : 31\nSurfaces : 19\n");

  mo_object *world = mo_get_world();
  ASSERT_NE(mo_object_get_data(world), nullptr) << "a data text on the world";
  mo_object *props = child(world, 0);
  EXPECT_EQ(mo_object_get_type(props), MO_OBJ_GROUP);
  EXPECT_NE(mo_object_get_data(props), nullptr);

  // The textured crate: a texture path with a folder, repeat and offset,
  // corners with their own u and v, corners shared by three faces.
  mo_object *crate = child(props, 0);
  ASSERT_EQ(mo_object_has_texture(crate), 1);
  const std::string texture = texture_id_to_name(mo_object_get_texture_index(crate));
  EXPECT_NE(texture.find('/'), std::string::npos);
  EXPECT_NE(mo_object_get_texture_repeat_x(crate), 1.0f);
  EXPECT_NE(mo_object_get_texture_offset_x(crate), 0.0f);
  EXPECT_NE(surface_get_svertex_at(surface(crate, 0), 2)->u, 0.0f);
  int uses_of_vertex_0 = 0;
  const Contents crate_contents = contents_of(crate);
  for (int s = 0; s < crate_contents.surface_count; ++s) {
    mo_surface *face = surface(crate, s);
    for (int k = 0; k < face->vertex_count; ++k) {
      uses_of_vertex_0 +=
          surface_get_svertex_at(face, k)->vertex == list_get_item(crate_contents.vertices, 0);
    }
  }
  EXPECT_EQ(uses_of_vertex_0, 3);

  // The untextured pyramid: a name beginning with a digit, flat and
  // smooth surfaces, several materials, a child (the two-sided sign).
  mo_object *pyramid = child(props, 1);
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(mo_object_get_name(pyramid)[0])));
  EXPECT_EQ(mo_object_has_texture(pyramid), 0);
  std::set<int> shadings;
  std::set<int> materials;
  for (int s = 0; s < contents_of(pyramid).surface_count; ++s) {
    shadings.insert(surface_get_shading(surface(pyramid, s)));
    materials.insert(surface(pyramid, s)->material);
  }
  EXPECT_EQ(shadings, (std::set<int>{0, 1}));
  EXPECT_GE(materials.size(), 2u);
  mo_object *sign = child(pyramid, 0);
  EXPECT_EQ(surface_get_twosided(surface(sign, 0)), 1);
  EXPECT_EQ(mo_object_get_type(pyramid), MO_OBJ_POLYGON);

  // The subdivided rock.
  mo_object *rock = child(props, 2);
  ASSERT_EQ(mo_object_is_subdivided(rock), 1);
  EXPECT_GT(contents_of(mo_object_get_subdivision(rock)).surface_count,
            contents_of(rock).surface_count);

  // Lines only, both kinds.
  mo_object *path = child(world, 1);
  EXPECT_EQ(surface_get_type(surface(path, 0)), MO_SURF_LINE);
  EXPECT_EQ(surface_get_type(surface(path, 1)), MO_SURF_CLOSED_LINE);

  // A light with a data text.
  mo_object *sun = child(world, 2);
  EXPECT_EQ(mo_object_get_type(sun), MO_OBJ_LIGHT);
  EXPECT_NE(mo_object_get_data(sun), nullptr);

  // The floor is concave: its triangles are not the fan.
  mo_object *floor = child(world, 3);
  mo_list triangles = surface_get_triangulations(surface(floor, 0));
  ASSERT_EQ(list_count(triangles), 4);
  mo_surface *last = static_cast<mo_surface *>(list_get_item(triangles, 3));
  mo_surface *source = surface(floor, 0);
  bool fan = true;
  for (int t = 0; t < 4; ++t) {
    mo_surface *piece = static_cast<mo_surface *>(list_get_item(triangles, t));
    fan = fan &&
          surface_get_svertex_at(piece, 0)->vertex == surface_get_svertex_at(source, 0)->vertex &&
          surface_get_svertex_at(piece, 1)->vertex == surface_get_svertex_at(source, t + 1)->vertex;
  }
  EXPECT_FALSE(fan);
  EXPECT_NE(last, nullptr);
  mo_surfacelist_free(triangles);

  // The palette: materials 0 to 2 reach meshes without a texture, 3 only
  // the textured crate.
  EXPECT_EQ(mo_get_num_palette(), 4);
  EXPECT_EQ(surface(crate, 0)->material, 3);
}

}  // namespace
