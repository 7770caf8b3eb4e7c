/*
 * The mesh material list.
 */
#include "xwriter/material_list.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"
#include "xwriter/host_array.h"

namespace qel {

namespace {

// The palette index a surface's material stands for: beyond the palette
// counts as 0.
int palette_slot(int index, int palette) { return index < palette ? index : 0; }

}  // namespace

int object_texture_id(mo_object *object) {
  if (!mo_object_has_texture(object)) return -1;
  const int id = mo_object_get_texture_index(object);
  return id >= 0 && id < mo_get_num_textures() ? id : -1;
}

namespace {

// The surfaces of a mesh surface list, walked through the host's list.
class ListSurfaces {
 public:
  explicit ListSurfaces(mo_list surfaces) : head_(surfaces) {}
  // Calls visit(material, polygon) for each surface in order.
  template <typename Visit>
  void each(Visit visit) const {
    for (mo_list_node *node = head_; node != nullptr; node = node->next) {
      auto *surface = static_cast<mo_surface *>(node->item);
      visit(surface->material, surface_get_type(surface) == MO_SURF_POLYGON);
    }
  }

 private:
  mo_list head_;
};

// The same surfaces as the mesh writer read them into an array.
class ArraySurfaces {
 public:
  ArraySurfaces(const MeshSurface *surfaces, int32_t count) : surfaces_(surfaces), count_(count) {}
  template <typename Visit>
  void each(Visit visit) const {
    for (int32_t i = 0; i < count_; ++i) {
      visit(surfaces_[i].material, surfaces_[i].polygon);
    }
  }

 private:
  const MeshSurface *surfaces_;
  int32_t count_;
};

template <typename Surfaces>
bool write_material_list(Output &out, mo_object *object, const Surfaces &surfaces) {
  // The map has a slot 0 even for an empty palette, where every index
  // counts as 0.
  const int palette = mo_get_num_palette();
  const std::size_t slots = palette > 0 ? static_cast<std::size_t>(palette) : 1;
  HostArray<int32_t> map;
  if (!map.allocate(2 * slots)) {
    export_fail_out_of_memory();
    return false;
  }
  int32_t *local_of_palette = map.items;
  int32_t *palette_of_local = map.items + slots;
  std::fill(map.items, map.items + 2 * slots, -1);

  // 1. Local numbers in the order of first use, over surfaces of any type,
  // textured objects included.
  int32_t next_local = 0;
  int faces = 0;
  surfaces.each([&](int material, bool polygon) {
    const int index = palette_slot(material, palette);
    if (local_of_palette[index] < 0) {
      local_of_palette[index] = next_local;
      palette_of_local[next_local] = index;
      debugf("   Material : %d - %d\n", index, next_local);
      ++next_local;
    }
    // 2. The faces.
    if (polygon) ++faces;
  });

  // 3. Header.
  const int texture = object_texture_id(object);
  out.printf("\nMeshMaterialList {\n%d;\n%d;\n", texture >= 0 ? 1 : next_local, faces);

  // 4. One number per face; ";;" closes the list after the last face.  A
  // line is laid out in one reservation: a mesh has millions of faces.
  int seen = 0;
  surfaces.each([&](int material, bool polygon) {
    if (!polygon) return;
    const int number = texture >= 0 ? 0 : local_of_palette[palette_slot(material, palette)];
    char *const start = out.reserve_tail(Output::kIntegerMax + 3);
    char *p = Output::put_integer(start, number);
    if (++seen == faces) {
      std::memcpy(p, ";;\n", 3);
      p += 3;
    } else {
      *p++ = ',';
      *p++ = '\n';
    }
    out.commit_tail(static_cast<std::size_t>(p - start));
  });

  // 5. References, in the order of the local numbers.
  if (texture >= 0) {
    if (option_is_set(opt_texture_material)) {
      // The palette index the texture was first used with, by the same
      // rule as the texture's template: beyond the palette counts as 0.
      const ExportState &s = export_state();
      int index =
          (s.tex_material != nullptr && texture < s.tex_count) ? s.tex_material[texture] : 0;
      if (index < 0 || index >= palette) index = 0;
      out.printf("{Tex_%d_%d}\n", texture, index);
    } else {
      out.printf("{Tex_%d}\n", texture);
    }
  } else {
    for (int32_t local = 0; local < next_local; ++local) {
      out.printf("{Mat_%d}\n", palette_of_local[local]);
    }
  }

  // 6.
  out.puts("}\n");
  return true;
}

}  // namespace

bool write_mesh_material_list(Output &out, mo_object *object, mo_list surfaces) {
  return write_material_list(out, object, ListSurfaces(surfaces));
}

bool write_mesh_material_list(Output &out, mo_object *object, const MeshSurface *surfaces,
                              int32_t count) {
  return write_material_list(out, object, ArraySurfaces(surfaces, count));
}

}  // namespace qel
