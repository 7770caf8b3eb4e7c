/*
 * The model a plug-in reads: the world and its objects, surfaces, the
 * palette and the texture table, with the host's query functions and the
 * host block of the scene (version, version text, info text).
 *
 * Every query is null-safe and range-safe: a plug-in with a bug gets a
 * neutral answer (an empty name, no data, null), not a crash in the host.
 */
#include "api/model.h"

#include "api/lists.h"
#include "api/run_outcome.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>


namespace molv {
namespace {

std::unique_ptr<Model> &current() {
  static std::unique_ptr<Model> *holder = new std::unique_ptr<Model>;
  return *holder;
}

void set_rgb(float out[3], float r, float g, float b) {
  out[0] = r;
  out[1] = g;
  out[2] = b;
}

// Handed out for a null object, so that a caller that reads three floats
// reads zeros.  Reset on each use: a caller may have written into it.
float *zero_centre() {
  static float centre[3];
  centre[0] = centre[1] = centre[2] = 0.0f;
  return centre;
}

}  // namespace

Model &model() {
  std::unique_ptr<Model> &holder = current();
  if (!holder) holder = make_empty_model();
  return *holder;
}

void install_model(std::unique_ptr<Model> next) { current() = std::move(next); }

std::unique_ptr<mo_material> make_default_material() {
  auto material = std::make_unique<mo_material>();
  set_rgb(material->diffuse, 1.0f, 1.0f, 1.0f);
  set_rgb(material->ambient, 0.2f, 0.2f, 0.2f);
  set_rgb(material->specular, 0.0f, 0.0f, 0.0f);
  set_rgb(material->emissive, 0.0f, 0.0f, 0.0f);
  material->shininess = 0.0f;
  material->transparency = 0.0f;
  return material;
}

std::unique_ptr<Model> make_empty_model() {
  auto m = std::make_unique<Model>();
  auto world = std::make_unique<mo_object>();
  world->type = MO_OBJ_WORLD;
  world->name = "world";
  m->objects.push_back(std::move(world));
  m->palette.push_back(make_default_material());
  return m;
}

void clear_model() { install_model(make_empty_model()); }

void bounding_box_centre(ArrayView<float> positions, float centre[3]) {
  if (positions.size() < 3) {
    centre[0] = centre[1] = centre[2] = 0.0f;
    return;
  }
  for (size_t axis = 0; axis < 3; ++axis) {
    float low = positions[axis];
    float high = positions[axis];
    for (size_t i = 3 + axis; i < positions.size(); i += 3) {
      float value = positions[i];
      if (value < low) low = value;
      if (value > high) high = value;
    }
    centre[axis] = (low + high) / 2.0f;
  }
}

namespace {

void fill_vertices(mo_object *object, ArrayView<float> positions) {
  for (size_t i = 0; i < object->vertex_store.size(); ++i) {
    Vertex &vertex = object->vertex_store[i];
    vertex.pos.x = positions[3 * i];
    vertex.pos.y = positions[3 * i + 1];
    vertex.pos.z = positions[3 * i + 2];
    vertex.index = static_cast<int32_t>(i);
  }
}

// The records of surface S, whose corners start at CORNER of the object's
// store, its corner list linked from HEAD over the bare nodes at LINKS.
void fill_surface(mo_object *object, const SurfaceView &surfaces, size_t s, size_t corner,
                  ListNode *head, mo_list_node *links) {
  const SurfaceFace &face = surfaces.face(s);
  Surface &surface = object->surface_store[s];
  for (size_t k = 0; k < face.corners; ++k) {
    SVertex &sv = object->svertex_store[corner + k];
    sv.rec.vertex =
        &object->vertex_store[static_cast<size_t>(surfaces.vertex_index(corner + k))].pos;
    sv.rec.u = surfaces.u(corner + k);
    sv.rec.v = surfaces.v(corner + k);
    sv.rec.normal[0] = sv.rec.normal[1] = sv.rec.normal[2] = 0.0f;
    sv.set_owner(Owner::kModel);
  }
  surface.rec.svertices = link_model_records(head, links, object->svertex_store.data() + corner,
                                             sizeof(SVertex), face.corners);
  surface.rec.vertex_count = static_cast<uint16_t>(face.corners);
  surface.rec.material = face.material;
  surface.rec.normal[0] = surface.rec.normal[1] = surface.rec.normal[2] = 0.0f;
  surface.type = face.type;
  surface.shading = face.shading;
  surface.twosided = face.twosided;
  surface.owner = Owner::kModel;
  surface.block_corners = 0;
}

}  // namespace

void build_object_from(mo_object *object, ArrayView<float> positions, const SurfaceView &surfaces,
                       const std::vector<mo_object *> &children) {
  const size_t vertex_count = positions.size() / 3;
  const size_t surface_count = surfaces.size();
  const size_t corner_count = surfaces.corner_count();

  object->vertex_store.allocate(vertex_count);
  object->surface_store.allocate(surface_count);
  object->svertex_store.allocate(corner_count);
  // One head per list that may be non-empty; the other nodes bare, in list
  // order, and a zero node after the last.
  object->head_store.allocate(surface_count + 3);
  object->link_store.allocate(vertex_count + surface_count + children.size() + corner_count + 1);
  object->link_store[object->link_store.size() - 1] = mo_list_node{nullptr, nullptr};

  // Every record's item is the record itself (the plug-in's part comes
  // first), so the lists are linked over the stores directly.
  static_assert(offsetof(Vertex, pos) == 0 && offsetof(Surface, rec) == 0,
                "a record starts with what a plug-in reads");
  fill_vertices(object, positions);
  ListNode *heads = object->head_store.data();
  mo_list_node *links = object->link_store.data();
  const auto tail_of = [](size_t count) { return count > 0 ? count - 1 : 0; };
  object->vertices =
      link_model_records(heads++, links, object->vertex_store.data(), sizeof(Vertex), vertex_count);
  links += tail_of(vertex_count);

  size_t corner = 0;
  for (size_t s = 0; s < surface_count; ++s) {
    const size_t corners = surfaces.face(s).corners;
    fill_surface(object, surfaces, s, corner, heads++, links);
    links += tail_of(corners);
    corner += corners;
  }

  object->surfaces = link_model_records(heads++, links, object->surface_store.data(),
                                        sizeof(Surface), surface_count);
  links += tail_of(surface_count);

  const std::vector<void *> items(children.begin(), children.end());
  object->children = link_model_list(heads, links, items.data(), items.size());
}

void build_object(mo_object *object, const std::vector<float> &positions,
                  const std::vector<SurfaceSpec> &surfaces,
                  const std::vector<mo_object *> &children) {
  SurfaceSet set;
  size_t corners = 0;
  for (const SurfaceSpec &shape : surfaces) corners += shape.vertex_index.size();
  set.reserve(surfaces.size(), corners);
  for (const SurfaceSpec &shape : surfaces) {
    set.add_surface(shape.type, shape.shading, shape.twosided, shape.material);
    for (size_t k = 0; k < shape.vertex_index.size(); ++k) {
      set.add_corner(shape.vertex_index[k], shape.u[k], shape.v[k]);
    }
  }
  build_object_from(object, positions, set, children);
}

void keep_model_normals(mo_object *object, std::vector<float> normals) {
  if (normals.size() != 3 * object->svertex_store.size()) return;
  for (size_t i = 0; i < object->svertex_store.size(); ++i) {
    std::memcpy(object->svertex_store[i].rec.normal, &normals[3 * i], 3 * sizeof(float));
  }
  object->model_normals = std::move(normals);
}

double host_version() { return model().version; }

void set_host_version(double version) { model().version = version; }

std::string host_version_string() { return model().version_string; }

std::string host_info_text() {
  const Model &m = model();
  if (m.has_info) return m.info;
  long objects = 0;
  long vertices = 0;
  long surfaces = 0;
  for (const auto &object : m.objects) {
    if (object->in_subdivision) continue;
    if (object.get() != m.world()) ++objects;
    vertices += list_count(object->vertices);
    surfaces += list_count(object->surfaces);
  }
  char text[160];
  std::snprintf(text, sizeof text, "Objects : %ld\nVertices : %ld\nSurfaces : %ld\n", objects,
                vertices, surfaces);
  return text;
}

}  // namespace molv

extern "C" {

// ---- objects ---------------------------------------------------------------

mo_object *mo_get_world(void) { return molv::model().world(); }

int mo_object_get_type(mo_object *object) { return object != nullptr ? object->type : -1; }

const char *mo_object_get_name(mo_object *object) {
  return object != nullptr ? object->name.c_str() : "";
}

const char *mo_object_get_data(mo_object *object) {
  return object != nullptr && object->has_data ? object->data.c_str() : nullptr;
}

float *mo_object_get_centre(mo_object *object) {
  return object != nullptr ? object->centre : molv::zero_centre();
}

void mo_object_get_contents(mo_object *object, int *vertex_count, int *surface_count,
                            int *child_count, mo_list *vertices, mo_list *surfaces,
                            mo_list *children) {
  mo_list v = object != nullptr ? object->vertices : nullptr;
  mo_list s = object != nullptr ? object->surfaces : nullptr;
  mo_list c = object != nullptr ? object->children : nullptr;
  if (vertex_count != nullptr) *vertex_count = list_count(v);
  if (surface_count != nullptr) *surface_count = list_count(s);
  if (child_count != nullptr) *child_count = list_count(c);
  if (vertices != nullptr) *vertices = v;
  if (surfaces != nullptr) *surfaces = s;
  if (children != nullptr) *children = c;
}

int mo_object_has_texture(mo_object *object) {
  return object != nullptr && object->has_texture ? 1 : 0;
}

int mo_object_get_texture_index(mo_object *object) {
  return object != nullptr && object->has_texture ? object->texture_id : -1;
}

float mo_object_get_texture_repeat_x(mo_object *object) {
  return object != nullptr ? object->texture_repeat[0] : 1.0f;
}

float mo_object_get_texture_repeat_y(mo_object *object) {
  return object != nullptr ? object->texture_repeat[1] : 1.0f;
}

float mo_object_get_texture_offset_x(mo_object *object) {
  return object != nullptr ? object->texture_offset[0] : 0.0f;
}

float mo_object_get_texture_offset_y(mo_object *object) {
  return object != nullptr ? object->texture_offset[1] : 0.0f;
}

int mo_object_is_subdivided(mo_object *object) {
  return object != nullptr && object->subdivision != nullptr ? 1 : 0;
}

mo_object *mo_object_get_subdivision(mo_object *object) {
  return object != nullptr ? object->subdivision : nullptr;
}

// ---- surfaces ----------------------------------------------------------------

int surface_get_type(mo_surface *surface) {
  return surface != nullptr ? molv::as_surface(surface)->type : -1;
}

int surface_get_shading(mo_surface *surface) {
  return surface != nullptr ? molv::as_surface(surface)->shading : 1;
}

int surface_get_twosided(mo_surface *surface) {
  return surface != nullptr ? molv::as_surface(surface)->twosided : 0;
}

mo_svertex *surface_get_svertex_at(mo_surface *surface, int index) {
  if (surface == nullptr) return nullptr;
  mo_list_node *node = molv::list_node_at(surface->svertices, index);
  return node != nullptr ? static_cast<mo_svertex *>(node->item) : nullptr;
}

// ---- palette and textures ------------------------------------------------

int mo_get_num_palette(void) { return static_cast<int>(molv::model().palette.size()); }

mo_material *mo_palette_get_material(int index) {
  const auto &palette = molv::model().palette;
  if (index < 0 || static_cast<size_t>(index) >= palette.size()) return nullptr;
  return palette[static_cast<size_t>(index)].get();
}

void mo_entity_get_rgb_value(mo_material *material, const char *name, float rgb[3]) {
  if (rgb == nullptr) return;
  const float *source = nullptr;
  if (material != nullptr && name != nullptr) {
    if (std::strcmp(name, "diffuse") == 0) source = material->diffuse;
    if (std::strcmp(name, "ambient") == 0) source = material->ambient;
    if (std::strcmp(name, "specular") == 0) source = material->specular;
    if (std::strcmp(name, "emissive") == 0) source = material->emissive;
  }
  for (int i = 0; i < 3; ++i) rgb[i] = source != nullptr ? source[i] : 0.0f;
}

void mo_entity_get_float_value(mo_material *material, const char *name, float *value) {
  if (value == nullptr) return;
  *value = 0.0f;
  if (material == nullptr || name == nullptr) return;
  if (std::strcmp(name, "shininess") == 0) *value = material->shininess;
  if (std::strcmp(name, "transparency") == 0) *value = material->transparency;
}

int mo_get_num_textures(void) { return static_cast<int>(molv::model().textures.size()); }

const char *texture_id_to_name(int id) {
  const auto &textures = molv::model().textures;
  if (id < 0 || static_cast<size_t>(id) >= textures.size()) return nullptr;
  const char *name = textures[static_cast<size_t>(id)].c_str();
  molv::note_texture_named(name);
  return name;
}

}  // extern "C"
