/*
 * Models from other formats: what the host's model holds after a file that
 * Assimp reads (the node tree as groups, polygon objects and lights, world
 * positions, polygons kept, equal positions joined, lines, texture
 * coordinates, the palette in order of first use, textures, shading), the
 * empty parts left out and the warnings on what the .x file will not hold,
 * what a file that cannot be read or holds nothing to export leaves (one
 * line, an empty model), and the whole way through molv: a textured OBJ
 * cube exported and read back by the .x reader, and the exit status of
 * models that cannot be read.
 */
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "api/model.h"
#include "binding/options.h"
#include "import/embedded_textures.h"
#include "import/load.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/molv_run_test.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/x_check.h"

namespace fs = std::filesystem;

namespace {

const std::string kDefaults = qel::kDefaultOptions;

// A unit cube of six quads with texture coordinates and a textured
// material, then a polyline of two segments and a point.
const char kCubeObj[] =
    "mtllib cube.mtl\n"
    "o cube\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "usemtl wood\n"
    "f 1/1 4/4 3/3 2/2\nf 5/1 6/2 7/3 8/4\nf 1/1 2/2 6/3 5/4\n"
    "f 2/1 3/2 7/3 6/4\nf 3/1 4/2 8/3 7/4\nf 4/1 1/2 5/3 8/4\n"
    "o wire\n"
    "v 2 0 0\nv 3 0 0\nv 3 1 0\n"
    "usemtl red\n"
    "l 9 10 11\n"
    "p 11\n";

const char kCubeMtl[] =
    "newmtl wood\nKd 0.8 0.6 0.4\nKs 0.5 0.5 0.5\nKe 0.1 0 0\nNs 32\nd 0.75\n"
    "map_Kd maps/wood.png\n"
    "newmtl red\nKd 1 0 0\n";

// One node with two meshes of different materials: a flat one and a
// smooth one.
const char kTwoMaterialsAse[] = R"(*3DSMAX_ASCIIEXPORT 200
*MATERIAL_LIST {
  *MATERIAL_COUNT 1
  *MATERIAL 0 {
    *MATERIAL_NAME "multi"
    *MATERIAL_CLASS "Multi/Sub-Object"
    *NUMSUBMTLS 2
    *SUBMATERIAL 0 {
      *MATERIAL_NAME "flat"
      *MATERIAL_DIFFUSE 0.5 0.25 0.125
      *MATERIAL_SHADING Flat
    }
    *SUBMATERIAL 1 {
      *MATERIAL_NAME "smooth"
      *MATERIAL_DIFFUSE 0.25 0.5 1
      *MATERIAL_SHADING Phong
    }
  }
}
*GEOMOBJECT {
  *NODE_NAME "tri"
  *NODE_TM {
    *NODE_NAME "tri"
    *TM_ROW0 1 0 0
    *TM_ROW1 0 1 0
    *TM_ROW2 0 0 1
    *TM_ROW3 0 0 0
  }
  *MESH {
    *TIMEVALUE 0
    *MESH_NUMVERTEX 4
    *MESH_NUMFACES 2
    *MESH_VERTEX_LIST {
      *MESH_VERTEX 0 0 0 0
      *MESH_VERTEX 1 1 0 0
      *MESH_VERTEX 2 0 1 0
      *MESH_VERTEX 3 1 1 0
    }
    *MESH_FACE_LIST {
      *MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_SMOOTHING 1 *MESH_MTLID 0
      *MESH_FACE 1: A: 1 B: 3 C: 2 AB: 1 BC: 1 CA: 1 *MESH_SMOOTHING 1 *MESH_MTLID 1
    }
  }
  *MATERIAL_REF 0
}
)";

std::string base64(const std::string &data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::vector<unsigned char> bytes(data.begin(), data.end());
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t chunk = static_cast<uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= bytes[i + 2];
    text += kAlphabet[(chunk >> 18) & 63];
    text += kAlphabet[(chunk >> 12) & 63];
    text += i + 1 < bytes.size() ? kAlphabet[(chunk >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
  }
  return text;
}

std::string base64(const std::vector<float> &values) {
  return base64(std::string(reinterpret_cast<const char *>(values.data()),
                            values.size() * sizeof(float)));
}

// A glTF 2 scene: "top" (moved by 10 in x) holds "body" (scaled by 2, one
// mesh of a triangle and a line), "arm" (moved, one mesh) holding "hand",
// a light "lamp" and a camera "eye".
std::string gltf_scene() {
  using json = nlohmann::json;
  const std::vector<float> triangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  json g;
  g["asset"] = {{"version", "2.0"}};
  g["scene"] = 0;
  g["scenes"] = json::array({{{"nodes", {0}}}});
  g["nodes"] = json::array({
      {{"name", "top"}, {"translation", {10, 0, 0}}, {"children", {1, 2, 3, 4}}},
      {{"name", "body"}, {"mesh", 0}, {"scale", {2, 2, 2}}},
      {{"name", "arm"}, {"mesh", 1}, {"translation", {0, 0, 3}}, {"children", {5}}},
      {{"name", "lamp"},
       {"translation", {0, 5, 0}},
       {"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}},
      {{"name", "eye"}, {"camera", 0}},
      {{"name", "hand"}, {"mesh", 1}, {"translation", {0, 0, 1}}},
  });
  g["cameras"] =
      json::array({{{"type", "perspective"}, {"perspective", {{"yfov", 1.0}, {"znear", 0.1}}}}});
  g["extensionsUsed"] = {"KHR_lights_punctual"};
  g["extensions"] = {{"KHR_lights_punctual", {{"lights", json::array({{{"type", "point"}}})}}}};
  g["meshes"] = json::array({
      {{"name", "M"},
       {"primitives",
        json::array({{{"attributes", {{"POSITION", 0}}}, {"material", 1}},
                     {{"attributes", {{"POSITION", 0}}}, {"mode", 1}, {"material", 0}}})}},
      {{"name", "N"},
       {"primitives", json::array({{{"attributes", {{"POSITION", 0}}}, {"material", 0}}})}},
  });
  g["materials"] = json::array({
      {{"name", "plain"}},
      {{"name", "violet"},
       {"doubleSided", true},
       {"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.25, 1.0, 1.0}}}}},
  });
  g["accessors"] = json::array({{{"bufferView", 0},
                                 {"componentType", 5126},
                                 {"count", 3},
                                 {"type", "VEC3"},
                                 {"min", {0, 0, 0}},
                                 {"max", {1, 1, 0}}}});
  g["bufferViews"] = json::array({{{"buffer", 0}, {"byteLength", 36}}});
  g["buffers"] = json::array(
      {{{"byteLength", 36}, {"uri", "data:application/octet-stream;base64," + base64(triangle)}}});
  return g.dump(1);
}

// The unit cube of kCubeObj with normals: `normals` holds the vn lines,
// `corner_normal(face, corner)` the index each corner names.
std::string cube_with_normals(const std::string &normals,
                              const std::function<int(int, int)> &corner_normal) {
  const int faces[6][4] = {{1, 4, 3, 2}, {5, 6, 7, 8}, {1, 2, 6, 5},
                           {2, 3, 7, 6}, {3, 4, 8, 7}, {4, 1, 5, 8}};
  std::string obj =
      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
      "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n" +
      normals;
  for (int f = 0; f < 6; ++f) {
    obj += "f";
    for (int k = 0; k < 4; ++k) {
      obj += " " + std::to_string(faces[f][k]) + "/" + std::to_string(k + 1) + "/" +
             std::to_string(corner_normal(f, faces[f][k]));
    }
    obj += "\n";
  }
  return obj;
}

// The face normals of the cube's faces, in the order above.
const char kFaceNormals[] = "vn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 1 0 0\nvn 0 1 0\nvn -1 0 0\n";

// Each vertex's normal pointing away from the cube's centre, twice: to
// three decimals, then to six.
std::string corner_normals() {
  std::string lines;
  for (const char *form : {"%.3f", "%.6f"}) {
    for (int v = 0; v < 8; ++v) {
      const float x = (v == 1 || v == 2 || v == 5 || v == 6) ? 1.0f : -1.0f;
      const float y = (v == 2 || v == 3 || v == 6 || v == 7) ? 1.0f : -1.0f;
      const float z = v >= 4 ? 1.0f : -1.0f;
      lines += "vn";
      for (float c : {x, y, z}) {
        char number[32];
        std::snprintf(number, sizeof number, form, static_cast<double>(c) / std::sqrt(3.0));
        lines += std::string(" ") + number;
      }
      lines += "\n";
    }
  }
  return lines;
}

// An empty solid beside a triangle: the first mesh has no vertices.
const char kEmptySolidStl[] =
    "solid emptySolid\nendsolid emptySolid\n"
    "solid tri\nfacet normal 0 0 1\nouter loop\n"
    "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
    "endloop\nendfacet\nendsolid tri\n";

// A glTF 2 scene: "top" holds a locator, a rig of two bones, all empty,
// and "body" (a triangle of the second material); the first material is
// used by nothing.
std::string gltf_with_empty_nodes(bool with_body) {
  using json = nlohmann::json;
  json g = json::parse(gltf_scene());
  g["nodes"] = json::array({
      {{"name", "top"}, {"children", with_body ? json{1, 2, 4} : json{1, 2}}},
      {{"name", "locator"}, {"translation", {1, 2, 3}}},
      {{"name", "rig"}, {"children", {3}}},
      {{"name", "bone"}, {"children", {5}}},
      {{"name", "body"}, {"mesh", 1}},
      {{"name", "tip"}},
  });
  g["meshes"] = json::array({{{"name", "N"},
                              {"primitives", json::array({{{"attributes", {{"POSITION", 0}}},
                                                           {"material", 1}}})}},
                             {{"name", "M"},
                              {"primitives", json::array({{{"attributes", {{"POSITION", 0}}},
                                                           {"material", 1}}})}}});
  g.erase("cameras");
  g.erase("extensionsUsed");
  g.erase("extensions");
  return g.dump(1);
}

// The bytes of the texture embedded in textured_gltf(): Assimp keeps a
// compressed image as it is, so they need not be a whole PNG.
const std::string kPngBytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR not a whole image", 30);

// The triangle of gltf_scene() with a base colour texture embedded as a
// data URI, which the model names "*0".
std::string textured_gltf() {
  using json = nlohmann::json;
  json g = json::parse(gltf_scene());
  g["nodes"] = json::array({{{"name", "body"}, {"mesh", 0}}});
  g["scene"] = 0;
  g["scenes"] = json::array({{{"nodes", {0}}}});
  g["meshes"] = json::array({{{"name", "M"},
                              {"primitives", json::array({{{"attributes", {{"POSITION", 0}}},
                                                           {"material", 0}}})}}});
  g["materials"] = json::array(
      {{{"name", "painted"}, {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}});
  g["textures"] = json::array({{{"source", 0}}});
  g["images"] = json::array({{{"uri", "data:image/png;base64," + base64(kPngBytes)}}});
  g.erase("cameras");
  g.erase("extensionsUsed");
  g.erase("extensions");
  return g.dump(1);
}

// ---- reading the host's model ------------------------------------------------------

std::vector<mo_object *> children_of(mo_object *object) {
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  mo_object_get_contents(object, &vc, &sc, &kc, &v, &s, &k);
  std::vector<mo_object *> list;
  for (mo_list node = k; node != nullptr; node = node->next) {
    list.push_back(static_cast<mo_object *>(node->item));
  }
  return list;
}

std::vector<std::string> names_of(const std::vector<mo_object *> &objects) {
  std::vector<std::string> names;
  for (mo_object *o : objects) names.push_back(mo_object_get_name(o));
  return names;
}

struct Corner {
  int vertex;
  float u, v;
};

struct SurfaceView {
  int type;
  int shading;
  int twosided;
  int material;
  std::vector<Corner> corners;
};

struct ObjectView {
  std::vector<std::vector<float>> vertices;
  std::vector<SurfaceView> surfaces;
};

ObjectView view_of(mo_object *object) {
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  mo_object_get_contents(object, &vc, &sc, &kc, &v, &s, &k);
  ObjectView view;
  std::map<const mo_vertex *, int> index;
  for (mo_list node = v; node != nullptr; node = node->next) {
    const auto *vertex = static_cast<const mo_vertex *>(node->item);
    index[vertex] = static_cast<int>(view.vertices.size());
    view.vertices.push_back({vertex->x, vertex->y, vertex->z});
  }
  for (mo_list node = s; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    SurfaceView sv{surface_get_type(surface),
                   surface_get_shading(surface),
                   surface_get_twosided(surface),
                   surface->material,
                   {}};
    for (int i = 0; i < surface->vertex_count; ++i) {
      const mo_svertex *corner = surface_get_svertex_at(surface, i);
      sv.corners.push_back({index.at(corner->vertex), corner->u, corner->v});
    }
    view.surfaces.push_back(sv);
  }
  return view;
}

std::vector<float> centre_of(mo_object *object) {
  const float *c = mo_object_get_centre(object);
  return {c[0], c[1], c[2]};
}

std::vector<float> rgb(int palette_index, const char *what) {
  float value[3];
  mo_entity_get_rgb_value(mo_palette_get_material(palette_index), what, value);
  return {value[0], value[1], value[2]};
}

float scalar(int palette_index, const char *what) {
  float value = -1.0f;
  mo_entity_get_float_value(mo_palette_get_material(palette_index), what, &value);
  return value;
}

class Import : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = qel_test::make_temp_dir("import"); }
  void TearDown() override {
    molv::clear_model();
    qel_test::remove_tree(dir_);
  }
  std::string write(const std::string &name, const std::string &text) const {
    qel_test::write_file(dir_ + "/" + name, text);
    return dir_ + "/" + name;
  }
  void load(const std::string &path) {
    extracted_.discard();
    loaded_ = molv::load_file(path);
    ASSERT_TRUE(loaded_.loaded) << loaded_.error;
    EXPECT_EQ(loaded_.error, "");
    molv::install(loaded_);
  }
  std::vector<std::string> warnings() const {
    return molv::load_warnings(loaded_, extracted_.extracted());
  }
  bool extract(const std::string &stem, std::string *error) {
    return extracted_.extract(molv::model(), stem, error);
  }
  std::string dir_;
  molv::Load loaded_;
  molv::ExtractedTextures extracted_;
};

// ---- the mapping -------------------------------------------------------------------

TEST_F(Import, ObjPolygonsStayPolygonsAndEqualPositionsAreOneVertex) {
  write("cube.mtl", kCubeMtl);
  load(write("model.obj", kCubeObj));

  mo_object *world = mo_get_world();
  EXPECT_EQ(mo_object_get_type(world), MO_OBJ_WORLD);
  EXPECT_STREQ(mo_object_get_name(world), "model.obj");
  // All vertices below: x 0 to 3, y and z 0 to 1.
  EXPECT_EQ(centre_of(world), (std::vector<float>{1.5f, 0.5f, 0.5f}));
  const auto objects = children_of(world);
  ASSERT_EQ(names_of(objects), (std::vector<std::string>{"cube", "wire"}));

  mo_object *cube = objects[0];
  EXPECT_EQ(mo_object_get_type(cube), MO_OBJ_POLYGON);
  const ObjectView v = view_of(cube);
  // The file's 24 face corners are 8 positions.
  ASSERT_EQ(v.vertices.size(), 8u);
  ASSERT_EQ(v.surfaces.size(), 6u);
  std::map<int, int> uses;
  for (const SurfaceView &s : v.surfaces) {
    EXPECT_EQ(s.type, MO_SURF_POLYGON);
    EXPECT_EQ(s.corners.size(), 4u);
    EXPECT_EQ(s.material, 0);
    EXPECT_EQ(s.shading, 1);
    EXPECT_EQ(s.twosided, 0);
    for (const Corner &c : s.corners) ++uses[c.vertex];
  }
  for (const auto &use : uses) EXPECT_EQ(use.second, 3) << "vertex " << use.first;
  // The first face, f 1/1 4/4 3/3 2/2, corner by corner.
  const SurfaceView &first = v.surfaces[0];
  const std::vector<std::vector<float>> positions = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
  const float uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(v.vertices[static_cast<size_t>(first.corners[k].vertex)], positions[k]) << k;
    EXPECT_EQ(first.corners[k].u, uv[k][0]) << k;
    EXPECT_EQ(first.corners[k].v, uv[k][1]) << k;
  }
  EXPECT_EQ(centre_of(cube), (std::vector<float>{0.5f, 0.5f, 0.5f}));
  EXPECT_TRUE(mo_object_has_texture(cube));
  EXPECT_EQ(mo_object_get_texture_index(cube), 0);

  // Two segments and a point: line surfaces, smooth by default.
  mo_object *wire = objects[1];
  const ObjectView w = view_of(wire);
  EXPECT_EQ(w.vertices.size(), 3u);
  ASSERT_EQ(w.surfaces.size(), 3u);
  for (const SurfaceView &s : w.surfaces) {
    EXPECT_EQ(s.type, MO_SURF_LINE);
    EXPECT_EQ(s.material, 1);
  }
  EXPECT_EQ(w.surfaces[0].corners.size(), 2u);
  EXPECT_EQ(w.surfaces[1].corners.size(), 2u);
  EXPECT_EQ(w.surfaces[2].corners.size(), 1u);
  EXPECT_FALSE(mo_object_has_texture(wire));

  // The palette in order of first use, without the importer's unused
  // default material; transparency is 1 - opacity.
  ASSERT_EQ(mo_get_num_palette(), 2);
  EXPECT_EQ(rgb(0, "diffuse"), (std::vector<float>{0.8f, 0.6f, 0.4f}));
  EXPECT_EQ(rgb(0, "specular"), (std::vector<float>{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(rgb(0, "emissive"), (std::vector<float>{0.1f, 0.0f, 0.0f}));
  EXPECT_EQ(scalar(0, "shininess"), 32.0f);
  EXPECT_FLOAT_EQ(scalar(0, "transparency"), 0.25f);
  EXPECT_EQ(rgb(1, "diffuse"), (std::vector<float>{1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(scalar(1, "transparency"), 0.0f);
  ASSERT_EQ(mo_get_num_textures(), 1);
  EXPECT_STREQ(texture_id_to_name(0), "maps/wood.png");

  EXPECT_EQ(warnings(), std::vector<std::string>{
                            "2 line segments and 1 point left out (a .x mesh holds polygons only)"});
}

TEST_F(Import, GltfNodeTreeWithTransformsLightsAndACameraLeftOut) {
  load(write("scene.gltf", gltf_scene()));

  // The root node is the world; its centre is that of every vertex below
  // it: body's triangle (10,0,0) (12,0,0) (10,2,0), arm's at z 3 and
  // hand's at z 4 (x 10 to 11, y 0 to 1).
  mo_object *world = mo_get_world();
  EXPECT_STREQ(mo_object_get_name(world), "top");
  EXPECT_EQ(centre_of(world), (std::vector<float>{11.0f, 1.0f, 2.0f}));
  const auto objects = children_of(world);
  ASSERT_EQ(names_of(objects), (std::vector<std::string>{"body", "arm", "lamp"}));

  // Two meshes in one node: a group of one object per mesh.
  mo_object *body = objects[0];
  EXPECT_EQ(mo_object_get_type(body), MO_OBJ_GROUP);
  EXPECT_EQ(centre_of(body), (std::vector<float>{11.0f, 1.0f, 0.0f}));
  const auto parts = children_of(body);
  ASSERT_EQ(parts.size(), 2u);
  const std::string mesh_name = mo_object_get_name(parts[0]);
  EXPECT_EQ(mesh_name.rfind("body_M", 0), 0u) << mesh_name;
  const ObjectView triangle = view_of(parts[0]);
  EXPECT_EQ(triangle.vertices,
            (std::vector<std::vector<float>>{{10, 0, 0}, {12, 0, 0}, {10, 2, 0}}));
  ASSERT_EQ(triangle.surfaces.size(), 1u);
  EXPECT_EQ(triangle.surfaces[0].type, MO_SURF_POLYGON);
  EXPECT_EQ(triangle.surfaces[0].twosided, 1);  // the material is double-sided
  EXPECT_EQ(triangle.surfaces[0].material, 0);
  const ObjectView line = view_of(parts[1]);
  ASSERT_EQ(line.surfaces.size(), 1u);
  EXPECT_EQ(line.surfaces[0].type, MO_SURF_LINE);
  EXPECT_EQ(line.surfaces[0].corners.size(), 2u);
  EXPECT_EQ(line.surfaces[0].material, 1);
  // First use: the violet material of the triangle comes first.
  EXPECT_EQ(rgb(0, "diffuse"), (std::vector<float>{0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(rgb(1, "diffuse"), (std::vector<float>{1.0f, 1.0f, 1.0f}));

  // One mesh: the node is the polygon object, its children below it.
  mo_object *arm = objects[1];
  EXPECT_EQ(mo_object_get_type(arm), MO_OBJ_POLYGON);
  EXPECT_EQ(view_of(arm).vertices,
            (std::vector<std::vector<float>>{{10, 0, 3}, {11, 0, 3}, {10, 1, 3}}));
  EXPECT_EQ(centre_of(arm), (std::vector<float>{10.5f, 0.5f, 3.0f}));
  const auto hand = children_of(arm);
  ASSERT_EQ(names_of(hand), std::vector<std::string>{"hand"});
  EXPECT_EQ(view_of(hand[0]).vertices,
            (std::vector<std::vector<float>>{{10, 0, 4}, {11, 0, 4}, {10, 1, 4}}));

  // The light where its node puts it; the camera "eye" is left out.
  mo_object *lamp = objects[2];
  EXPECT_EQ(mo_object_get_type(lamp), MO_OBJ_LIGHT);
  EXPECT_EQ(centre_of(lamp), (std::vector<float>{10.0f, 5.0f, 0.0f}));

  // The .x file holds none of the light, the camera or the line.
  EXPECT_EQ(warnings(), (std::vector<std::string>{
                            "1 light left out (a .x file holds no lights)",
                            "1 camera left out (a .x file holds no cameras)",
                            "1 line segment left out (a .x mesh holds polygons only)",
                        }));
}

// What the user may look for is named in a warning; a material nothing
// uses goes silently, as it always did.
TEST_F(Import, EmptyMeshesAndNodesAreLeftOutWithAWarning) {
  load(write("solids.stl", kEmptySolidStl));
  auto objects = children_of(mo_get_world());
  ASSERT_EQ(names_of(objects), std::vector<std::string>{"tri"});
  EXPECT_EQ(view_of(objects[0]).surfaces.size(), 1u);
  // Its node is not named again as a node with nothing below it.
  EXPECT_EQ(warnings(),
            std::vector<std::string>{"1 mesh without faces left out: emptySolid"});

  load(write("rig.gltf", gltf_with_empty_nodes(true)));
  objects = children_of(mo_get_world());
  ASSERT_EQ(names_of(objects), std::vector<std::string>{"body"});
  EXPECT_EQ(centre_of(mo_get_world()), (std::vector<float>{0.5f, 0.5f, 0.0f}));
  ASSERT_EQ(mo_get_num_palette(), 1);
  EXPECT_EQ(rgb(0, "diffuse"), (std::vector<float>{0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(warnings(), std::vector<std::string>{
                            "4 nodes with nothing below them left out: locator, rig, bone, ..."});

  // A clean model leaves nothing to say.
  load(write("tri.stl", kEmptySolidStl + std::strlen("solid emptySolid\nendsolid emptySolid\n")));
  EXPECT_EQ(warnings(), std::vector<std::string>{});
}

// Each corner's normal as the host calculates it, by surface.
std::vector<std::vector<std::vector<float>>> host_normals(mo_object *object) {
  object_calc_normals_force(object);
  int vc = 0, sc = 0, kc = 0;
  mo_list v = nullptr, s = nullptr, k = nullptr;
  mo_object_get_contents(object, &vc, &sc, &kc, &v, &s, &k);
  std::vector<std::vector<std::vector<float>>> normals;
  for (mo_list node = s; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    normals.emplace_back();
    for (int i = 0; i < surface->vertex_count; ++i) {
      const float *n = surface_get_svertex_at(surface, i)->normal;
      normals.back().push_back({n[0], n[1], n[2]});
    }
  }
  return normals;
}

TEST_F(Import, CornersAtOnePositionPartOnlyWhereTheNormalsDisagree) {
  // Flat faces: no two faces share a vertex, and the host gives every
  // corner its face's normal.
  load(write("flat.obj", cube_with_normals(kFaceNormals, [](int f, int) { return f + 1; })));
  mo_object *cube = children_of(mo_get_world())[0];
  ObjectView view = view_of(cube);
  EXPECT_EQ(view.vertices.size(), 24u);
  std::set<int> used;
  for (const SurfaceView &s : view.surfaces) {
    for (const Corner &c : s.corners) used.insert(c.vertex);
  }
  EXPECT_EQ(used.size(), 24u);
  const float axis[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
  const auto flat = host_normals(cube);
  ASSERT_EQ(flat.size(), 6u);
  for (size_t f = 0; f < 6; ++f) {
    for (const auto &n : flat[f]) {
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(n[static_cast<size_t>(c)], axis[f][c], 1e-6) << f;
    }
  }

  // Smooth: the normals at each position agree but for their rounding,
  // and the texture seams (every face has its own u, v) part nothing.
  load(write("smooth.obj", cube_with_normals(corner_normals(), [](int f, int vertex) {
    return f < 3 ? vertex : vertex + 8;
  })));
  cube = children_of(mo_get_world())[0];
  view = view_of(cube);
  EXPECT_EQ(view.vertices.size(), 8u);
  EXPECT_EQ(view.surfaces[0].corners[1].u, 1.0f);
  EXPECT_EQ(view.surfaces[5].corners[1].u, 1.0f);
  for (const auto &face : host_normals(cube)) {
    for (const auto &n : face) {
      for (float c : n) EXPECT_NEAR(std::fabs(c), 1.0 / std::sqrt(3.0), 1e-6);
    }
  }

  // A corner without a normal (zero) joins the vertex already at its
  // position, whichever normal that has: the last face's corners join the
  // vertices of the faces before them.
  load(write("zero.obj", cube_with_normals(std::string(kFaceNormals) + "vn 0 0 0\n",
                                           [](int f, int) { return f < 5 ? f + 1 : 7; })));
  view = view_of(children_of(mo_get_world())[0]);
  EXPECT_EQ(view.vertices.size(), 20u);
}

// Embedded textures: named as the model names them with a warning, or,
// with a stem, written beside the export and named by their file.
class EmbeddedTextures : public Import {
 protected:
  void TearDown() override {
    extracted_.discard();
    Import::TearDown();
  }
  std::vector<std::string> names_in(const std::string &folder) const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(EmbeddedTextures, AreNamedAsTheModelNamesThemWithAWarning) {
  load(write("box.gltf", textured_gltf()));
  ASSERT_EQ(mo_get_num_textures(), 1);
  EXPECT_STREQ(texture_id_to_name(0), "*0");
  EXPECT_EQ(warnings(), std::vector<std::string>{
                            "1 texture embedded in the model, named *0 in the .x, which no engine "
                            "finds (--extract-textures writes it beside the .x)"});
}

TEST_F(EmbeddedTextures, AreWrittenBesideTheExportWithoutWritingThroughALink) {
  const std::string model = write("box.gltf", textured_gltf());
  ASSERT_EQ(::mkdir((dir_ + "/out").c_str(), 0755), 0);
  // A link where the texture goes: it is replaced, the file it names is
  // left alone.
  write("elsewhere.png", "not to be touched");
  ASSERT_EQ(::symlink("../elsewhere.png", (dir_ + "/out/scene_0.png").c_str()), 0);
  load(model);
  std::string error;
  ASSERT_TRUE(extract(dir_ + "/out/scene", &error)) << error;
  ASSERT_EQ(mo_get_num_textures(), 1);
  EXPECT_STREQ(texture_id_to_name(0), "scene_0.png");
  EXPECT_EQ(warnings(), std::vector<std::string>{});
  // Until the export is complete the texture waits in a file without a
  // name (a run that dies leaves nothing).
  struct stat st;
  ASSERT_EQ(::lstat((dir_ + "/out/scene_0.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  if (qel_test::makes_nameless_files(dir_ + "/out")) {
    EXPECT_EQ(names_in(dir_ + "/out"), std::vector<std::string>{"scene_0.png"});
  }
  ASSERT_TRUE(extracted_.commit(&error)) << error;
  ASSERT_EQ(::lstat((dir_ + "/out/scene_0.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~[] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }());
  EXPECT_EQ(qel_test::read_file(dir_ + "/out/scene_0.png"), kPngBytes);
  EXPECT_EQ(qel_test::read_file(dir_ + "/elsewhere.png"), "not to be touched");
  // No temporary file is left beside it.
  EXPECT_EQ(names_in(dir_ + "/out"), std::vector<std::string>{"scene_0.png"});

  // An export that does not complete: the waiting file goes, the earlier
  // texture stays, and the model names its image as it did.
  load(model);
  ASSERT_TRUE(extract(dir_ + "/out/scene", &error)) << error;
  extracted_.discard();
  EXPECT_EQ(names_in(dir_ + "/out"), std::vector<std::string>{"scene_0.png"});
  EXPECT_EQ(qel_test::read_file(dir_ + "/out/scene_0.png"), kPngBytes);
  EXPECT_STREQ(texture_id_to_name(0), "*0");

  // Texels without a compressed form become a TGA image: the 18-byte head
  // (uncompressed true colour, width, height, 32 bits, rows from the top),
  // then the texels as they are.
  const std::string mdl = "/usr/share/assimp/models/MDL/MDL (HL1)/chrome_sphere.mdl";
  load(mdl);
  ASSERT_TRUE(extract(dir_ + "/out/scene", &error)) << error;
  ASSERT_TRUE(extracted_.commit(&error)) << error;
  ASSERT_EQ(mo_get_num_textures(), 1);
  EXPECT_STREQ(texture_id_to_name(0), "scene_0.tga");
  Assimp::Importer importer;
  const aiScene *scene = importer.ReadFile(mdl, 0);
  ASSERT_TRUE(scene != nullptr && scene->mNumTextures == 1);
  const aiTexture &texels = *scene->mTextures[0];
  const std::string tga = qel_test::read_file(dir_ + "/out/scene_0.tga");
  ASSERT_EQ(tga.size(), 18 + 4 * size_t{texels.mWidth} * texels.mHeight);
  const std::string head = tga.substr(0, 18);
  EXPECT_EQ(head[2], 2);
  EXPECT_EQ(static_cast<unsigned char>(head[12]) | static_cast<unsigned char>(head[13]) << 8,
            static_cast<int>(texels.mWidth));
  EXPECT_EQ(static_cast<unsigned char>(head[14]) | static_cast<unsigned char>(head[15]) << 8,
            static_cast<int>(texels.mHeight));
  EXPECT_EQ(head[16], 32);
  EXPECT_EQ(head[17], 0x28);
  EXPECT_EQ(std::memcmp(tga.data() + 18, texels.pcData, tga.size() - 18), 0);
}

TEST_F(EmbeddedTextures, ATextureThatCannotBeWrittenIsRefusedAndWritesNothing) {
  const std::string model = write("box.gltf", textured_gltf());
  const std::string locked = dir_ + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);  // root's, not nobody's
  write("locked/scene_0.png", "an earlier texture");
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  const int rc = qel_test::run_in_child(true, [&] {
    std::string error;
    molv::Load loaded = molv::load_file(model);
    if (!loaded.loaded) return 1;
    molv::install(loaded);
    molv::ExtractedTextures extracted;
    if (extracted.extract(molv::model(), locked + "/scene", &error)) return 2;
    if (error != "cannot write the embedded texture " + locked + "/scene_0.png: Permission denied")
      return 3;
    return texture_id_to_name(0) == std::string("*0") ? 0 : 4;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(qel_test::read_file(locked + "/scene_0.png"), "an earlier texture");
  EXPECT_EQ(fs::directory_iterator(locked)->path().filename(), "scene_0.png");
  EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(Import, FlatShadingAndUnnamedMeshesOfOneNode) {
  load(write("two.ase", kTwoMaterialsAse));
  // <ASERoot> holds an unnamed node holding "tri".
  const auto top = children_of(mo_get_world());
  ASSERT_EQ(names_of(top), std::vector<std::string>{""});
  const auto tri = children_of(top[0]);
  ASSERT_EQ(names_of(tri), std::vector<std::string>{"tri"});
  EXPECT_EQ(mo_object_get_type(tri[0]), MO_OBJ_GROUP);
  const auto parts = children_of(tri[0]);
  ASSERT_EQ(names_of(parts), (std::vector<std::string>{"tri_0", "tri_1"}));
  const ObjectView flat = view_of(parts[0]);
  const ObjectView smooth = view_of(parts[1]);
  ASSERT_EQ(flat.surfaces.size(), 1u);
  ASSERT_EQ(smooth.surfaces.size(), 1u);
  EXPECT_EQ(flat.surfaces[0].shading, 0);
  EXPECT_EQ(smooth.surfaces[0].shading, 1);
  EXPECT_EQ(flat.surfaces[0].material, 0);
  EXPECT_EQ(smooth.surfaces[0].material, 1);
  EXPECT_EQ(rgb(0, "diffuse"), (std::vector<float>{0.5f, 0.25f, 0.125f}));
  EXPECT_EQ(mo_get_num_textures(), 0);
}

// The .x writes Cube.003 as Cube_003: names that differ in the model
// must differ there as well, and so must one name twice.
TEST_F(Import, NamesThatWouldBeOneInTheXFileAreKeptApart) {
  std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  for (const char *name : {"a.b", "a_b", "7up", "_7up", "t\xc3\xa9", "t\xc3\xa8"})
    obj += std::string("o ") + name + "\nf 1 2 3\n";
  load(write("names.obj", obj));
  EXPECT_EQ(names_of(children_of(mo_get_world())),
            (std::vector<std::string>{"a.b", "a_b_1", "7up", "_7up_1", "t\xc3\xa9",
                                      "t\xc3\xa8_1"}));
  // The mesh of the root node and of a light's node: no object has its
  // parent's name or a sibling's.
  nlohmann::json g = nlohmann::json::parse(gltf_scene());
  g["nodes"] = nlohmann::json::array(
      {{{"name", "top"}, {"mesh", 1}, {"children", {1}}},
       {{"name", "lamp"}, {"mesh", 1}, {"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}}});
  load(write("held.gltf", g.dump()));
  for (const auto &object : molv::model().objects) {
    std::set<std::string> names = {object->name};
    for (mo_list node = object->children; node != nullptr; node = node->next)
      EXPECT_TRUE(names.insert(static_cast<mo_object *>(node->item)->name).second) << object->name;
  }
  EXPECT_EQ(children_of(children_of(mo_get_world()).at(1)).size(), 1u);
}

// ---- files that cannot be read ------------------------------------------------------

// A binary STL that promises two facets and holds one.
std::string truncated_stl() {
  std::string bytes(80, ' ');
  const uint32_t facets = 2;
  bytes.append(reinterpret_cast<const char *>(&facets), sizeof facets);
  const float facet[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
  bytes.append(reinterpret_cast<const char *>(facet), sizeof facet);
  bytes.append(2, '\0');
  return bytes;
}

// Bytes that no reader makes a model of, though the OBJ reader takes them.
std::string random_bytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 16;
  for (char &c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

const char kNothing[] = "the model holds no faces, lines or lights to export";

TEST_F(Import, UnreadableFilesAndFilesOfNothingNameTheFileAndLeaveAnEmptyModel) {
  write("cube.mtl", kCubeMtl);
  const std::string good = write("model.obj", kCubeObj);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir_ + "/missing.obj", "Unable to open file"},
      {write("broken.stl", truncated_stl()), ""},
      {write("notes.xyz", "nothing a reader knows\n"), "No suitable reader found"},
      {write("noise.obj", random_bytes(4096)), kNothing},
      {write("cloud.ply",
             "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
             "property float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n"),
       std::string(kNothing) + " (1 mesh without faces left out)"},
      {write("rig.gltf", gltf_with_empty_nodes(false)), kNothing},
  };
  for (const auto &c : cases) {
    load(good);
    ASSERT_EQ(children_of(mo_get_world()).size(), 2u);
    ASSERT_FALSE(warnings().empty());
    const molv::Load failed = molv::load_file(c.first);
    const std::string &error = failed.error;
    EXPECT_FALSE(failed.loaded) << c.first;
    EXPECT_EQ(error.rfind(c.first + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), c.first.size() + 2) << "no reason: " << error;
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // The record has no model and nothing to say, and the model the host
    // had is left as it was.
    EXPECT_EQ(failed.model, nullptr);
    EXPECT_EQ(molv::load_warnings(failed, false), std::vector<std::string>{});
    EXPECT_EQ(children_of(mo_get_world()).size(), 2u);
  }
}

// ---- through molv ---------------------------------------------------------------------

using ImportRun = qel_test::MolvRunTest;

TEST_F(ImportRun, TexturedObjCubeIsExportedAndReadBack) {
  write("cube.mtl", kCubeMtl);
  const std::string model = write("cube.obj", kCubeObj);
  const auto r = run({model, "-o", "cube", "--options", kDefaults});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const qel_test::XSummary x = qel_test::x_read(qel_test::read_file(path("cube.x")));
  ASSERT_TRUE(x.loaded) << x.reader_error;
  // Six quads (the wire has no faces); with opt_z_axis clear the reader's
  // coordinates are the model's.
  EXPECT_EQ(x.faces, 6);
  EXPECT_EQ(x.face_sizes, std::vector<int>(6, 4));
  std::set<std::vector<float>> corners(x.positions.begin(), x.positions.end());
  const std::set<std::vector<float>> cube = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                             {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  EXPECT_EQ(corners, cube);
  // opt_strip_texture_path: the name without its folder.
  EXPECT_EQ(x.texture_names, std::vector<std::string>{"wood.png"});
}

// A model whose file gives flat faces keeps them flat in the .x file: every
// normal the reader sees is one of the box's axes (the host's own normals
// over vertices joined by position alone were such as (-0.667, 0.667,
// 0.333)).
TEST_F(ImportRun, HardEdgesOfAModelSurviveTheExport) {
  const auto r = run({"/usr/share/assimp/models/glTF2/BoxTextured-glTF/BoxTextured.gltf", "-o",
                      "box", "--options", kDefaults});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const qel_test::XSummary x = qel_test::x_read(read("box.x"));
  ASSERT_TRUE(x.loaded) << x.reader_error;
  EXPECT_EQ(x.faces, 12);
  ASSERT_EQ(x.normals.size(), 36u);
  for (const auto &n : x.normals) {
    const float longest = std::max({std::fabs(n[0]), std::fabs(n[1]), std::fabs(n[2])});
    EXPECT_NEAR(longest, 1.0f, 1e-6) << n[0] << " " << n[1] << " " << n[2];
    EXPECT_NEAR(std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]), 1.0f, 1e-6);
  }
}

// An embedded texture through molv: without --extract-textures the .x
// names "*0" and a warning says so; with it, the texture stands beside the
// .x and the .x names that file.
TEST_F(ImportRun, EmbeddedTexturesAreExtractedWhenAsked) {
  const std::string model = write("box.gltf", textured_gltf());
  auto r = run({model, "-o", "plain", "--defaults"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("molv: " + model + ": warning: 1 texture embedded in the model"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(qel_test::x_read(read("plain.x")).texture_names, std::vector<std::string>{"*0"});

  r = run({model, "-o", "box", "--defaults", "--extract-textures"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_EQ(qel_test::x_read(read("box.x")).texture_names,
            std::vector<std::string>{"box_0.png"});
  EXPECT_EQ(read("box_0.png"), kPngBytes);
  EXPECT_EQ(entries(), (std::vector<std::string>{"box.gltf", "box.x", "box_0.png", "plain.x"}));

  // A cancelled export replaces neither the .x nor the texture.
  write("box_0.png", "an earlier texture");
  r = run({model, "-o", "box", "--defaults", "--extract-textures", "--cancel-at-poll", "1"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(read("box_0.png"), "an earlier texture");
  EXPECT_EQ(entries(), (std::vector<std::string>{"box.gltf", "box.x", "box_0.png", "plain.x"}));
}

// The files a model refers to are read as the model is: a FIFO, a device
// or a folder in the place of an OBJ's .mtl is refused in one line naming
// it, without waiting on it, and an earlier export stays.
TEST_F(ImportRun, FilesTheModelRefersToMustBeRegularFiles) {
  const std::string model = write("cube.obj", kCubeObj);
  write("out.x", "an earlier export\n");
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(path("cube.mtl").c_str(), 0600), 0); }},
      {"a device", [&] { ASSERT_EQ(symlink("/dev/zero", path("cube.mtl").c_str()), 0); }},
      {"a folder", [&] { ASSERT_EQ(mkdir(path("cube.mtl").c_str(), 0700), 0); }},
  };
  for (const auto &c : cases) {
    c.second();
    qel_test::RunOptions options;
    options.args = {"export", model, "-o", "out", "--defaults"};
    options.cwd = work_;
    options.timeout_seconds = 20;
    const auto r = qel_test::run_molv(options);
    EXPECT_FALSE(r.timed_out) << c.first;
    EXPECT_EQ(r.exit_status, 2) << c.first << ": " << r.err;
    EXPECT_EQ(r.err, "molv: " + model + ": " + work_ + "/cube.mtl is " + c.first +
                         ", not a regular file\n");
    EXPECT_EQ(read("out.x"), "an earlier export\n");
    std::error_code ignored;
    std::filesystem::remove(path("cube.mtl"), ignored);
  }
}

TEST_F(ImportRun, UnreadableModelsGiveOneLineAndStatusTwo) {
  const std::vector<std::string> models = {
      path("missing.obj"),
      write("broken.stl", truncated_stl()),
      write("notes.xyz", "nothing a reader knows\n"),
      write("noise.obj", random_bytes(4096)),
  };
  // An earlier export of the same name stays as it was.
  write("out.x", "an earlier export\n");
  for (const std::string &model : models) {
    const auto r = run({model, "-o", "out", "--options", kDefaults});
    EXPECT_EQ(r.exit_status, 2) << model;
    const auto lines = qel_test::text_lines(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("molv: " + model + ": ", 0), 0u) << lines[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read("out.x"), "an earlier export\n") << model;
  }
  EXPECT_EQ(entries(), (std::vector<std::string>{"broken.stl", "noise.obj", "notes.xyz", "out.x"}));
}

}  // namespace
