/*
 * The corners of an imported mesh: which host vertex each of its vertices
 * becomes, and the model's normals in world space.
 */
#ifndef MOLV_IMPORT_MESH_CORNERS_H
#define MOLV_IMPORT_MESH_CORNERS_H

#include <assimp/mesh.h>

#include <cstdint>
#include <vector>

namespace molv {

// The host vertices of MESH: positions in world coordinates (GLOBAL), the
// corners at one position joined where the file's normals there agree
// (all of them when it gives none), so that the host's normals keep the
// model's hard edges and its smooth parts smooth.  Texture coordinates
// never part corners: they belong to the surfaces.  host_index gets each
// of the mesh's vertices' host vertex, -1 for a position that is not
// finite (which becomes no host vertex); `normals` each vertex's normal
// in world coordinates (the inverse transpose of the node transform, made
// unit length; zero where the file gives none), or nothing when the mesh
// has no normals.
void join_corners(const aiMesh &mesh, const aiMatrix4x4 &global, std::vector<float> &positions,
                  std::vector<int32_t> &host_index, std::vector<float> &normals);

// Whether the model's normals of a face's corners agree (about a degree;
// a corner without one agrees with any).
bool one_normal(const aiFace &face, const std::vector<float> &normals);

}  // namespace molv

#endif  // MOLV_IMPORT_MESH_CORNERS_H
