/*
 * The mesh material list.
 */
#include "xwriter/material_list.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"

namespace qel {

namespace {

struct HostFree {
  void operator()(void *pointer) const { myfree(pointer); }
};

// The palette index a surface's material stands for: beyond the palette
// counts as 0.
int palette_slot(int index, int palette) { return index < palette ? index : 0; }

}  // namespace

int object_texture_id(mo_object *object) {
  if (!mo_object_has_texture(object)) return -1;
  const int id = mo_object_get_texture_index(object);
  return id >= 0 && id < mo_get_num_textures() ? id : -1;
}

bool write_mesh_material_list(Output &out, mo_object *object, mo_list surfaces) {
  // The map has a slot 0 even for an empty palette, where every index
  // counts as 0.
  const int palette = mo_get_num_palette();
  const std::size_t slots = palette > 0 ? static_cast<std::size_t>(palette) : 1;
  std::unique_ptr<int32_t[], HostFree> map(
      static_cast<int32_t *>(myalloc(2 * slots * sizeof(int32_t))));
  if (map == nullptr) {
    export_fail_out_of_memory();
    return false;
  }
  int32_t *local_of_palette = map.get();
  int32_t *palette_of_local = map.get() + slots;
  for (std::size_t i = 0; i < 2 * slots; ++i) map[i] = -1;

  // 1. Local numbers in the order of first use, over surfaces of any type,
  // textured objects included.
  int32_t next_local = 0;
  int faces = 0;
  mo_list_node *last_face = nullptr;
  for (mo_list_node *node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    const int index = palette_slot(surface->material, palette);
    if (local_of_palette[index] < 0) {
      local_of_palette[index] = next_local;
      palette_of_local[next_local] = index;
      debugf("   Material : %d - %d\n", index, next_local);
      ++next_local;
    }
    // 2. The faces.
    if (surface_get_type(surface) == MO_SURF_POLYGON) {
      ++faces;
      last_face = node;
    }
  }

  // 3. Header.
  const int texture = object_texture_id(object);
  out.printf("\nMeshMaterialList {\n%d;\n%d;\n", texture >= 0 ? 1 : next_local, faces);

  // 4. One number per face; ";;" closes the list after the last face.
  for (mo_list_node *node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface_get_type(surface) != MO_SURF_POLYGON) continue;
    out.integer(texture >= 0 ? 0 : local_of_palette[palette_slot(surface->material, palette)]);
    out.puts(node == last_face ? ";;\n" : ",\n");
  }

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

}  // namespace qel
