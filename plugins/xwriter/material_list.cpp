/*
 * The mesh material list.
 */
#include "xwriter/material_list.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/export_run.h"
#include "core/output.h"
#include "xwriter/host_array.h"

namespace qel {

int object_texture_id(mo_object *object) {
  if (!mo_object_has_texture(object)) return -1;
  const int id = mo_object_get_texture_index(object);
  return id >= 0 && id < mo_get_num_textures() ? id : -1;
}

namespace {

// The mesh's own numbering of the palette materials its surfaces use: the
// order of first use, over surfaces of any type.  The map has a slot 0 even
// for an empty palette, where every index counts as 0.
struct LocalNumbers {
  HostArray<int32_t> map;
  int32_t *local_of_palette = nullptr;
  int32_t *palette_of_local = nullptr;
  int32_t count = 0;
  int palette = 0;

  // False when the host has no memory for the map.
  bool number(const MeshSurface *surfaces, int32_t surface_count) {
    palette = mo_get_num_palette();
    const std::size_t slots = palette > 0 ? static_cast<std::size_t>(palette) : 1;
    if (!map.allocate(2 * slots)) return false;
    local_of_palette = map.items;
    palette_of_local = map.items + slots;
    std::fill(map.items, map.items + 2 * slots, -1);
    for (int32_t i = 0; i < surface_count; ++i) {
      const int index = palette_index(surfaces[i].material, palette);
      if (local_of_palette[index] >= 0) continue;
      local_of_palette[index] = count;
      palette_of_local[count] = index;
      debugf("   Material : %d - %d\n", index, count);
      ++count;
    }
    return true;
  }

  int32_t of(int material) const { return local_of_palette[palette_index(material, palette)]; }
};

// One number per face; ";;" closes the list after the last face.  A line
// is laid out in one reservation: a mesh has millions of faces.
void write_face_materials(Output &out, const MeshSurface *surfaces, int32_t count, int faces,
                          const LocalNumbers &numbers, bool textured) {
  int seen = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (!surfaces[i].polygon) continue;
    const int number = textured ? 0 : numbers.of(surfaces[i].material);
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
  }
}

// The references, in the order of the local numbers.
void write_references(ExportRun &run, int texture, const LocalNumbers &numbers) {
  Output &out = run.out;
  if (texture < 0) {
    for (int32_t local = 0; local < numbers.count; ++local) {
      out.printf("{Mat_%d}\n", numbers.palette_of_local[local]);
    }
  } else if (run.options.is_set(opt_texture_material)) {
    // The palette index the texture was first used with, as in the
    // texture's template.
    out.printf("{Tex_%d_%d}\n", texture,
               palette_index(run.maps.texture_material(texture), numbers.palette));
  } else {
    out.printf("{Tex_%d}\n", texture);
  }
}

}  // namespace

bool write_mesh_material_list(ExportRun &run, mo_object *object, const MeshSurface *surfaces,
                              int32_t count) {
  Output &out = run.out;
  LocalNumbers numbers;
  if (!numbers.number(surfaces, count)) {
    run.fail_out_of_memory();
    return false;
  }
  int faces = 0;
  for (int32_t i = 0; i < count; ++i) faces += surfaces[i].polygon ? 1 : 0;
  const int texture = object_texture_id(object);
  out.printf("\nMeshMaterialList {\n%d;\n%d;\n", texture >= 0 ? 1 : numbers.count, faces);
  write_face_materials(out, surfaces, count, faces, numbers, texture >= 0);
  write_references(run, texture, numbers);
  out.puts("}\n");
  return true;
}

}  // namespace qel
