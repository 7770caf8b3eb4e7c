/*
 * The view's triangles: polygons become fans of triangles (the view only
 * draws; the export keeps the polygons), corners keep their own normal and
 * texture coordinates, and each object's triangles follow its parent's, so
 * that an object and everything below it are one run of the buffer (the
 * view outlines a chosen object by that run's silhouette).
 */
#include "gui/view_mesh.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

#include "api/model.h"
#include "files/path_parts.h"
#include "files/texture_file.h"

extern "C" {
void object_calc_normals_force(mo_object *object);
int surface_get_shading(mo_surface *surface);
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
    bounds();
  }

 private:
  void close_part() {
    if (!mesh_->parts.empty())
      mesh_->parts.back().count = mesh_->indices.size() - mesh_->parts.back().first;
  }

  void bounds() {
    if (mesh_->vertices.empty()) return;
    for (int i = 0; i < 3; ++i)
      mesh_->min[i] = mesh_->max[i] = mesh_->vertices[0].position[i];
    for (const ViewVertex &v : mesh_->vertices)
      for (int i = 0; i < 3; ++i) {
        mesh_->min[i] = std::min(mesh_->min[i], v.position[i]);
        mesh_->max[i] = std::max(mesh_->max[i], v.position[i]);
      }
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
    ++mesh->faces;
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

// The colour a material of a .x gives the faces it is on.
Colour colour_of(const XMaterial &material) {
  Colour colour;
  for (int i = 0; i < 3; ++i) colour.rgba[i] = colour_byte(material.colour[i]);
  return colour;
}

}  // namespace

ViewMesh mesh_of_x_scene(const XScene &scene, const std::string &file) {
  ViewMesh mesh;
  Builder builder(&mesh);
  std::vector<int> textures(scene.materials.size(), -1);
  for (std::size_t i = 0; i < scene.materials.size(); ++i) {
    const XMaterial &material = scene.materials[i];
    if (!material.has_texture || material.texture.empty()) continue;
    const std::string found = model_texture_file(file, material.texture);
    textures[i] = builder.texture(found);
    auto &missing = mesh.missing_textures;
    if (found.empty() &&
        std::find(missing.begin(), missing.end(), material.texture) == missing.end())
      missing.push_back(material.texture);
  }
  std::uint32_t mesh_number = UINT32_MAX;
  for (const XScene::Face &face : scene.faces) {
    if (face.corners < 3) continue;
    if (face.mesh != mesh_number) builder.new_object(), mesh_number = face.mesh;
    const bool has_material = face.material >= 0;
    builder.begin_part(has_material ? textures[static_cast<std::size_t>(face.material)] : -1);
    const Colour colour = has_material
                              ? colour_of(scene.materials[static_cast<std::size_t>(face.material)])
                              : Colour();
    ++mesh.faces;
    // A face without normals takes its plane's.
    const auto &p = scene.position;
    const std::size_t a = face.first;
    float plane[3];
    for (int i = 0; i < 3; ++i) {
      const int j = (i + 1) % 3, k = (i + 2) % 3;
      plane[i] = (p[a + 1][j] - p[a][j]) * (p[a + 2][k] - p[a][k]) -
                 (p[a + 1][k] - p[a][k]) * (p[a + 2][j] - p[a][j]);
    }
    const bool normals = scene.meshes[face.mesh].normals;
    std::uint32_t ring[3];
    for (std::uint32_t c = 1; c + 1 < face.corners; ++c) {
      const std::uint32_t corners[3] = {0, c, c + 1};
      for (int k = 0; k < 3; ++k) {
        const std::size_t at = a + corners[k];
        // t goes up the image in the view, v down it in the file.
        ring[k] = builder.vertex(p[at].data(), normals ? scene.normal[at].data() : plane,
                                 scene.uv[at][0], 1.0f - scene.uv[at][1], colour.rgba);
      }
      mesh.indices.insert(mesh.indices.end(), ring, ring + 3);
    }
  }
  builder.finish();
  return mesh;
}

}  // namespace gui
}  // namespace molv
