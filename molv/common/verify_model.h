/*
 * The model's side of the check of an export (verify.h): the faces the
 * plug-in writes, taken from the process's model by the plug-in's rules
 * (polygon objects in their written form, polygons of three or more
 * corners), in the modeller's own space, each corner with the normal and
 * the texture coordinates the file should hold for it, and each face with
 * the material it should show.
 */
#ifndef MOLV_COMMON_VERIFY_MODEL_H
#define MOLV_COMMON_VERIFY_MODEL_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace molv {

// What a face should show of its material in the file.
struct FaceLook {
  float colour[4] = {1, 1, 1, 1};
  bool has_texture = false;
  std::string texture;  // as the file names it
};

struct ModelFaces {
  struct Face {
    std::uint32_t first;  // its first corner
    std::uint32_t corners;
    std::uint32_t object;  // in objects
    std::uint32_t look;    // in looks
    bool two_sided;        // written twice under the option
    bool textured;         // written with texture coordinates
    bool own_look;         // its own material shows (not a texture's first one)
  };
  std::vector<Face> faces;
  std::vector<std::array<float, 3>> position;
  std::vector<std::array<float, 3>> normal;  // zero where the model gives none
  std::vector<std::array<float, 2>> uv;      // as the file should hold them
  // Per corner its vertex, numbered over the model (kNoVertex: none of
  // its object's own).
  static constexpr std::uint32_t kNoVertex = UINT32_MAX;
  std::vector<std::uint32_t> vertex;
  std::uint32_t vertex_count = 0;
  std::vector<std::string> objects;  // names
  std::vector<FaceLook> looks;
  // Per texture (by look): the colours it may take, of each material it
  // is used with (the file's template has the first one's).
  std::vector<std::vector<std::array<float, 4>>> texture_colours;
  long lines = 0;                // lines, points and surfaces of fewer than three corners
  long textured_own_colour = 0;  // textured faces whose own colour is not the template's
};

// The model's faces as OPTIONS (the run's option string) write them.
ModelFaces model_faces(const std::string &options);

}  // namespace molv

#endif  // MOLV_COMMON_VERIFY_MODEL_H
