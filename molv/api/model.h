/*
 * The model a plug-in reads: the one process-wide model (world, objects,
 * palette, texture table and the scene's host block), the builder that
 * fills an object's records from positions and surfaces, and the host's
 * version and texts.  The records themselves are in records.h; the loaders
 * that make a model from a file are the front ends' (molv/import).
 */
#ifndef MOLV_API_MODEL_H
#define MOLV_API_MODEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/records.h"

namespace molv {

// An image the model holds in itself (a glTF's "*0"), which a .x file can
// name only as a file: the slot of the texture table that names it, the
// name the model gives it, the number the model knows it by, and the file
// it becomes: an extension ("png"; empty for a format not known here), a
// head to write before its bytes (a TGA image's, for bare texels) and the
// bytes.
struct EmbeddedImage {
  int slot = 0;
  int index = 0;
  std::string name;
  std::string extension;
  std::string head;
  std::string bytes;
};

struct Model {
  // Every object, the world first; children and subdivided forms are
  // reached through the lists and pointers of their parents.
  std::vector<std::unique_ptr<mo_object>> objects;
  std::vector<std::unique_ptr<mo_material>> palette;
  std::vector<std::string> textures;
  double version = 6.0;
  std::string version_string = "molv 6.0";
  bool has_info = false;
  std::string info;
  std::vector<EmbeddedImage> embedded_images;

  mo_object *world() const { return objects.empty() ? nullptr : objects.front().get(); }
};

// The current model (an empty one until a scene is loaded).
Model &model();
// Replaces the current model.
void install_model(std::unique_ptr<Model> next);
// A model with an empty world named "world" and one white material.
std::unique_ptr<Model> make_empty_model();
// A material with the defaults of the scene format (white diffuse).
std::unique_ptr<mo_material> make_default_material();

// One object's contents, validated, in the form the builder takes.
struct SurfaceSpec {
  int32_t type = MO_SURF_POLYGON;
  int32_t shading = 1;
  int32_t twosided = 0;
  uint16_t material = 0;
  // corners: vertex index, u, v
  std::vector<int32_t> vertex_index;
  std::vector<float> u;
  std::vector<float> v;
};

// Values in memory that someone else owns (a vector, or the answer of the
// reader's child as molv maps it), read where they are.
template <class T>
struct ArrayView {
  const T *data = nullptr;
  size_t count = 0;

  ArrayView() = default;
  ArrayView(const T *at, size_t n) : data(at), count(n) {}
  ArrayView(const std::vector<T> &values) : data(values.data()), count(values.size()) {}  // NOLINT
  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  const T &operator[](size_t i) const { return data[i]; }
  const T *begin() const { return data; }
  const T *end() const { return data + count; }
};

// One surface of a SurfaceSet.
struct SurfaceFace {
  int32_t type;
  uint32_t corners;  // the surface's corners follow the previous surface's
  uint16_t material;
  uint8_t shading;
  uint8_t twosided;
};

// The flat arrays of a SurfaceSet where they are: the builder reads an
// object's surfaces through it.
struct SurfaceView {
  ArrayView<SurfaceFace> faces;
  ArrayView<int32_t> vertex_indices;
  ArrayView<float> uvs;  // u, v per corner

  size_t size() const { return faces.size(); }
  size_t corner_count() const { return vertex_indices.size(); }
  const SurfaceFace &face(size_t s) const { return faces[s]; }
  int32_t vertex_index(size_t corner) const { return vertex_indices[corner]; }
  float u(size_t corner) const { return uvs[2 * corner]; }
  float v(size_t corner) const { return uvs[2 * corner + 1]; }
};

// The surfaces of one object in flat arrays, as a large import builds
// them: three small vectors per surface would cost a model of millions of
// faces millions of allocations.
class SurfaceSet {
 public:
  using Face = SurfaceFace;

  void reserve(size_t surfaces, size_t corners) {
    faces_.reserve(surfaces);
    vertex_index_.reserve(corners);
    uv_.reserve(2 * corners);
  }
  // A new surface; its corners are the ones added until the next.
  void add_surface(int32_t type, int32_t shading, int32_t twosided, uint16_t material) {
    faces_.push_back(Face{type, 0, material, static_cast<uint8_t>(shading != 0),
                          static_cast<uint8_t>(twosided != 0)});
  }
  void add_corner(int32_t vertex_index, float u, float v) {
    ++faces_.back().corners;
    vertex_index_.push_back(vertex_index);
    uv_.push_back(u);
    uv_.push_back(v);
  }

  // The arrays as they are, and a set made of them (a model read in a
  // child process comes back so).
  const std::vector<Face> &faces() const { return faces_; }
  const std::vector<int32_t> &vertex_indices() const { return vertex_index_; }
  const std::vector<float> &uvs() const { return uv_; }
  void assign(std::vector<Face> faces, std::vector<int32_t> vertex_indices, std::vector<float> uvs) {
    faces_ = std::move(faces);
    vertex_index_ = std::move(vertex_indices);
    uv_ = std::move(uvs);
  }

  size_t size() const { return faces_.size(); }
  // Read through a view, as a set received from a reader's child is.
  SurfaceView view() const { return SurfaceView{faces_, vertex_index_, uv_}; }

 private:
  std::vector<Face> faces_;
  std::vector<int32_t> vertex_index_;
  std::vector<float> uv_;  // u, v per corner
};

// Drops the model (an empty world, one white palette material).
void clear_model();

// Host version and texts of the loaded scene ("host" block).
double host_version();
void set_host_version(double version);
// Results of the Tcl commands "molv get_version_string" and "molv get_info"
// (the scene's texts, or the defaults the scene format gives).
std::string host_version_string();
std::string host_info_text();

// Fills the records and lists of `object` from its vertex positions (x, y,
// z per vertex), its surfaces and its children, in that order.  Indices
// must already be in range.
void build_object_from(mo_object *object, ArrayView<float> positions, const SurfaceView &surfaces,
                       const std::vector<mo_object *> &children);
inline void build_object_from(mo_object *object, const std::vector<float> &positions,
                              const SurfaceSet &surfaces,
                              const std::vector<mo_object *> &children) {
  build_object_from(object, ArrayView<float>(positions), surfaces.view(), children);
}
// The same from one SurfaceSpec per surface.
void build_object(mo_object *object, const std::vector<float> &positions,
                  const std::vector<SurfaceSpec> &surfaces,
                  const std::vector<mo_object *> &children);

// Gives the corners of OBJECT (built) the model's own normals: three floats
// per corner, in the order of its surfaces' corners, zero where the model
// gives none.  object_calc_normals_force gives them back to the corners of
// smooth surfaces; until it runs each corner's normal holds its own, so a
// copy of a surface carries it either way.
void keep_model_normals(mo_object *object, std::vector<float> normals);

// The centre of the bounding box of an object's own vertices: each
// component (min + max) / 2 in float, min and max by strict comparison in
// vertex order (the first of equal values is kept); (0, 0, 0) without
// vertices.
void bounding_box_centre(ArrayView<float> positions, float centre[3]);

}  // namespace molv

#endif  // MOLV_API_MODEL_H
