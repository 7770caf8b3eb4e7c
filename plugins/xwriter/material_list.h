/*
 * The MeshMaterialList block of one Mesh: how many materials the mesh uses,
 * the material number of each face, and a reference to each material by the
 * name of its Material template.
 *
 * A textured object uses exactly one material, its texture's ({Tex_<id>},
 * under opt_texture_material {Tex_<id>_<palette index>}).  Any other object
 * uses the palette materials of its surfaces, numbered within the mesh in
 * the order of first use and referred to as {Mat_<palette index>}.
 *
 * Ownership: the local material map comes from the host allocator and goes
 * back before the function returns, on every path.
 */
#ifndef QEL_XWRITER_MATERIAL_LIST_H
#define QEL_XWRITER_MATERIAL_LIST_H

#include <cstdint>

#include "host/molv_host.h"
#include "xwriter/mesh.h"

namespace qel {

class ExportRun;

// The texture id the writers use for `object`: its texture's id, or -1 when
// it has none or when the id lies beyond the host's texture table (such an
// object counts as untextured everywhere).
int object_texture_id(mo_object *object);

// Writes the whole block, from "\nMeshMaterialList {\n" to its closing
// "}\n", for the faces (the polygon surfaces) of `surfaces[0 .. count - 1]`.
// A palette index beyond the palette counts as 0.  False, with nothing
// written, when the host had no memory for the local map; the run has then
// failed.
bool write_mesh_material_list(ExportRun &run, mo_object *object, const MeshSurface *surfaces,
                              int32_t count);

}  // namespace qel

#endif  // QEL_XWRITER_MATERIAL_LIST_H
