/*
 * The scene loader: defaults, numbers, the centre rule, texts, and every
 * kind of error with its one line and path.
 */
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "api/model.h"
#include "import/scene_file.h"

namespace {

// Loads a scene text; fails the test with the loader's line when it is bad.
void load(const std::string &text) {
  std::string error;
  ASSERT_TRUE(molv::load_scene_text(text, "s.json", &error)) << error;
  EXPECT_EQ(error, "");
}

// The loader's error line for a bad scene text (empty when it loaded).
std::string error_of(const std::string &text) {
  std::string error;
  if (molv::load_scene_text(text, "s.json", &error)) return "";
  return error;
}

mo_object *child(mo_object *object, int index) {
  mo_list kids = nullptr;
  mo_object_get_contents(object, nullptr, nullptr, nullptr, nullptr, nullptr, &kids);
  return static_cast<mo_object *>(list_get_item(kids, index));
}

mo_surface *surface(mo_object *object, int index) {
  mo_list surfaces = nullptr;
  mo_object_get_contents(object, nullptr, nullptr, nullptr, nullptr, &surfaces, nullptr);
  return static_cast<mo_surface *>(list_get_item(surfaces, index));
}

mo_vertex *vertex(mo_object *object, int index) {
  mo_list vertices = nullptr;
  mo_object_get_contents(object, nullptr, nullptr, nullptr, &vertices, nullptr, nullptr);
  return static_cast<mo_vertex *>(list_get_item(vertices, index));
}

// An object of the world with the given members, as scene text.
std::string with_child(const std::string &members) {
  return R"({"world": {"children": [{)" + members + "}]}}";
}

// ---- defaults ------------------------------------------------------------------

TEST(SceneDefaults, AnEmptyWorld) {
  load(R"({"world": {}})");
  mo_object *world = mo_get_world();
  EXPECT_EQ(mo_object_get_type(world), MO_OBJ_WORLD);
  EXPECT_STREQ(mo_object_get_name(world), "world");
  EXPECT_EQ(mo_object_get_data(world), nullptr);
  int v = -1, s = -1, c = -1;
  mo_object_get_contents(world, &v, &s, &c, nullptr, nullptr, nullptr);
  EXPECT_EQ(v + s + c, 0);
  const float *centre = mo_object_get_centre(world);
  EXPECT_EQ(centre[0], 0.0f);
  EXPECT_EQ(centre[1], 0.0f);
  EXPECT_EQ(centre[2], 0.0f);

  ASSERT_EQ(mo_get_num_palette(), 1);
  float rgb[3];
  mo_entity_get_rgb_value(mo_palette_get_material(0), "diffuse", rgb);
  EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 3.0f);
  mo_entity_get_rgb_value(mo_palette_get_material(0), "ambient", rgb);
  EXPECT_EQ(rgb[1], 0.2f);
  EXPECT_EQ(mo_get_num_textures(), 0);

  EXPECT_EQ(molv::host_version(), 6.0);
  EXPECT_EQ(molv::host_version_string(), "molv 6.0");
  EXPECT_EQ(molv::host_info_text(), "Objects : 0\nVertices : 0\nSurfaces : 0\n");
}

TEST(SceneDefaults, ObjectTypeFollowsTheVerticesKey) {
  load(R"({"world": {"children": [
         {"vertices": []}, {}, {"type": "light"}, {"type": 77}, {"type": "world"},
         {"type": "group", "vertices": [[0, 0, 0]]}]}})");
  mo_object *world = mo_get_world();
  EXPECT_EQ(mo_object_get_type(child(world, 0)), MO_OBJ_POLYGON) << "even an empty list";
  EXPECT_EQ(mo_object_get_type(child(world, 1)), MO_OBJ_GROUP);
  EXPECT_EQ(mo_object_get_type(child(world, 2)), MO_OBJ_LIGHT);
  EXPECT_EQ(mo_object_get_type(child(world, 3)), 77);
  EXPECT_EQ(mo_object_get_type(child(world, 4)), MO_OBJ_WORLD);
  EXPECT_EQ(mo_object_get_type(child(world, 5)), MO_OBJ_GROUP);
}

TEST(SceneDefaults, NamesDataAndTexture) {
  load(R"({"textures": ["a.png", "maps/b.png"], "world": {"name": "top", "children": [
         {"data": ""}, {"name": "n", "data": "d", "texture": {"id": 1}},
         {"texture": {"id": 0, "repeat": [2, 3], "offset": [0.5, -1]}}]}})");
  mo_object *world = mo_get_world();
  EXPECT_STREQ(mo_object_get_name(world), "top");
  mo_object *a = child(world, 0);
  mo_object *b = child(world, 1);
  mo_object *c = child(world, 2);
  EXPECT_STREQ(mo_object_get_name(a), "");
  ASSERT_NE(mo_object_get_data(a), nullptr) << "an empty data text is a data text";
  EXPECT_STREQ(mo_object_get_data(a), "");
  EXPECT_STREQ(mo_object_get_data(b), "d");

  EXPECT_EQ(mo_object_has_texture(a), 0);
  EXPECT_EQ(mo_object_has_texture(b), 1);
  EXPECT_EQ(mo_object_get_texture_index(b), 1);
  EXPECT_EQ(mo_object_get_texture_repeat_x(b), 1.0f);
  EXPECT_EQ(mo_object_get_texture_repeat_y(b), 1.0f);
  EXPECT_EQ(mo_object_get_texture_offset_x(b), 0.0f);
  EXPECT_EQ(mo_object_get_texture_offset_y(b), 0.0f);
  EXPECT_EQ(mo_object_get_texture_repeat_y(c), 3.0f);
  EXPECT_EQ(mo_object_get_texture_offset_y(c), -1.0f);
  EXPECT_STREQ(texture_id_to_name(1), "maps/b.png");
}

TEST(SceneDefaults, SurfacesAndCorners) {
  load(R"({"palette": [{}, {"diffuse": [0, 1, 0]}], "world": {"children": [{
         "vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]],
         "surfaces": [{"verts": [0, [1, 0.25, 0.75], 2]},
                      {"type": "line", "material": 1, "shading": "flat", "twosided": true,
                       "verts": [2, 0]},
                      {"type": "closed_line", "verts": []}, {"type": 9, "verts": [1]}]}]}})");
  mo_object *object = child(mo_get_world(), 0);
  mo_surface *first = surface(object, 0);
  EXPECT_EQ(surface_get_type(first), MO_SURF_POLYGON);
  EXPECT_EQ(first->material, 0);
  EXPECT_EQ(surface_get_shading(first), 1);
  EXPECT_EQ(surface_get_twosided(first), 0);
  ASSERT_EQ(first->vertex_count, 3);
  EXPECT_EQ(surface_get_svertex_at(first, 0)->u, 0.0f);
  EXPECT_EQ(surface_get_svertex_at(first, 1)->u, 0.25f);
  EXPECT_EQ(surface_get_svertex_at(first, 1)->v, 0.75f);
  EXPECT_EQ(surface_get_svertex_at(first, 1)->vertex, vertex(object, 1));

  mo_surface *second = surface(object, 1);
  EXPECT_EQ(surface_get_type(second), MO_SURF_LINE);
  EXPECT_EQ(second->material, 1);
  EXPECT_EQ(surface_get_shading(second), 0);
  EXPECT_EQ(surface_get_twosided(second), 1);
  EXPECT_EQ(surface_get_svertex_at(second, 0)->vertex, vertex(object, 2));
  EXPECT_EQ(surface_get_type(surface(object, 2)), MO_SURF_CLOSED_LINE);
  EXPECT_EQ(surface(object, 2)->vertex_count, 0);
  EXPECT_EQ(surface_get_type(surface(object, 3)), 9);
}

TEST(SceneDefaults, ASurfaceMayListAVertexMoreThanOnce) {
  load(with_child(R"("vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,0,2]}])"));
  mo_surface *s = surface(child(mo_get_world(), 0), 0);
  ASSERT_EQ(s->vertex_count, 4);
  EXPECT_EQ(surface_get_svertex_at(s, 0)->vertex, surface_get_svertex_at(s, 2)->vertex);
  EXPECT_NE(surface_get_svertex_at(s, 0), surface_get_svertex_at(s, 2));
}

TEST(SceneDefaults, HostBlock) {
  load(R"({"host": {"version": 4.9, "version_string": "molv 4.9 beta", "info": "hello"},
          "world": {}})");
  EXPECT_EQ(molv::host_version(), 4.9) << "the version stays a double";
  EXPECT_EQ(molv::host_version_string(), "molv 4.9 beta");
  EXPECT_EQ(molv::host_info_text(), "hello");
  molv::set_host_version(5.5);
  EXPECT_EQ(molv::host_version(), 5.5);
}

TEST(SceneDefaults, InfoTextCountsEverythingBelowTheWorldButSubdividedForms) {
  load(R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"type": "line", "verts": [0]}],
    "children": [
      {"vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}, {"verts": [2]}],
       "subdivided": {"vertices": [[0,0,0],[1,0,0]], "surfaces": [{"verts": [0,1]}],
                      "children": [{"vertices": [[5,5,5]]}]}},
      {"children": [{"type": "light"}, {"vertices": [[1,1,1],[2,2,2]]}]}]}})");
  EXPECT_EQ(molv::host_info_text(), "Objects : 4\nVertices : 6\nSurfaces : 3\n");
  mo_object *first = child(mo_get_world(), 0);
  ASSERT_EQ(mo_object_is_subdivided(first), 1);
  int v = 0;
  mo_object_get_contents(mo_object_get_subdivision(first), &v, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(mo_object_is_subdivided(child(mo_get_world(), 1)), 0);
  EXPECT_EQ(mo_object_get_subdivision(child(mo_get_world(), 1)), nullptr);
}

// ---- numbers -------------------------------------------------------------------

TEST(SceneNumbers, MinusZeroWrittenAsAnIntegerIsZero) {
  load(with_child(R"("vertices": [[-0, -0.0, 0.0]], "centre": [-0, -0.0, -0e0])"));
  mo_object *object = child(mo_get_world(), 0);
  const mo_vertex *v = vertex(object, 0);
  EXPECT_FALSE(std::signbit(v->x)) << "-0 is the integer zero";
  EXPECT_TRUE(std::signbit(v->y)) << "-0.0 is negative zero";
  EXPECT_FALSE(std::signbit(v->z));
  const float *centre = mo_object_get_centre(object);
  EXPECT_FALSE(std::signbit(centre[0]));
  EXPECT_TRUE(std::signbit(centre[1]));
  EXPECT_TRUE(std::signbit(centre[2])) << "an exponent makes it a float";
}

TEST(SceneNumbers, NarrowedToTheNearestFloat) {
  // 2^53 + 2^29 + 1: exactly above the midpoint between two floats, so it
  // rounds up; through a double it would land on the midpoint and round
  // down to 2^53.
  load(with_child(
      R"("vertices": [[0.1, 16777217, 9007199791611905], [1e39, -1e39, 3.4028235e38]])"));
  mo_object *object = child(mo_get_world(), 0);
  EXPECT_EQ(vertex(object, 0)->x, 0.1f);
  EXPECT_EQ(vertex(object, 0)->y, 16777216.0f);
  EXPECT_EQ(vertex(object, 0)->z, 9007200328482816.0f);
  EXPECT_EQ(vertex(object, 1)->x, INFINITY);
  EXPECT_EQ(vertex(object, 1)->y, -INFINITY);
  EXPECT_EQ(vertex(object, 1)->z, 3.4028235e38f);
}

TEST(SceneNumbers, TextsEndAtANulCharacter) {
  load(R"({"host": {"version_string": "molv\u0000 hidden"},
          "textures": ["a.png\u0000.exe"],
          "world": {"name": "wo\u0000rld", "data": "\u0000after"}})");
  EXPECT_EQ(molv::host_version_string(), "molv");
  EXPECT_STREQ(texture_id_to_name(0), "a.png");
  EXPECT_STREQ(mo_object_get_name(mo_get_world()), "wo");
  ASSERT_NE(mo_object_get_data(mo_get_world()), nullptr);
  EXPECT_STREQ(mo_object_get_data(mo_get_world()), "");
}

// ---- the centre ------------------------------------------------------------------

TEST(SceneCentre, MiddleOfTheBoundingBoxOfTheObjectsOwnVertices) {
  load(R"({"world": {"children": [
    {"vertices": [[1, -2, 4], [3, 6, 4], [2, 0, -4]],
     "children": [{"vertices": [[100, 100, 100]]}]},
    {"vertices": [[5, 5, 5]], "centre": [1, 2, 3]}]}})");
  const float *centre = mo_object_get_centre(child(mo_get_world(), 0));
  EXPECT_EQ(centre[0], 2.0f);
  EXPECT_EQ(centre[1], 2.0f);
  EXPECT_EQ(centre[2], 0.0f);
  const float *given = mo_object_get_centre(child(mo_get_world(), 1));
  EXPECT_EQ(given[2], 3.0f);
}

TEST(SceneCentre, TheFirstOfEqualValuesIsKept) {
  load(R"({"world": {"children": [
    {"vertices": [[-0.0, 0.0, 1], [0.0, -0.0, 1]]},
    {"vertices": [[0.0, 0, 0], [-0.0, 0, 0]]}]}})");
  const float *a = mo_object_get_centre(child(mo_get_world(), 0));
  EXPECT_TRUE(std::signbit(a[0])) << "min and max both stay -0.0";
  EXPECT_FALSE(std::signbit(a[1]));
  const float *b = mo_object_get_centre(child(mo_get_world(), 1));
  EXPECT_FALSE(std::signbit(b[0]));
}

TEST(SceneCentre, ComputedInFloat) {
  // min + max overflows in float: the centre is infinite, as the rule says.
  load(with_child(R"("vertices": [[3e38, -3e38, 1], [3e38, -3e38, 2]])"));
  const float *centre = mo_object_get_centre(child(mo_get_world(), 0));
  EXPECT_EQ(centre[0], INFINITY);
  EXPECT_EQ(centre[1], -INFINITY);
  EXPECT_EQ(centre[2], 1.5f);
}

// ---- errors ----------------------------------------------------------------------

struct BadScene {
  const char *text;
  const char *line;
};

TEST(SceneErrors, EachErrorIsOneLineWithItsPath) {
  const BadScene cases[] = {
      // the shape of the scene
      {R"([])", "s.json: scene: must be an object, not an array"},
      {R"({})", "s.json: world: missing"},
      {R"({"world": {}, "wrld": 1})", "s.json: wrld: unknown key"},
      {R"({"world": null})", "s.json: world: must be an object, not null"},
      {R"({"world": {"name": "a", "name": "b"}})", "s.json: world.name: duplicate key"},
      {R"({"world": {"a b": 1}})", R"(s.json: world["a b"]: unknown key)"},
      {R"({"world": {"a\nb": 1}})", R"(s.json: world["a\nb"]: unknown key)"},
      {R"({"world": {"type": "world"}})",
       "s.json: world.type: the world has no type key (it is always 999)"},
      // kinds of values
      {R"({"host": {"version": "6"}, "world": {}})",
       "s.json: host.version: must be a number, not a string"},
      {R"({"host": {"info": null}, "world": {}})", "s.json: host.info: must be a string, not null"},
      {R"({"palette": {}, "world": {}})", "s.json: palette: must be an array, not an object"},
      {R"({"palette": [{"diffuse": [1, 1]}], "world": {}})",
       "s.json: palette[0].diffuse: must be an array of 3 numbers, not of 2"},
      {R"({"palette": [{}, {"shininess": true}], "world": {}})",
       "s.json: palette[1].shininess: must be a number, not a boolean"},
      {R"({"palette": [{"colour": [1, 1, 1]}], "world": {}})",
       "s.json: palette[0].colour: unknown key"},
      {R"({"textures": ["a", 2], "world": {}})",
       "s.json: textures[1]: must be a string, not a number"},
      {R"({"world": {"children": [{}, {"name": null}]}})",
       "s.json: world.children[1].name: must be a string, not null"},
      {R"({"world": {"children": [{}, 3]}})",
       "s.json: world.children[1]: must be an object, not a number"},
      {R"({"world": {"children": [{"type": "polgon"}]}})",
       R"(s.json: world.children[0].type: unknown object type "polgon" (known: "polygon", "group", "light", "world"))"},
      {R"({"world": {"children": [{"type": 1.5}]}})",
       "s.json: world.children[0].type: must be an integer, not 1.5"},
      {R"({"world": {"vertices": [[0, 0, 0], [1, 2]]}})",
       "s.json: world.vertices[1]: must be an array of 3 numbers, not of 2"},
      {R"({"world": {"vertices": [[0, 0, "1"]]}})",
       "s.json: world.vertices[0][2]: must be a number, not a string"},
      {R"({"world": {"centre": null}})",
       "s.json: world.centre: must be an array of 3 numbers, not null"},
      {R"({"world": {"children": [{"subdivided": {"children": [{"nmae": "x"}]}}]}})",
       "s.json: world.children[0].subdivided.children[0].nmae: unknown key"},
      // surfaces
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [0], "twosided": 1}]}})",
       "s.json: world.surfaces[0].twosided: must be true or false, not a number"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [0], "shading": "phong"}]}})",
       R"(s.json: world.surfaces[0].shading: unknown shading "phong" (known: "flat", "smooth"))"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"type": "curve", "verts": [0]}]}})",
       R"(s.json: world.surfaces[0].type: unknown surface type "curve" (known: "polygon", "line", "closed_line"))"},
      {R"({"world": {"surfaces": [{}]}})", "s.json: world.surfaces[0].verts: missing"},
      {R"({"world": {"surfaces": [{"verts": {}}]}})",
       "s.json: world.surfaces[0].verts: must be an array, not an object"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [0, "0"]}]}})",
       "s.json: world.surfaces[0].verts[1]: must be a vertex index or [index, u, v], not a string"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [[0, 1]]}]}})",
       "s.json: world.surfaces[0].verts[0]: must be [index, u, v], not an array of 2"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [[0, 1, null]]}]}})",
       "s.json: world.surfaces[0].verts[0][2]: must be a number, not null"},
      // indices
      {R"({"world": {"children": [{}, {}, {"vertices": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
          "surfaces": [{"verts": [0]}, {"verts": [0]}, {"verts": [0]}, {"verts": [0]},
                       {"verts": [0]}, {"verts": [0]}, {"verts": [0]},
                       {"verts": [0, 1, 2, 4]}]}]}})",
       "s.json: world.children[2].surfaces[7].verts[3]: vertex index 4 out of range: the object "
       "has 4 vertices"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [[-1, 0, 0]]}]}})",
       "s.json: world.surfaces[0].verts[0][0]: vertex index -1 out of range: the object has 1 "
       "vertex"},
      {R"({"world": {"surfaces": [{"verts": [0]}]}})",
       "s.json: world.surfaces[0].verts[0]: vertex index 0 out of range: the object has no "
       "vertices"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [0.0]}]}})",
       "s.json: world.surfaces[0].verts[0]: must be an integer, not 0.0"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [1e0]}]}})",
       "s.json: world.surfaces[0].verts[0]: must be an integer, not 1.0"},
      {R"({"world": {"vertices": [[0,0,0]], "surfaces": [{"verts": [123456789012345678901234]}]}})",
       "s.json: world.surfaces[0].verts[0]: vertex index 1.2345678901234569e+23 out of range: the "
       "object has 1 vertex"},
      {R"({"palette": [{}, {}], "world": {"surfaces": [{"material": 2, "verts": []}]}})",
       "s.json: world.surfaces[0].material: palette index 2 out of range: the palette has 2 "
       "materials"},
      {R"({"world": {"surfaces": [{"material": "0", "verts": []}]}})",
       "s.json: world.surfaces[0].material: must be an integer, not a string"},
      {R"({"palette": [], "world": {"surfaces": [{"verts": []}]}})",
       "s.json: world.surfaces[0]: palette index 0 (the default material) out of range: the "
       "palette has no materials"},
      {R"({"textures": ["a"], "world": {"texture": {"id": 1}}})",
       "s.json: world.texture.id: texture id 1 out of range: the scene has 1 texture"},
      {R"({"world": {"texture": {"id": 0}}})",
       "s.json: world.texture.id: texture id 0 out of range: the scene has no textures"},
      {R"({"textures": ["a"], "world": {"texture": {"repeat": [1, 1]}}})",
       "s.json: world.texture.id: missing"},
      {R"({"textures": ["a"], "world": {"texture": {"id": 0, "offset": [1, 1, 1]}}})",
       "s.json: world.texture.offset: must be an array of 2 numbers, not of 3"},
      // not JSON
      {"{\"world\": {}",
       "s.json: line 1, column 13: syntax error while parsing object - "
       "unexpected end of input; expected '}'"},
      {"{\"world\":\n {\"name\": 1e400}}",
       "s.json: line 2, column 15: number overflow parsing "
       "'1e400'"},
      {"",
       "s.json: line 1, column 1: syntax error while parsing value - unexpected end of input; "
       "expected '[', '{', or a literal"},
  };
  for (const BadScene &bad : cases) {
    EXPECT_EQ(error_of(bad.text), bad.line) << bad.text;
  }
}

TEST(SceneErrors, ASurfaceHoldsAtMost65535Vertices) {
  auto scene = [](size_t corners) {
    std::string verts;
    for (size_t i = 0; i < corners; ++i) verts += i ? ",0" : "0";
    return with_child(R"("vertices": [[0,0,0]], "surfaces": [{"verts": [)" + verts + "]}]");
  };
  load(scene(65535));
  EXPECT_EQ(surface(child(mo_get_world(), 0), 0)->vertex_count, 65535);
  EXPECT_EQ(error_of(scene(65536)),
            "s.json: world.children[0].surfaces[0].verts: 65536 vertices, but a surface holds at "
            "most 65535");
}

TEST(SceneErrors, AFailedLoadLeavesAnEmptyModel) {
  load(R"({"palette": [{}, {}], "textures": ["t"], "world": {"children": [{}]}})");
  EXPECT_NE(error_of(R"({"world": {"children": [{}]}, "x": 0})"), "");
  EXPECT_EQ(list_count(nullptr), 0);
  int kids = -1;
  mo_object_get_contents(mo_get_world(), nullptr, nullptr, &kids, nullptr, nullptr, nullptr);
  EXPECT_EQ(kids, 0);
  EXPECT_EQ(mo_get_num_palette(), 1);
  EXPECT_EQ(mo_get_num_textures(), 0);
}

TEST(SceneErrors, FileErrorsAndFileNamesInTheLine) {
  std::string error;
  EXPECT_FALSE(molv::read_scene_file("/nonexistent/dir/x.json", &error));
  EXPECT_EQ(error, "/nonexistent/dir/x.json: cannot read the scene: No such file or directory");
  EXPECT_FALSE(molv::read_scene_file("/", &error));
  EXPECT_EQ(error, "/: cannot read the scene: Is a directory");

  char name[] = "/tmp/molv scene\nXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string text = R"({"world": {"name": 1}})";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  EXPECT_FALSE(molv::read_scene_file(name, &error));
  std::string shown = name;
  shown[15] = ' ';  // the line feed in the file name
  EXPECT_EQ(error, shown + ": world.name: must be a string, not a number");
  std::remove(name);
}

// ---- hostile input -----------------------------------------------------------------

TEST(SceneHostile, NestingBeyondTheLimitIsRefusedWithItsPlace) {
  const std::string prefix = R"({"world": {"data": )";
  std::string text = prefix + std::string(100000, '[') + std::string(100000, ']') + "}}";
  // Level 100001 is the 99999th bracket after the two braces.
  EXPECT_EQ(error_of(text), "s.json: line 1, column " + std::to_string(prefix.size() + 99999) +
                                ": nested deeper than 100000 levels");
  // Brackets inside a text are text.
  text = prefix + "\"" + std::string(200000, '[') + "\"}}";
  load(text);
}

TEST(SceneHostile, ADeepTreeWithinTheLimitLoads) {
  // 40000 levels of objects (80000 levels of brackets): no recursion in
  // the loader, the info text or the teardown.
  std::string text = R"({"world": )";
  const int depth = 40000;
  for (int i = 0; i < depth; ++i) text += R"({"vertices": [[0,0,0]], "children": [)";
  text += "{}";
  for (int i = 0; i < depth; ++i) text += "]}";
  text += "}";
  load(text);
  EXPECT_EQ(molv::host_info_text(), "Objects : " + std::to_string(depth) + "\nVertices : " +
                                        std::to_string(depth) + "\nSurfaces : 0\n");
  mo_object *object = mo_get_world();
  for (int i = 0; i < depth; ++i) object = child(object, 0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(mo_object_get_type(object), MO_OBJ_GROUP);
  molv::clear_model();
}

}  // namespace
