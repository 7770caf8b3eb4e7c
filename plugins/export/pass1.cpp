/*
 * Pass 1: the material and texture maps and the totals.
 *
 * Before anything is written, the whole object tree is walked once, depth
 * first from the world object, to find which palette materials and which
 * textures the written meshes use (so that only those get a template) and to
 * add up the surface, vertex and surface-vertex totals for the header, the
 * progress bar and the trace.
 *
 * The maps live in host memory and belong to the per-export state; the save
 * command frees them with free_maps() at the end of every run.  tex_material
 * lies behind tex_list in the same block, so one myfree releases both.
 *
 * Every palette index and texture id that comes from the host is checked
 * against the size the maps were made with: a palette index at or beyond it
 * counts as index 0, a texture id at or beyond it as "no texture", so no
 * entry outside a map is ever read or written.
 */
#include "export/pass1.h"

#include <cstddef>
#include <vector>

#include "binding/options.h"
#include "export/export_state.h"

namespace qel {

namespace {

// The numbers given out in order of first use; they serve the trace only.
int g_next_material_number = 0;
int g_next_texture_number = 0;

// Room for `count` entries, never a block of no bytes: an empty palette
// still gets a map (with no entries), and a host allocator may answer a
// request for nothing with null.
int32_t *allocate_entries(std::size_t count) {
  if (count == 0) count = 1;
  return static_cast<int32_t *>(myalloc(count * sizeof(int32_t)));
}

void fill_unclaimed(int32_t *entries, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) entries[i] = -1;
}

// Step 2: both maps, every entry -1.  False when the host has no memory
// for them; then neither map exists.
bool create_maps() {
  ExportState &s = export_state();
  g_next_texture_number = 0;
  g_next_material_number = 0;

  int palette = mo_get_num_palette();
  int textures = mo_get_num_textures();
  if (palette < 0) palette = 0;
  if (textures < 0) textures = 0;

  const auto palette_entries = static_cast<std::size_t>(palette);
  const auto texture_entries = static_cast<std::size_t>(textures);

  int32_t *mat_list = allocate_entries(palette_entries);
  if (mat_list == nullptr) return false;
  // tex_material directly behind tex_list, in the same block.
  int32_t *tex_list = allocate_entries(2 * texture_entries);
  if (tex_list == nullptr) {
    myfree(mat_list);
    return false;
  }
  fill_unclaimed(mat_list, palette_entries);
  fill_unclaimed(tex_list, 2 * texture_entries);

  s.mat_list = mat_list;
  s.mat_count = palette;
  s.tex_list = tex_list;
  s.tex_material = tex_list + textures;
  s.tex_count = textures;
  return true;
}

// The map slot of a surface's palette index: indices beyond the palette
// count as 0.  -1 when the palette is empty and there is no slot at all.
int material_slot(int index) {
  const ExportState &s = export_state();
  if (index >= 0 && index < s.mat_count) return index;
  return s.mat_count > 0 ? 0 : -1;
}

// Surface vertices the mesh writer will handle for one surface of n >= 3
// vertices: the corners of its n - 2 triangles with option 9, twice as
// many for a two-sided surface with option 22.
int surface_vertices(mo_surface *surface, int n) {
  int k = option_is_set(opt_triangulate) ? (n - 2) * 3 : n;
  if (surface_get_twosided(surface) == 1 && option_is_set(opt_two_sided)) k *= 2;
  return k;
}

void claim_texture(int texture, int material) {
  ExportState &s = export_state();
  if (s.tex_list[texture] != -1) return;
  s.tex_list[texture] = g_next_texture_number++;
  // The material that gives the texture template its colours and its
  // suffix; an index beyond the palette counts as 0 there as well.
  int slot = material_slot(material);
  s.tex_material[texture] = slot >= 0 ? slot : 0;
  debugf("   Texture  : %d - %d  ( Material %d )\n", texture, s.tex_list[texture],
         s.tex_material[texture]);
}

void claim_material(int material) {
  ExportState &s = export_state();
  int slot = material_slot(material);
  if (slot < 0 || s.mat_list[slot] != -1) return;
  s.mat_list[slot] = g_next_material_number++;
  debugf("   Material : %d - %d\n", slot, s.mat_list[slot]);
}

// Steps 1 to 6 for one object.  Gives its children, or false when the run
// is over (the maps could not be had).
bool visit(mo_object *object, mo_list *children_out) {
  ExportState &s = export_state();
  *children_out = nullptr;
  // A run whose maps could not be had is over; nothing below may touch them.
  if (s.status != kExportRunning) return false;
  if (object == nullptr) return true;

  // 1. Subdivision: the object's own counts, materials and texture are
  // those of its subdivided form, as the mesh writer writes that form.  The
  // walk goes on below the object itself, though: those are the children
  // the frame writer writes, and each of their meshes needs its template
  // (a subdivided form may list other children, or none).
  mo_object *own = object;
  if (option_is_set(opt_subdivision) && mo_object_is_subdivided(object)) {
    mo_object *subdivided = mo_object_get_subdivision(object);
    if (subdivided != nullptr) object = subdivided;
  }

  // 2. The maps, on the first call of a run.
  if (s.mat_list == nullptr && s.tex_list == nullptr && !create_maps()) {
    export_fail_out_of_memory();
    return false;
  }

  // 3. Contents.
  int vertex_count = 0;
  int surface_count = 0;
  int child_count = 0;
  mo_list vertices = nullptr;
  mo_list surfaces = nullptr;
  mo_object_get_contents(object, &vertex_count, &surface_count, &child_count, &vertices, &surfaces,
                         children_out);
  if (own != object) {
    int own_vertices = 0, own_surfaces = 0, own_children = 0;
    mo_list own_vertex_list = nullptr, own_surface_list = nullptr;
    mo_object_get_contents(own, &own_vertices, &own_surfaces, &own_children, &own_vertex_list,
                           &own_surface_list, children_out);
  }

  // 4. Every visited object is traced, whatever its type.  The name is an
  // argument, never the format.
  const char *name = mo_object_get_name(object);
  debugf("Objekt : '%s'\n", name != nullptr ? name : "");

  if (mo_object_get_type(object) == MO_OBJ_POLYGON) {
    // 5. The host's totals, surfaces of every kind included.
    s.surface_total += surface_count;
    s.vertex_total += vertex_count;

    // 6. Only polygons of 3 or more vertices take part, as in the mesh
    // writer.  A texture id outside the texture table means no texture.
    int texture = -1;
    if (mo_object_has_texture(object)) {
      int id = mo_object_get_texture_index(object);
      if (id >= 0 && id < s.tex_count) texture = id;
    }
    for (mo_list_node *node = surfaces; node != nullptr; node = node->next) {
      auto *surface = static_cast<mo_surface *>(node->item);
      if (surface == nullptr || surface_get_type(surface) != MO_SURF_POLYGON) continue;
      int n = surface->vertex_count;
      if (n < 3) continue;
      s.surface_vertex_total += surface_vertices(surface, n);
      if (texture >= 0) {
        claim_texture(texture, surface->material);
      } else {
        claim_material(surface->material);
      }
    }
  }
  return true;
}

}  // namespace

void collect_materials(mo_object *object) {
  // Depth first, an object before its children (step 7), and a line end
  // once all of them are done (step 8).  The walk keeps its own stack, so
  // the depth of the tree is bounded by memory, not by the call stack.
  std::vector<mo_list_node *> pending;  // the next child to visit, per open level
  mo_list children = nullptr;
  if (!visit(object, &children)) return;
  pending.push_back(children);
  while (!pending.empty()) {
    mo_list_node *next = pending.back();
    if (next == nullptr) {
      debugf("\n");
      pending.pop_back();
      continue;
    }
    pending.back() = next->next;
    if (!visit(static_cast<mo_object *>(next->item), &children)) return;
    pending.push_back(children);
  }
}

void free_maps() {
  ExportState &s = export_state();
  if (s.mat_list != nullptr) {
    myfree(s.mat_list);
    s.mat_list = nullptr;
  }
  if (s.tex_list != nullptr) {
    myfree(s.tex_list);  // tex_material lies in the same block
    s.tex_list = nullptr;
    s.tex_material = nullptr;
  }
  s.mat_count = 0;
  s.tex_count = 0;
}

}  // namespace qel
