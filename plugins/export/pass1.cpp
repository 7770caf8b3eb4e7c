/*
 * Pass 1: the material and texture maps and the totals.
 *
 * Before anything is written, the whole object tree is walked once, depth
 * first from the world object, to find which palette materials and which
 * textures the written meshes use (so that only those get a template) and to
 * add up the surface, vertex and surface-vertex totals for the header, the
 * progress bar and the trace.
 *
 * The maps live in host memory and belong to the run (MaterialMaps), which
 * gives them back when it ends.
 *
 * Every palette index and texture id that comes from the host is checked
 * against the size the maps were made with: a palette index at or beyond it
 * counts as index 0, a texture id at or beyond it as "no texture", so no
 * entry outside a map is ever read or written.
 */
#include "export/pass1.h"

#include <cstddef>
#include <vector>

#include "core/export_run.h"
#include "xwriter/host_object.h"

namespace qel {

namespace {

// Surface vertices the mesh writer will handle for one surface of n >= 3
// vertices: the corners of its n - 2 triangles under opt_triangulate,
// twice as many for a two-sided surface under opt_two_sided.
int surface_vertices(const Options &options, mo_surface *surface, int n) {
  int k = options.is_set(opt_triangulate) ? (n - 2) * 3 : n;
  if (surface_get_twosided(surface) == 1 && options.is_set(opt_two_sided)) k *= 2;
  return k;
}

void claim_texture(MaterialMaps &maps, int texture, int material) {
  if (maps.tex_list[texture] != -1) return;
  maps.tex_list[texture] = maps.next_texture_number++;
  // The material that gives the texture template its colours and its
  // suffix.
  maps.tex_material[texture] = palette_index(material, maps.mat_count);
  debugf("   Texture  : %d - %d  ( Material %d )\n", texture, maps.tex_list[texture],
         maps.tex_material[texture]);
}

void claim_material(MaterialMaps &maps, int material) {
  if (maps.mat_count == 0) return;  // no palette, no slot
  const int slot = palette_index(material, maps.mat_count);
  if (maps.mat_list[slot] != -1) return;
  maps.mat_list[slot] = maps.next_material_number++;
  debugf("   Material : %d - %d\n", slot, maps.mat_list[slot]);
}

// The totals and claims of one polygon object (in its written form).  Only
// polygons of 3 or more vertices take part, as in the mesh writer; the
// host's totals count surfaces of every kind.  A texture id outside the
// texture table means no texture.
void add_polygon_object(ExportRun &run, mo_object *object, const ObjectContents &contents) {
  run.surface_total += contents.surface_count;
  run.vertex_total += contents.vertex_count;
  int texture = -1;
  if (mo_object_has_texture(object)) {
    const int id = mo_object_get_texture_index(object);
    if (id >= 0 && id < run.maps.tex_count) texture = id;
  }
  for (mo_list_node *node = contents.surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface == nullptr || surface_get_type(surface) != MO_SURF_POLYGON) continue;
    const int n = surface->vertex_count;
    if (n < 3) continue;
    run.surface_vertex_total += surface_vertices(run.options, surface, n);
    if (texture >= 0) {
      claim_texture(run.maps, texture, surface->material);
    } else {
      claim_material(run.maps, surface->material);
    }
  }
}

// One object of the walk.  Gives its children, or false when the run is
// over (the maps could not be had).
bool visit(ExportRun &run, mo_object *object, mo_list *children_out) {
  *children_out = nullptr;
  // A run whose maps could not be had is over; nothing below may touch them.
  if (!run.running()) return false;
  if (object == nullptr) return true;

  // The object's own counts, materials and texture are those of its written
  // form.  The walk goes on below the object itself, though: those are the
  // children the frame writer writes, and each of their meshes needs its
  // template (a subdivided form may list other children, or none).
  mo_object *const own = object;
  object = written_form(object, run.options);

  // The maps, on the first call of a run.
  if (!run.maps.created() && !run.maps.create(mo_get_num_palette(), mo_get_num_textures())) {
    run.fail_out_of_memory();
    return false;
  }

  const ObjectContents contents = contents_of(object);
  *children_out = own != object ? contents_of(own).children : contents.children;

  // Every visited object is traced, whatever its type.  The name is an
  // argument, never the format.
  const char *name = mo_object_get_name(object);
  debugf("Objekt : '%s'\n", name != nullptr ? name : "");

  if (mo_object_get_type(object) == MO_OBJ_POLYGON) add_polygon_object(run, object, contents);
  return true;
}

}  // namespace

void collect_materials(ExportRun &run, mo_object *object) {
  // Depth first, an object before its children, and a line end once all
  // of an object's children are done.  The walk keeps its own stack, so
  // the depth of the tree is bounded by memory, not by the call stack.
  std::vector<mo_list_node *> pending;  // the next child to visit, per open level
  mo_list children = nullptr;
  if (!visit(run, object, &children)) return;
  pending.push_back(children);
  while (!pending.empty()) {
    mo_list_node *next = pending.back();
    if (next == nullptr) {
      debugf("\n");
      pending.pop_back();
      continue;
    }
    pending.back() = next->next;
    if (!visit(run, static_cast<mo_object *>(next->item), &children)) return;
    pending.push_back(children);
  }
}

}  // namespace qel
