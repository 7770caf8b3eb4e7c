/*
 * The mesh surfaces of one mesh: the object's polygons of three or more
 * corners, each triangulated under opt_triangulate and preceded by a
 * flipped copy of each two-sided piece under opt_two_sided.  Only pieces
 * that must differ from the model are copies (triangles, flipped pieces,
 * and under opt_surface_shading a flat piece whose surface vertices take
 * its own normal); the others are the model's own surfaces, read and never
 * changed.  The copies belong to the mesh's MeshWork.
 */
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "xwriter/material_list.h"
#include "xwriter/mesh_work.h"

namespace qel {

namespace {

float flip_sign(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits ^= 0x80000000u;
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

// The flipped copy of a two-sided piece: normals negated by their sign bit
// (so 0 becomes -0), vertex list reversed.  Texture coordinates stay.
void flip_surface(mo_surface *surface) {
  for (float &c : surface->normal) c = flip_sign(c);
  for (mo_list_node *node = surface->svertices; node != nullptr; node = node->next) {
    auto *sv = static_cast<mo_svertex *>(node->item);
    for (float &c : sv->normal) c = flip_sign(c);
  }
  list_reverse(&surface->svertices);
}

// A copy of `source` that the mesh owns; null when the host has no memory.
mo_surface *own_copy(MeshWork &mesh, mo_surface *source) {
  mo_surface *copy = surface_clone(source, mesh.object);
  if (copy != nullptr) list_add_item(&mesh.copies.head, copy);
  return copy;
}

// Room in the array for `more` surfaces beyond those in it.
bool make_room(MeshWork &mesh, int64_t more) {
  const int64_t needed = mesh.surfaces.count + more;
  if (needed <= mesh.surface_room) return true;
  if (needed > INT32_MAX) return false;
  const int64_t room = std::min<int64_t>(std::max(needed, 2 * mesh.surface_room), INT32_MAX);
  if (!mesh.surfaces.reallocate(static_cast<std::size_t>(room))) return false;
  mesh.surface_room = room;
  return true;
}

// Puts a piece in slot `slot` of the array.  Under opt_surface_shading and
// opt_normals a flat piece's surface vertices take its own normal, in a
// copy when the piece is the model's (not `owned`).
bool place(MeshWork &mesh, int32_t slot, mo_surface *piece, bool owned) {
  const bool own_normal = mesh.surface_shading && surface_get_shading(piece) == 0;
  if (own_normal && mesh.with_normals) {
    if (!owned && (piece = own_copy(mesh, piece)) == nullptr) return false;
    for (mo_list_node *node = piece->svertices; node != nullptr; node = node->next) {
      std::memcpy(static_cast<mo_svertex *>(node->item)->normal, piece->normal, sizeof piece->normal);
    }
  }
  mesh.surfaces.items[slot] = MeshSurface{piece, piece->vertex_count, piece->material,
                                          surface_get_type(piece) == MO_SURF_POLYGON, own_normal};
  return true;
}

// Calls piece(surface) for each piece of a polygon: each triangle of
// `triangles` when there are any, else the polygon itself; stops at the
// first false.
template <typename Piece>
bool each_piece(mo_surface *polygon, mo_list triangles, bool triangulated, Piece piece) {
  if (!triangulated) return piece(polygon);
  for (mo_list_node *node = triangles; node != nullptr; node = node->next) {
    auto *triangle = static_cast<mo_surface *>(node->item);
    if (triangle != nullptr && !piece(triangle)) return false;
  }
  return true;
}

// Appends the pieces of one polygon: its triangles under opt_triangulate
// (when it has more than three corners), else itself; under opt_two_sided
// each two-sided piece's flipped copy comes first, in reverse order (of
// two-sided pieces P1, P2: flipped P2, flipped P1, P1, P2).  False when the
// host has no memory.
bool add_pieces(MeshWork &mesh, mo_surface *polygon, bool triangulate, bool two_sided) {
  const bool triangulated = polygon->vertex_count > 3 && triangulate;
  SurfaceList triangles;  // handed to the mesh's copies at the end
  if (triangulated) triangles.head = surface_get_triangulations(polygon);
  int32_t pieces = 0;
  int32_t flipped = 0;
  each_piece(polygon, triangles.head, triangulated, [&](mo_surface *piece) {
    ++pieces;
    if (two_sided && surface_get_twosided(piece) == 1) ++flipped;
    return true;
  });
  if (!make_room(mesh, int64_t{pieces} + flipped)) return false;
  const int32_t start = mesh.surfaces.count;
  int32_t flips_placed = 0;
  int32_t pieces_placed = 0;
  const bool complete =
      each_piece(polygon, triangles.head, triangulated, [&](mo_surface *piece) {
        if (two_sided && surface_get_twosided(piece) == 1) {
          mo_surface *copy = own_copy(mesh, piece);
          if (copy == nullptr) return false;
          flip_surface(copy);
          if (!place(mesh, start + flipped - 1 - flips_placed++, copy, true)) return false;
        }
        return place(mesh, start + flipped + pieces_placed++, piece, triangulated);
      });
  if (!complete) return false;
  mesh.surfaces.count = start + flipped + pieces;
  if (triangles.head != nullptr) list_append_list(&mesh.copies.head, triangles.release());
  return true;
}

// A surface of the object that goes into the mesh: a polygon of three or
// more corners.
bool is_mesh_polygon(mo_surface *surface) {
  return surface != nullptr && surface_get_type(surface) == MO_SURF_POLYGON &&
         surface->vertex_count >= 3;
}

}  // namespace

bool build_mesh_surfaces(MeshWork &mesh) {
  const Options &options = mesh.run.options;
  const bool triangulate = options.is_set(opt_triangulate);
  const bool two_sided = options.is_set(opt_two_sided);
  mesh.with_textures = options.is_set(opt_textures) && options.is_set(opt_materials) &&
                       object_texture_id(mesh.object) >= 0;
  mesh.surface_shading = options.is_set(opt_surface_shading);
  mesh.with_normals = options.is_set(opt_normals);
  mesh.vertex_form = VertexForm(
      !mesh.with_textures,
      !mesh.surface_shading
          ? VertexForm::Normals::as_held
          : (mesh.with_normals ? VertexForm::Normals::rounded : VertexForm::Normals::zeroed));

  // Room for what the polygons give when a triangulation gives n - 2
  // triangles; the array grows should it give more.
  int64_t expected = 0;
  for (mo_list_node *node = mesh.contents.surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (!is_mesh_polygon(surface)) continue;
    const int64_t pieces = surface->vertex_count > 3 && triangulate ? surface->vertex_count - 2 : 1;
    expected += two_sided && surface_get_twosided(surface) == 1 ? 2 * pieces : pieces;
  }
  if (!make_room(mesh, expected)) return false;

  for (mo_list_node *node = mesh.contents.surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (!is_mesh_polygon(surface)) continue;
    if (!add_pieces(mesh, surface, triangulate, two_sided)) return false;
  }
  for (int32_t s = 0; s < mesh.surfaces.count; ++s) {
    mesh.row_count += mesh.surfaces.items[s].vertex_count;
    mesh.any_own_normal = mesh.any_own_normal || mesh.surfaces.items[s].own_normal;
  }
  return mesh.row_count <= INT32_MAX;
}

}  // namespace qel
