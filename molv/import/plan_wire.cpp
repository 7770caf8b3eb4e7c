/*
 * The plan's fields, once for both ways.
 */
#include "import/plan_wire.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "files/write_all.h"

namespace molv {
namespace {

// A vector of records: its count, then each record's fields.
template <class Wire, class Records, class Field>
bool records(Wire &wire, Records &list, const Field &field) {
  if (!wire.count(list)) return false;
  for (auto &record : list)
    if (!field(record)) return false;
  return true;
}

template <class Wire, class Plan>
bool wire_plan(Wire &w, Plan &plan) {
  constexpr bool kIn = !std::is_const<Plan>::value;
  auto &model = *plan.model;
  const bool materials = records(w, model.palette, [&w](auto &material) {
    if constexpr (kIn) material = std::make_unique<mo_material>();
    auto &m = *material;
    return w.text(m.name) && w.pod(m.diffuse) && w.pod(m.ambient) && w.pod(m.specular) &&
           w.pod(m.emissive) && w.pod(m.shininess) && w.pod(m.transparency);
  });
  const bool textures = materials && records(w, model.textures, [&w](auto &name) {
    return w.text(name);
  });
  const bool images = textures && records(w, model.embedded_images, [&w](auto &image) {
    return w.pod(image.slot) && w.pod(image.index) && w.text(image.name) &&
           w.text(image.extension) && w.text(image.head) && w.text(image.bytes);
  });
  auto &notes = plan.notes;
  const auto name = [&w](auto &text) { return w.text(text); };
  const bool noted =
      images && w.pod(notes.lights) && w.pod(notes.cameras) && w.pod(notes.line_faces) &&
      w.pod(notes.point_faces) && w.pod(notes.non_finite_faces) && w.pod(notes.empty_meshes) &&
      records(w, notes.empty_mesh_names, name) && records(w, notes.empty_groups, name) &&
      w.pod(notes.skinned_meshes) && w.pod(notes.bones) && w.pod(notes.morphed_meshes) &&
      w.pod(notes.coloured_meshes) && w.pod(notes.uv_set_meshes) && w.pod(notes.uv_meshes) &&
      w.pod(notes.untextured_uv_meshes) &&
      records(w, notes.renamed, [&w](auto &r) { return w.text(r.from) && w.text(r.to); }) &&
      w.pod(notes.file);
  // The objects' arrays: from the plan's vectors or views, into views of
  // the answer.
  const auto arrays = [&w](auto &object) {
    if constexpr (kIn) {
      auto &in = object.received;
      in.mapped = true;
      return w.view(in.positions) && w.view(in.surfaces.faces) &&
             w.view(in.surfaces.vertex_indices) && w.view(in.surfaces.uvs) &&
             w.view(in.normals);
    } else {
      const SurfaceView surfaces = object.surface_values();
      return w.array(object.position_values()) && w.array(surfaces.faces) &&
             w.array(surfaces.vertex_indices) && w.array(surfaces.uvs) &&
             w.array(object.normal_values());
    }
  };
  return noted && records(w, plan.objects, [&w, &arrays](auto &object) {
           return w.pod(object.type) && w.text(object.name) && arrays(object) &&
                  w.array(object.children) && w.pod(object.texture_id) &&
                  w.pod(object.light_position) && w.pod(object.subtree.empty) &&
                  w.pod(object.subtree.low) && w.pod(object.subtree.high) && w.pod(object.keep);
         });
}

// Whether PLAN holds together as the builder needs it: children after
// their parents and in the plan, faces whose corners are the corners
// there are and name vertices there are, a value for each corner of the
// arrays that have one, textures and images in the table.  The child's
// own walk makes such plans; one that is not is refused whole.
bool plan_is_sound(const ModelPlan &plan) {
  const Model &model = *plan.model;
  const size_t textures = model.textures.size();
  for (const EmbeddedImage &image : model.embedded_images)
    if (image.slot < 0 || static_cast<size_t>(image.slot) >= textures) return false;
  for (const auto &material : model.palette)
    if (material == nullptr) return false;
  if (plan.objects.empty()) return false;
  for (size_t i = 0; i < plan.objects.size(); ++i) {
    const Planned &object = plan.objects[i];
    for (const size_t child : object.children)
      if (child <= i || child >= plan.objects.size()) return false;
    if (object.texture_id >= 0 && static_cast<size_t>(object.texture_id) >= textures) return false;
    const SurfaceView surfaces = object.surface_values();
    const ArrayView<float> positions = object.position_values();
    const ArrayView<float> normals = object.normal_values();
    const size_t corners = surfaces.corner_count();
    size_t counted = 0;
    for (const SurfaceFace &face : surfaces.faces) {
      // An empty palette gets its one white material when the model is built.
      if (face.material >= std::max<size_t>(model.palette.size(), 1)) return false;
      counted += face.corners;
    }
    if (counted != corners || surfaces.uvs.size() != 2 * corners ||
        (!normals.empty() && normals.size() != 3 * corners) || positions.size() % 3 != 0)
      return false;
    const size_t vertices = positions.size() / 3;
    for (const int32_t vertex : surfaces.vertex_indices)
      if (vertex < 0 || static_cast<size_t>(vertex) >= vertices) return false;
  }
  return true;
}

}  // namespace

bool WireOut::bytes(const void *data, size_t size) {
  // Small fields are gathered; a large array goes in one write of its own.
  constexpr size_t kGathered = 64 * 1024;
  if (!ok_) return false;
  offset_ += size;
  if (gathered_.size() + size <= kGathered) {
    gathered_.append(static_cast<const char *>(data), size);
    return true;
  }
  ok_ = finish() && write_all(fd_, data, size);
  return ok_;
}

bool WireOut::align() {
  static const char kZeros[kWireAlign] = {};
  return bytes(kZeros, (kWireAlign - offset_ % kWireAlign) % kWireAlign);
}

bool WireOut::finish() {
  ok_ = ok_ && write_all(fd_, gathered_.data(), gathered_.size());
  gathered_.clear();
  return ok_;
}

bool WireIn::bytes(void *out, size_t size) {
  if (!ok_ || size > left_) return ok_ = false;
  if (size > 0) std::memcpy(out, data_, size);
  data_ += size;
  left_ -= size;
  return true;
}

bool WireIn::align() {
  const size_t skip = (kWireAlign - static_cast<size_t>(data_ - start_) % kWireAlign) % kWireAlign;
  if (!ok_ || skip > left_) return ok_ = false;
  data_ += skip;
  left_ -= skip;
  return true;
}

bool WireIn::text(std::string &s) {
  uint64_t size = 0;
  if (!pod(size) || size > left_) return ok_ = false;
  s.assign(data_, static_cast<size_t>(size));
  data_ += size;
  left_ -= size;
  return true;
}

bool send_plan(WireOut &out, const ModelPlan &plan) { return wire_plan(out, plan) && out.finish(); }

bool take_plan(WireIn &in, ModelPlan *plan) {
  return wire_plan(in, *plan) && in.ok() && plan_is_sound(*plan);
}

}  // namespace molv
