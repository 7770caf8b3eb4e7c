/*
 * The polygon faces of a file as Assimp reads it, in world space: the same
 * walk for a model and for the .x file molv wrote from it, so that the two
 * can be compared face by face (roundtrip.h).
 */
#ifndef QEL_TESTS_TESTMODELS_WORLD_FACES_H
#define QEL_TESTS_TESTMODELS_WORLD_FACES_H

#include <assimp/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testmodels {

// What a face shows of its material.
struct FaceMaterial {
  bool has_diffuse = false;
  aiColor3D diffuse;
  std::string texture;  // the diffuse texture's name as the file gives it, or ""
  bool two_sided = false;
};

// Faces of three or more corners (lines and points are left out, as a .x
// mesh holds polygons only), every node's meshes with every transform from
// the root down applied; a mesh held by several nodes is there once for
// each.  Per corner a position, a normal (through the inverse transpose of
// the node's 3x3, made unit length; zero where the mesh has none) and UV
// channel 0 (zero where the mesh has none).
struct WorldFaces {
  struct Face {
    uint32_t first;     // its first corner
    uint32_t corners;   // how many
    uint32_t material;  // in materials
    uint32_t mesh;      // the walk's count of meshes before this face's one
    bool normals;       // its mesh has normals
    bool uv;            // and texture coordinates
  };
  std::vector<Face> faces;
  std::vector<aiVector3D> position;
  std::vector<aiVector3D> normal;
  std::vector<aiVector2D> uv;
  std::vector<FaceMaterial> materials;  // the scene's, by index
  long lines = 0;                       // faces of one or two corners left out
};

// Reads `path` with no post-processing, as molv's import does.  False
// with Assimp's reason (or what is broken in the scene) when it cannot.
// `written_by_us`: a .x file of molv's (see read_material).
bool read_world_faces(const std::string &path, bool written_by_us, WorldFaces *out,
                      std::string *error);

}  // namespace testmodels

#endif
