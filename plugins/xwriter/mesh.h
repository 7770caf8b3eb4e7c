/*
 * The mesh writer: the body of one Mesh block (vertices, faces, material
 * list, texture coordinates, normals, duplication indices) for one polygon
 * object.
 */
#ifndef QEL_XWRITER_MESH_H
#define QEL_XWRITER_MESH_H

#include <cstdint>

#include "host/molv_host.h"

namespace qel {

class ExportRun;

// One surface of a mesh (a polygon of the model, or a copy the mesh writer
// made of one), in mesh order, so that the later blocks (the material list
// among them) walk a compact array rather than the host's records.
struct MeshSurface {
  mo_surface *surface;
  uint16_t vertex_count;
  uint16_t material;  // the palette index the surface holds
  bool polygon;       // surface_get_type is MO_SURF_POLYGON: a face
  bool own_normal;    // flat under opt_surface_shading: the normals block writes the surface's normal
};

// Writes everything between the Mesh's opening line and its closing brace.
// `offset` is subtracted from every written position.  On a cancel the
// abort sequence has run and the run is cancelled; every per-mesh copy,
// list and table is freed on every path.
void write_mesh_body(ExportRun &run, mo_object *object, const float offset[3]);

}  // namespace qel

#endif  // QEL_XWRITER_MESH_H
