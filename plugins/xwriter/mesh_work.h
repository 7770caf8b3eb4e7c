/*
 * What one mesh holds while the mesh writer writes its body, shared by the
 * two files of the mesh writer: mesh_surfaces.cpp builds the mesh surfaces
 * (the object's polygons, triangulated and with flipped two-sided copies as
 * the run's options say), mesh.cpp lists the surface vertices and writes
 * the blocks.
 *
 * Ownership: everything a mesh holds (the surface copies, the array, the
 * vertex table, the duplication list, the written list) belongs to its
 * MeshWork, whose members give it back on every path: normal end, the four
 * cancel points, and a failed allocation.
 */
#ifndef QEL_XWRITER_MESH_WORK_H
#define QEL_XWRITER_MESH_WORK_H

#include <cstdint>

#include "core/export_run.h"
#include "host/molv_host.h"
#include "xwriter/first_written.h"
#include "xwriter/host_array.h"
#include "xwriter/host_object.h"
#include "xwriter/mesh.h"
#include "xwriter/numbers.h"
#include "xwriter/vertex_table.h"

namespace qel {

// A host list of surface copies; the copies go with it.
class SurfaceList {
 public:
  SurfaceList() = default;
  ~SurfaceList() {
    if (head != nullptr) mo_surfacelist_free(head);
  }
  SurfaceList(const SurfaceList &) = delete;
  SurfaceList &operator=(const SurfaceList &) = delete;

  // Hands the list over (to list_append_list, which takes its nodes).
  mo_list release() {
    mo_list list = head;
    head = nullptr;
    return list;
  }

  mo_list head = nullptr;
};

// The mesh surfaces in mesh order, in host memory.
using SurfaceArray = HostArray<MeshSurface>;

// The surface vertices the vertex block wrote, in its order: the texture
// coordinate and normal blocks then read a short list instead of walking
// every row of the table again.  Only a speed aid: without memory for it
// (items null) those blocks walk the rows.
using WrittenList = HostArray<const mo_svertex *>;

// Everything one mesh holds while its body is written, and the choices of
// the run it is written under, read once from the run's options.  The one
// owner of the mesh's memory: its members give every copy, list and table
// back on every path.
struct MeshWork {
  MeshWork(ExportRun &export_run, mo_object *written, const float *written_offset)
      : run(export_run), object(written), offset(written_offset), form(export_run.options) {}

  ExportRun &run;
  mo_object *object;    // the written form of the object
  const float *offset;  // subtracted from every position
  ObjectContents contents;
  bool with_textures = false;
  bool surface_shading = false;
  bool with_normals = false;
  bool any_own_normal = false;
  bool optimize = false;
  bool duplication = false;
  bool placed = false;  // `places` were measured
  int64_t row_count = 0;
  float z_sign = -1.0f;
  NumberForm form;

  SurfaceList copies;        // the surfaces the mesh made; the array points into them
  SurfaceArray surfaces;     // the mesh surfaces
  int64_t surface_room = 0;  // the items the array has room for
  VertexForm vertex_form;
  VertexPlaces places;
  VertexTable table;
  FirstWritten first_written;
  WrittenList written;
};

// The mesh surfaces, the vertex form and the row count, from the polygons
// of three or more corners in mesh.contents.  False when the host has no
// memory (the caller fails the run).
bool build_mesh_surfaces(MeshWork &mesh);

}  // namespace qel

#endif  // QEL_XWRITER_MESH_WORK_H
