/*
 * A reader of text .x files for the check of an export: the frames with
 * their matrices, the meshes with their faces, normals, texture
 * coordinates and material lists, and the materials with their texture
 * names, every face in world space.  A material reference ({Tex_2_2}) is
 * resolved by its name, as the DirectX runtime resolves it; Assimp's .x
 * reader (5.2) gives every reference the file's first material, which
 * would give the legs of a spider the texture of its body.
 *
 * It reads the text form of the format in general (any layout of the
 * separators, comments, template declarations, blocks it does not know
 * skipped whole), not only the layout the plug-in writes.  The binary and
 * compressed forms are refused.
 */
#ifndef MOLV_COMMON_X_READ_H
#define MOLV_COMMON_X_READ_H

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace molv {

struct XMaterial {
  std::string name;  // empty for a material written inside a mesh
  float colour[4] = {1, 1, 1, 1};
  bool has_texture = false;  // a TextureFileName block, even with an empty name
  std::string texture;
};

struct XMesh {
  std::string name;
  std::string frame;  // the innermost frame around it, or ""
  std::uint64_t vertices = 0;
  bool normals = false;    // a MeshNormals block
  bool uv = false;         // a MeshTextureCoords block
  bool materials = false;  // a MeshMaterialList block
};

// The faces of every mesh, each corner in world space: position, normal
// (zero without a MeshNormals block) and texture coordinates as the file
// holds them (zero without a MeshTextureCoords block).
struct XScene {
  struct Face {
    std::uint32_t first;  // its first corner
    std::uint32_t corners;
    std::int32_t material;  // in materials, -1 for none
    std::uint32_t mesh;     // in meshes
  };
  std::vector<XMaterial> materials;
  std::vector<XMesh> meshes;
  std::vector<Face> faces;
  std::vector<std::array<float, 3>> position;
  std::vector<std::array<float, 3>> normal;
  std::vector<std::array<float, 2>> uv;
  // Per corner, its vertex: one number per vertex of every mesh, so that
  // corners of one vertex share it.
  std::vector<std::uint32_t> vertex;
  std::uint32_t vertex_count = 0;
};

// Called now and then with how far the reading got (0 to 100); the read
// stops when it returns false.
using XReadProgress = std::function<bool(int percent)>;

// Reads TEXT (SIZE bytes, a whole .x file).  False with a one-line *ERROR
// ("line 12: a face names vertex 9 of 8") when it is not a text .x file a
// runtime would load, or when PROGRESS stopped it ("stopped").
bool read_x_text(const char *text, std::size_t size, XScene *scene, std::string *error,
                 const XReadProgress &progress = XReadProgress());
bool read_x_file(const std::string &path, XScene *scene, std::string *error,
                 const XReadProgress &progress = XReadProgress());

}  // namespace molv

#endif  // MOLV_COMMON_X_READ_H
