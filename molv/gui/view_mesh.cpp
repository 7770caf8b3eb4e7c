/*
 * The view's triangles: polygons become fans of triangles (the view only
 * draws; the export keeps the polygons), corners keep their own normal and
 * texture coordinates, and each object's triangles follow its parent's, so
 * that an object and everything below it are one run of the buffer (the
 * view outlines a chosen object by that run's silhouette).
 */
#include "gui/view_mesh.h"

#include <sys/stat.h>

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "api/model.h"
#include "files/path_parts.h"
#include "files/texture_file.h"

extern "C" {
void object_calc_normals_force(mo_object *object);
int surface_get_shading(mo_surface *surface);
int surface_get_twosided(mo_surface *surface);
}

namespace molv {
namespace gui {
namespace {

std::int8_t normal_byte(float value) {
  const float scaled = std::round(std::max(-1.0f, std::min(1.0f, value)) * 127.0f);
  return static_cast<std::int8_t>(scaled);
}

std::uint8_t colour_byte(float value) {
  if (!(value > 0.0f)) return 0;
  return static_cast<std::uint8_t>(std::lround(std::min(1.0f, value) * 255.0f));
}

// Builds the vertices and the parts, one texture at a time.
class Builder {
 public:
  explicit Builder(ViewMesh *mesh) : mesh_(mesh) {}

  // FILE, or the image the model embeds as FILE ("*0") with BYTES.
  int texture(const std::string &file, const std::string &bytes = std::string()) {
    if (file.empty()) return -1;
    const auto found = texture_of_.find(file);
    if (found != texture_of_.end()) return found->second;
    mesh_->textures.push_back(file);
    mesh_->texture_bytes.push_back(bytes);
    return texture_of_[file] = static_cast<int>(mesh_->textures.size() - 1);
  }

  void begin_part(int texture) {
    if (!mesh_->parts.empty() && mesh_->parts.back().texture == texture) return;
    close_part();
    ViewPart part;
    part.first = mesh_->indices.size();
    part.texture = texture;
    mesh_->parts.push_back(part);
  }

  void add(const float position[3], const float normal[3], float u, float v,
           const std::uint8_t colour[4]) {
    mesh_->indices.push_back(vertex(position, normal, u, v, colour));
  }

  // The index of a corner, added when no earlier one agrees with it.
  std::uint32_t vertex(const float position[3], const float normal[3], float u, float v,
                       const std::uint8_t colour[4]) {
    ViewVertex vertex;
    std::memcpy(vertex.position, position, sizeof vertex.position);
    for (int i = 0; i < 3; ++i) vertex.normal[i] = normal_byte(normal[i]);
    vertex.normal[3] = 0;
    vertex.uv[0] = u;
    vertex.uv[1] = v;
    std::memcpy(vertex.colour, colour, sizeof vertex.colour);
    const auto found = index_of_.emplace(vertex, static_cast<std::uint32_t>(mesh_->vertices.size()));
    if (found.second) mesh_->vertices.push_back(vertex);
    return found.first->second;
  }

  // Corners of different objects are not joined: the table stays small.
  void new_object() { index_of_.clear(); }

  void finish() {
    close_part();
    mesh_->parts.erase(std::remove_if(mesh_->parts.begin(), mesh_->parts.end(),
                                      [](const ViewPart &p) { return p.count == 0; }),
                       mesh_->parts.end());
    mesh_->triangle_count = mesh_->indices.size() / 3;
    index_of_.clear();
    bounds_and_positions();
  }

 private:
  void close_part() {
    if (!mesh_->parts.empty())
      mesh_->parts.back().count = mesh_->indices.size() - mesh_->parts.back().first;
  }

  struct PositionHash {
    size_t operator()(const std::array<std::int64_t, 3> &p) const {
      return (static_cast<size_t>(p[0]) * 73856093u) ^ (static_cast<size_t>(p[1]) * 19349663u) ^
             (static_cast<size_t>(p[2]) * 83492791u);
    }
  };

  void bounds_and_positions() {
    if (mesh_->vertices.empty()) return;
    for (int i = 0; i < 3; ++i)
      mesh_->min[i] = mesh_->max[i] = mesh_->vertices[0].position[i];
    for (const ViewVertex &v : mesh_->vertices)
      for (int i = 0; i < 3; ++i) {
        mesh_->min[i] = std::min(mesh_->min[i], v.position[i]);
        mesh_->max[i] = std::max(mesh_->max[i], v.position[i]);
      }
    // Positions on a grid of a hundred-thousandth of the model's size: a
    // file holds six significant digits, and a reader adds a frame's
    // offset back, so the same position comes back a few bits apart.
    float size = 0;
    for (int i = 0; i < 3; ++i) size = std::max(size, mesh_->max[i] - mesh_->min[i]);
    const double step = size > 0 ? size * 1e-5 : 1.0;
    std::unordered_set<std::array<std::int64_t, 3>, PositionHash> seen;
    seen.reserve(mesh_->vertices.size());
    for (const ViewVertex &v : mesh_->vertices) {
      std::array<std::int64_t, 3> cell;
      for (int i = 0; i < 3; ++i)
        cell[i] = static_cast<std::int64_t>(std::llround((v.position[i] - mesh_->min[i]) / step));
      seen.insert(cell);
    }
    mesh_->positions = seen.size();
  }

  struct VertexHash {
    size_t operator()(const ViewVertex &v) const {
      static_assert(sizeof(ViewVertex) == 28, "seven words");
      std::uint32_t words[7];
      std::memcpy(words, &v, sizeof words);
      std::uint64_t h = 0x9e3779b97f4a7c15ull;
      for (std::uint32_t w : words) h = (h ^ w) * 0xff51afd7ed558ccdull;
      return static_cast<size_t>(h ^ (h >> 29));
    }
  };
  struct VertexEqual {
    bool operator()(const ViewVertex &a, const ViewVertex &b) const {
      return std::memcmp(&a, &b, sizeof a) == 0;
    }
  };

  ViewMesh *mesh_;
  std::map<std::string, int> texture_of_;
  std::unordered_map<ViewVertex, std::uint32_t, VertexHash, VertexEqual> index_of_;
};

struct Colour {
  std::uint8_t rgba[4] = {204, 204, 204, 255};
};

Colour colour_of(const Model &m, unsigned index) {
  Colour colour;
  if (index < m.palette.size()) {
    const mo_material &material = *m.palette[index];
    for (int i = 0; i < 3; ++i) colour.rgba[i] = colour_byte(material.diffuse[i]);
  }
  return colour;
}

// The texture of slot SLOT of the model's table: an image it embeds, else
// the file found beside MODEL_FILE.
int texture_of_slot(const Model &m, int slot, const std::string &model_file, Builder *builder) {
  if (slot < 0 || static_cast<size_t>(slot) >= m.textures.size()) return -1;
  for (const EmbeddedImage &image : m.embedded_images)
    if (image.slot == slot && !image.bytes.empty())
      return builder->texture(m.textures[slot], image.head + image.bytes);
  return builder->texture(model_texture_file(model_file, m.textures[slot]));
}

void add_object_surfaces(mo_object *object, const Model &m, const std::string &model_file,
                         Builder *builder, ViewMesh *mesh) {
  object_calc_normals_force(object);
  const int texture =
      object->has_texture ? texture_of_slot(m, object->texture_id, model_file, builder) : -1;
  builder->begin_part(texture);
  std::vector<mo_svertex *> corners;
  std::vector<std::uint32_t> ring;
  for (mo_list_node *node = object->surfaces; node != nullptr; node = node->next) {
    mo_surface *surface = static_cast<mo_surface *>(node->item);
    corners.clear();
    for (mo_list_node *c = surface->svertices; c != nullptr; c = c->next)
      corners.push_back(static_cast<mo_svertex *>(c->item));
    if (corners.size() < 3) continue;  // lines and points are not exported as faces
    const Colour colour = colour_of(m, surface->material);
    const bool flat = surface_get_shading(surface) == 0;
    const bool twosided = surface_get_twosided(surface) != 0;
    ++mesh->faces;
    if (twosided) mesh->twosided_triangles += corners.size() - 2;
    ring.clear();
    for (const mo_svertex *corner : corners) {
      const float zero[3] = {0, 0, 0};
      const float *position = corner->vertex != nullptr ? &corner->vertex->x : zero;
      ring.push_back(builder->vertex(position, flat ? surface->normal : corner->normal,
                                     corner->u, corner->v, colour.rgba));
    }
    for (size_t k = 1; k + 1 < ring.size(); ++k)
      mesh->indices.insert(mesh->indices.end(), {ring[0], ring[k], ring[k + 1]});
  }
}

}  // namespace

ViewMesh mesh_of_model(const std::string &model_file) {
  ViewMesh mesh;
  Builder builder(&mesh);
  const Model &m = model();
  // Tree order, as the window's object list: an object, then its children.
  std::vector<mo_object *> order;
  std::vector<size_t> parent_of;
  std::vector<std::pair<mo_object *, size_t>> stack;
  if (mo_object *world = m.world()) stack.push_back({world, SIZE_MAX});
  std::vector<mo_object *> children;
  while (!stack.empty()) {
    const auto item = stack.back();
    stack.pop_back();
    const size_t index = order.size();
    order.push_back(item.first);
    parent_of.push_back(item.second);
    children.clear();
    for (mo_list_node *node = item.first->children; node != nullptr; node = node->next)
      children.push_back(static_cast<mo_object *>(node->item));
    for (auto child = children.rbegin(); child != children.rend(); ++child)
      stack.push_back({*child, index});
  }
  mesh.subtree.resize(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    mesh.subtree[i].first = mesh.indices.size();
    builder.new_object();
    if (order[i]->type == MO_OBJ_POLYGON)
      add_object_surfaces(order[i], m, model_file, &builder, &mesh);
    mesh.subtree[i].second = mesh.indices.size();
  }
  // A subtree ends where its last descendant ends.
  for (size_t i = order.size(); i-- > 0;)
    if (parent_of[i] != SIZE_MAX)
      mesh.subtree[parent_of[i]].second =
          std::max(mesh.subtree[parent_of[i]].second, mesh.subtree[i].second);
  builder.finish();
  return mesh;
}

namespace {

// A material of a .x read back: its diffuse colour into *COLOUR, its
// texture (where its file is found beside FILE) into *TEXTURE, and a
// texture not found into the mesh's list of missing ones.
void read_x_material(const aiMaterial &material, const std::string &file, Builder *builder,
                     ViewMesh *mesh, Colour *colour, int *texture) {
  aiColor4D diffuse(0.8f, 0.8f, 0.8f, 1.0f);
  material.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
  colour->rgba[0] = colour_byte(diffuse.r);
  colour->rgba[1] = colour_byte(diffuse.g);
  colour->rgba[2] = colour_byte(diffuse.b);
  aiString path;
  if (material.GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS) return;
  const std::string found = model_texture_file(file, path.C_Str());
  *texture = builder->texture(found);
  auto &missing = mesh->missing_textures;
  if (found.empty() && std::find(missing.begin(), missing.end(), path.C_Str()) == missing.end())
    missing.push_back(path.C_Str());
}

// The polygon faces of a mesh of a .x read back, as fans of triangles in
// world space (TRANSFORM; TURN for the normals).
void add_x_faces(const aiMesh &m, const aiMatrix4x4 &transform, const aiMatrix3x3 &turn,
                 const Colour &colour, Builder *builder, ViewMesh *mesh) {
  for (unsigned f = 0; f < m.mNumFaces; ++f) {
    const aiFace &face = m.mFaces[f];
    if (face.mNumIndices < 3) continue;
    ++mesh->faces;
    // A face without normals takes its plane's.
    aiVector3D plane = (m.mVertices[face.mIndices[1]] - m.mVertices[face.mIndices[0]]) ^
                       (m.mVertices[face.mIndices[2]] - m.mVertices[face.mIndices[0]]);
    plane = (turn * plane).NormalizeSafe();
    for (unsigned c = 1; c + 1 < face.mNumIndices; ++c) {
      for (unsigned index : {face.mIndices[0], face.mIndices[c], face.mIndices[c + 1]}) {
        const aiVector3D p = transform * m.mVertices[index];
        const aiVector3D n = m.HasNormals() ? (turn * m.mNormals[index]).NormalizeSafe() : plane;
        const float position[3] = {p.x, p.y, p.z};
        const float normal[3] = {n.x, n.y, n.z};
        const bool uv = m.HasTextureCoords(0);
        builder->add(position, normal, uv ? m.mTextureCoords[0][index].x : 0.0f,
                     uv ? m.mTextureCoords[0][index].y : 0.0f, colour.rgba);
      }
    }
  }
}

}  // namespace

bool mesh_of_x_file(const std::string &file, ViewMesh *mesh, std::string *error) {
  *mesh = ViewMesh();
  if (!is_regular_file(file)) {
    *error = file + ": no such file";
    return false;
  }
  Assimp::Importer importer;
  const aiScene *scene = importer.ReadFile(file, 0);
  if (scene == nullptr || scene->mRootNode == nullptr) {
    *error = file + ": " + importer.GetErrorString();
    return false;
  }
  Builder builder(mesh);
  std::vector<Colour> colours(scene->mNumMaterials);
  std::vector<int> textures(scene->mNumMaterials, -1);
  for (unsigned i = 0; i < scene->mNumMaterials; ++i)
    read_x_material(*scene->mMaterials[i], file, &builder, mesh, &colours[i], &textures[i]);
  std::vector<std::pair<const aiNode *, aiMatrix4x4>> stack{{scene->mRootNode, aiMatrix4x4()}};
  while (!stack.empty()) {
    const auto item = stack.back();
    stack.pop_back();
    const aiNode *node = item.first;
    const aiMatrix4x4 transform = item.second * node->mTransformation;
    aiMatrix3x3 turn(transform);
    turn.Inverse().Transpose();
    for (unsigned k = 0; k < node->mNumMeshes; ++k) {
      const aiMesh *m = scene->mMeshes[node->mMeshes[k]];
      const unsigned material = m->mMaterialIndex < colours.size() ? m->mMaterialIndex : 0;
      const Colour colour = material < colours.size() ? colours[material] : Colour();
      builder.new_object();
      builder.begin_part(material < textures.size() ? textures[material] : -1);
      add_x_faces(*m, transform, turn, colour, &builder, mesh);
    }
    for (unsigned c = node->mNumChildren; c-- > 0;)
      stack.push_back({node->mChildren[c], transform});
  }
  builder.finish();
  return true;
}

std::string compare_meshes(const ViewMesh &model, const ViewMesh &file, bool *agree) {
  char box[200];
  std::snprintf(box, sizeof box, "box %.4g %.4g %.4g to %.4g %.4g %.4g", file.min[0],
                file.min[1], file.min[2], file.max[0], file.max[1], file.max[2]);
  std::vector<std::string> differ;
  // A two-sided polygon is written twice, once for each side; a file may
  // also hold polygons as triangles: triangles count the same either way.
  const std::uint64_t t = model.triangles();
  if (file.triangles() != t && file.triangles() != t + model.twosided_triangles)
    differ.push_back("the model has " + std::to_string(t) + " triangles, the file " +
                     std::to_string(file.triangles()));
  // Positions a few bits apart may fall either side of the grid they are
  // counted on: a difference of one in two hundred is no difference.
  const std::uint64_t apart = file.positions > model.positions ? file.positions - model.positions
                                                                : model.positions - file.positions;
  if (apart > model.positions / 200)
    differ.push_back("the model has " + std::to_string(model.positions) +
                     " vertex positions, the file " + std::to_string(file.positions));
  float size = 0;
  for (int i = 0; i < 3; ++i) size = std::max(size, model.max[i] - model.min[i]);
  const float tolerance = std::max(1e-5f, size * 1e-4f);
  bool box_agrees = true;
  for (int i = 0; i < 3; ++i)
    box_agrees = box_agrees && std::fabs(model.min[i] - file.min[i]) <= tolerance &&
                 std::fabs(model.max[i] - file.max[i]) <= tolerance;
  if (!box_agrees) {
    char line[480];
    std::snprintf(line, sizeof line,
                  "the box differs: model %.4g %.4g %.4g to %.4g %.4g %.4g, file %s",
                  model.min[0], model.min[1], model.min[2], model.max[0], model.max[1],
                  model.max[2], box + 4);
    differ.push_back(line);
  }
  if (!file.missing_textures.empty())
    differ.push_back(std::to_string(file.missing_textures.size()) +
                     (file.missing_textures.size() == 1 ? " texture" : " textures") +
                     " not found beside the .x (" + file.missing_textures[0] +
                     (file.missing_textures.size() > 1 ? ", ..." : "") + ")");
  *agree = differ.empty();
  if (*agree)
    return "The .x agrees with the model: " + std::to_string(file.faces) + " faces (" +
           std::to_string(file.triangles()) + " triangles), " +
           std::to_string(file.positions) + " vertex positions, " + box;
  std::string text = "The .x differs: ";
  for (size_t i = 0; i < differ.size(); ++i) text += (i ? "; " : "") + differ[i];
  return text;
}

}  // namespace gui
}  // namespace molv
