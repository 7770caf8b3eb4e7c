/*
 * What the 3D view draws, made on the processor: triangles with their
 * normal, texture coordinates and colour, in parts of one texture each, and
 * their bounds.  One comes from the open model (with the normals the
 * export writes), one from a .x file as the check of the export reads it
 * (common/verify.h).  No OpenGL here: view.cpp uploads these.
 */
#ifndef MOLV_GUI_VIEW_MESH_H
#define MOLV_GUI_VIEW_MESH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/x_read.h"

namespace molv {
namespace gui {

struct ViewVertex {
  float position[3];
  std::int8_t normal[4];  // x, y, z scaled to 127; the fourth is padding
  float uv[2];            // texture coordinates, t going up the image
  std::uint8_t colour[4];
};

// A run of triangles (of indices into the vertices) drawn with one
// texture (-1: none).
struct ViewPart {
  std::size_t first = 0;
  std::size_t count = 0;
  int texture = -1;
};

struct ViewMesh {
  std::vector<ViewVertex> vertices;      // each once: corners that agree in
                                         // everything share one
  std::vector<std::uint32_t> indices;    // three per triangle
  std::vector<ViewPart> parts;
  std::vector<std::string> textures;  // files found (or "*0"), by ViewPart::texture
  // Per texture: the bytes of an image the model embeds (its texture is
  // then its name, "*0"), else empty.
  std::vector<std::string> texture_bytes;
  std::vector<std::string> missing_textures;  // names whose file is not there
  // Per object in tree order: its triangles and those of everything below
  // it, [first, end) in `indices`.  Empty for a file read back.
  std::vector<std::pair<std::size_t, std::size_t>> subtree;
  float min[3] = {0, 0, 0};
  float max[3] = {0, 0, 0};
  std::uint64_t faces = 0;               // polygons
  std::uint64_t triangle_count = 0;      // kept when the buffers go to the GL
  std::uint64_t triangles() const { return triangle_count; }
  bool empty() const { return indices.empty(); }
};

// The open model: the host's normals as the export recalculates them
// (object_calc_normals_force), flat surfaces with their surface normal.
// Relative texture names are looked up beside MODEL_FILE.
ViewMesh mesh_of_model(const std::string &model_file);

// The faces of a .x read back (SCENE, in the modeller's space, as the
// check of the export read it from FILE), as an engine draws them.
ViewMesh mesh_of_x_scene(const XScene &scene, const std::string &file);

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_VIEW_MESH_H
