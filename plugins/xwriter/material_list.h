/*
 * The MeshMaterialList block of one Mesh: how many materials the mesh uses,
 * the material number of each face, and a reference to each material by the
 * name of its Material template.
 *
 * A textured object uses exactly one material, its texture's ({Tex_<id>},
 * with option 19 {Tex_<id>_<palette index>}).  Any other object uses the
 * palette materials of its surfaces, numbered within the mesh in the order
 * of first use and referred to as {Mat_<palette index>}.
 *
 * Ownership: the local material map comes from the host allocator and goes
 * back before the function returns, on every path.
 */
#ifndef QEL_XWRITER_MATERIAL_LIST_H
#define QEL_XWRITER_MATERIAL_LIST_H

#include <cstdint>

#include "host/molv_host.h"

namespace qel {

class Output;

// The texture id the writers use for `object`: its texture's id, or -1 when
// it has none or when the id lies beyond the host's texture table (such an
// object counts as untextured everywhere).
int object_texture_id(mo_object *object);

// Writes the whole block, from "\nMeshMaterialList {\n" to its closing
// "}\n", for the faces (surfaces of type 0) of `surfaces`.  A palette index
// beyond the palette counts as 0.  False, with nothing written, when the
// host had no memory for the local map; the run has then failed.
bool write_mesh_material_list(Output &out, mo_object *object, mo_list surfaces);

// One surface of a mesh surface list as the mesh writer reads it once, in
// list order, so that its later blocks walk a compact array rather than the
// host's list and surface records again.
struct MeshSurface {
  mo_surface *surface;
  uint16_t vertex_count;
  uint16_t material;  // the palette index the surface holds
  bool polygon;       // surface_get_type is 0: a face
  bool own_normal;    // flat under option 12: the normals block writes the surface's normal
};

// The same block for the surfaces `surfaces[0 .. count - 1]`.
bool write_mesh_material_list(Output &out, mo_object *object, const MeshSurface *surfaces,
                              int32_t count);

}  // namespace qel

#endif  // QEL_XWRITER_MATERIAL_LIST_H
