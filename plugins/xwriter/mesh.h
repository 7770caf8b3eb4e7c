/*
 * The mesh writer: the body of one Mesh block (vertices, faces, material
 * list, texture coordinates, normals, duplication indices) for one polygon
 * object.
 */
#ifndef QEL_XWRITER_MESH_H
#define QEL_XWRITER_MESH_H

#include "host/molv_host.h"

namespace qel {

class Output;

// Writes everything between the Mesh's opening line and its closing brace.
// `offset` is subtracted from every written position.  On a cancel the
// abort sequence has run and the export status is 1; every per-mesh copy,
// list and table is freed on every path.
void x_output_surface_vertices(Output &out, mo_object *object, const float offset[3]);

}  // namespace qel

#endif  // QEL_XWRITER_MESH_H
