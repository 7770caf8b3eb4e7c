/*
 * The model's faces for the check of an export, walked in the plug-in's
 * order (an object, then its children in the order of its child list).
 */
#include "common/verify_model.h"

#include <algorithm>
#include <map>
#include <utility>

#include "api/model.h"
#include "common/plugin_options.h"
#include "core/options.h"

extern "C" {
void object_calc_normals_force(mo_object *object);
}

namespace molv {
namespace {

// A texture's name as the file's TextureFileName gives it.
std::string written_texture_name(const std::string &name, bool strip) {
  std::size_t start = name.size();
  if (strip && start > 0) {
    --start;  // the last character is never taken for a separator
    while (start > 0 && name[start - 1] != '/' && name[start - 1] != '\\' && name[start - 1] != ':')
      --start;
  } else {
    start = 0;
  }
  std::string written = name.substr(start);
  std::replace(written.begin(), written.end(), '"', '_');
  return written;
}

std::array<float, 4> colour_of(const Model &m, unsigned material) {
  std::array<float, 4> colour{1, 1, 1, 1};
  if (m.palette.empty()) return colour;
  const mo_material &p = *m.palette[material < m.palette.size() ? material : 0];
  return {p.diffuse[0], p.diffuse[1], p.diffuse[2], 1.0f - p.transparency};
}

class Collector {
 public:
  Collector(const std::string &options, ModelFaces *out) : out_(*out), m_(model()) {
    const auto set = [&options](qel::OptionIndex i) { return option_is_set(options, i); };
    materials_ = set(qel::opt_materials);
    textures_ = set(qel::opt_textures) && materials_;
    strip_ = set(qel::opt_strip_texture_path);
    first_colour_ = set(qel::opt_texture_material);
    surface_shading_ = set(qel::opt_surface_shading);
    subdivision_ = set(qel::opt_subdivision);
  }

  void object(mo_object *object) {
    if (object->type != MO_OBJ_POLYGON) return;
    mo_object *form = subdivision_ && object->subdivision != nullptr ? object->subdivision : object;
    object_calc_normals_force(form);
    form_ = form;
    const int texture = object->has_texture && object->texture_id >= 0 &&
                                static_cast<std::size_t>(object->texture_id) < m_.textures.size()
                            ? object->texture_id
                            : -1;
    const auto index = static_cast<std::uint32_t>(out_.objects.size());
    out_.objects.push_back(object->name);
    for (mo_list_node *node = form->surfaces; node != nullptr; node = node->next)
      surface(object, static_cast<mo_surface *>(node->item), texture, index);
    out_.vertex_count += static_cast<std::uint32_t>(form_->vertex_store.size());
  }

 private:
  // The look of a face: its texture's template when its object has one,
  // else its own material.
  std::uint32_t look_of(int texture, unsigned material, bool *own) {
    *own = texture < 0 || !materials_;
    const auto key = std::make_pair(*own ? -1 : texture, *own ? material : 0u);
    const auto found = look_of_.find(key);
    std::uint32_t look;
    if (found != look_of_.end()) {
      look = found->second;
    } else {
      look = static_cast<std::uint32_t>(out_.looks.size());
      look_of_.emplace(key, look);
      FaceLook l;
      const std::array<float, 4> colour =
          *own ? colour_of(m_, material) : std::array<float, 4>{1, 1, 1, 1};
      std::copy(colour.begin(), colour.end(), l.colour);
      l.has_texture = !*own && textures_;
      if (l.has_texture) l.texture = written_texture_name(m_.textures[texture], strip_);
      out_.looks.push_back(l);
      out_.texture_colours.emplace_back();
    }
    if (!*own) {
      // The template has the colours of the texture's first material.
      auto &colours = out_.texture_colours[look];
      const std::array<float, 4> colour =
          first_colour_ ? colour_of(m_, material) : std::array<float, 4>{1, 1, 1, 1};
      if (std::find(colours.begin(), colours.end(), colour) == colours.end()) {
        colours.push_back(colour);
        if (colours.size() > 1) ++out_.textured_own_colour;
      }
    }
    return look;
  }

  void surface(mo_object *object, mo_surface *surface, int texture, std::uint32_t index) {
    const Surface *s = as_surface(surface);
    if (s->type != MO_SURF_POLYGON || surface->vertex_count < 3) {
      ++out_.lines;
      return;
    }
    bool own = true;
    const std::uint32_t look = look_of(texture, surface->material, &own);
    const bool textured = textures_ && texture >= 0;
    out_.faces.push_back({static_cast<std::uint32_t>(out_.position.size()), surface->vertex_count,
                          index, look, s->twosided != 0, textured, own});
    const bool flat = surface_shading_ && s->shading == 0;
    for (mo_list_node *c = surface->svertices; c != nullptr; c = c->next) {
      const mo_svertex *corner = static_cast<const mo_svertex *>(c->item);
      const mo_vertex *v = corner->vertex;
      out_.vertex.push_back(vertex_number(v));
      out_.position.push_back(v != nullptr ? std::array<float, 3>{v->x, v->y, v->z}
                                           : std::array<float, 3>{0, 0, 0});
      const float *n = flat ? surface->normal : corner->normal;
      out_.normal.push_back({n[0], n[1], n[2]});
      out_.uv.push_back(
          {object->texture_offset[0] + corner->u * object->texture_repeat[0],
           object->texture_offset[1] + (1.0f - corner->v) * object->texture_repeat[1]});
    }
  }

  // The number of a vertex of the object's own store; kNoVertex for any
  // other.
  std::uint32_t vertex_number(const mo_vertex *v) const {
    if (v == nullptr) return ModelFaces::kNoVertex;
    const std::int32_t index = reinterpret_cast<const Vertex *>(v)->index;
    if (index < 0 || static_cast<std::size_t>(index) >= form_->vertex_store.size() ||
        &form_->vertex_store[static_cast<std::size_t>(index)].pos != v)
      return ModelFaces::kNoVertex;
    return out_.vertex_count + static_cast<std::uint32_t>(index);
  }

  ModelFaces &out_;
  const Model &m_;
  mo_object *form_ = nullptr;
  bool materials_, textures_, strip_, first_colour_, surface_shading_, subdivision_;
  std::map<std::pair<int, unsigned>, std::uint32_t> look_of_;
};

}  // namespace

ModelFaces model_faces(const std::string &options) {
  ModelFaces out;
  Collector collect(options, &out);
  std::vector<mo_object *> stack;
  if (mo_object *world = model().world()) stack.push_back(world);
  std::vector<mo_object *> children;
  while (!stack.empty()) {
    mo_object *object = stack.back();
    stack.pop_back();
    collect.object(object);
    children.clear();
    for (mo_list_node *node = object->children; node != nullptr; node = node->next)
      children.push_back(static_cast<mo_object *>(node->item));
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return out;
}

}  // namespace molv
