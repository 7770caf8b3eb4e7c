/*
 * The plan of a model read from another format: one host object to be per
 * entry, with what the file holds that a .x will not.  A reader's planner
 * (Assimp's is assimp_planner.h) makes it in the reader's child process,
 * which hands it back in bytes (plan_wire.h); molv builds the model from
 * it once the file's scene has gone.  Nothing in it belongs to one reader.
 */
#ifndef MOLV_IMPORT_MODEL_PLAN_H
#define MOLV_IMPORT_MODEL_PLAN_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/model.h"

namespace molv {

// A running bounding box: min and max by strict comparison in the order
// the values come, the first of equal values kept, as the scene loader's
// centre takes them.
struct Box {
  bool empty = true;
  float low[3] = {0.0f, 0.0f, 0.0f};
  float high[3] = {0.0f, 0.0f, 0.0f};

  void add(const float *point) { add(point, point); }
  void add(const float *low_in, const float *high_in) {
    for (int axis = 0; axis < 3; ++axis) {
      if (empty || low_in[axis] < low[axis]) low[axis] = low_in[axis];
      if (empty || high_in[axis] > high[axis]) high[axis] = high_in[axis];
    }
    empty = false;
  }
  void add(const Box &other) {
    if (!other.empty) add(other.low, other.high);
  }
  void centre(float out[3]) const {
    for (int axis = 0; axis < 3; ++axis) out[axis] = empty ? 0.0f : (low[axis] + high[axis]) / 2.0f;
  }
};

// One host object to be, in the order of the walk (a parent before its
// children, so children come later in the plan).
struct Planned {
  int type = MO_OBJ_GROUP;
  std::string name;
  std::vector<float> positions;  // polygon objects: x, y, z per vertex
  SurfaceSet surfaces;
  // The model's normal of each corner of `surfaces` (x, y, z in world
  // coordinates, zero where it gives none), or nothing for a mesh without
  // normals.
  std::vector<float> normals;
  std::vector<size_t> children;  // indices into the plan
  int texture_id = -1;
  float light_position[3] = {0.0f, 0.0f, 0.0f};
  Box subtree;  // every vertex of this object and of everything below it
  bool keep = true;  // false for a group with nothing below it
  bool empty_meshes = false;  // a group whose node names meshes, all empty
  mo_object *object = nullptr;

  // The arrays as molv takes them from the child's answer: where the
  // answer's mapping holds them (the vectors above stay empty), read from
  // there while the model is built.
  struct Received {
    bool mapped = false;
    ArrayView<float> positions;
    SurfaceView surfaces;
    ArrayView<float> normals;
  } received;
  // The arrays wherever they are: the vectors, or the mapped answer.
  ArrayView<float> position_values() const {
    return received.mapped ? received.positions : ArrayView<float>(positions);
  }
  SurfaceView surface_values() const {
    return received.mapped ? received.surfaces : surfaces.view();
  }
  ArrayView<float> normal_values() const {
    return received.mapped ? received.normals : ArrayView<float>(normals);
  }
};

// What the file's scene itself holds, as its reader read it (molv info).
struct SceneCounts {
  uint64_t nodes = 0;
  uint64_t meshes = 0;
  uint64_t vertices = 0;
  uint64_t faces = 0;  // of three corners or more
  uint64_t lines = 0;
  uint64_t points = 0;
  uint64_t materials = 0;
  uint64_t embedded_textures = 0;
  uint64_t lights = 0;
  uint64_t cameras = 0;
  uint64_t animations = 0;
  uint64_t triangles = 0;       // of the faces, those of three corners
  uint64_t bones = 0;           // over every mesh
  uint64_t colour_meshes = 0;   // meshes with colours per vertex
  Box box;                      // every vertex the nodes place, in world coordinates
};

// An object the walk named anew, so that no two frames share a name.
struct RenamedObject {
  std::string from;  // as the model names it
  std::string to;
};

// What the walk over the file's scene counted of what a .x file will not
// hold, for the load's warnings.
struct PlanNotes {
  uint64_t lights = 0;
  uint64_t cameras = 0;
  uint64_t line_faces = 0;
  uint64_t point_faces = 0;
  uint64_t non_finite_faces = 0;  // left out for a corner at a non-finite position
  uint64_t empty_meshes = 0;
  std::vector<std::string> empty_mesh_names;
  std::vector<std::string> empty_groups;  // in the order of the walk
  // Of the meshes kept, each counted once:
  uint64_t skinned_meshes = 0;         // with bones (and their skin weights)
  uint64_t bones = 0;                  // of those meshes
  uint64_t morphed_meshes = 0;         // with morph targets
  uint64_t coloured_meshes = 0;        // with vertex colours
  uint64_t uv_set_meshes = 0;          // with texture coordinate sets after the first
  uint64_t uv_meshes = 0;              // with texture coordinates
  uint64_t untextured_uv_meshes = 0;   // ... whose material has no texture
  std::vector<RenamedObject> renamed;  // in the order of the walk
  SceneCounts file;
};

// All a model needs from the file's scene: its objects to be, and a model
// without objects that holds the palette, the texture table and the
// images the file embeds.
struct ModelPlan {
  std::unique_ptr<Model> model = std::make_unique<Model>();
  std::vector<Planned> objects;
  PlanNotes notes;
};

// The model of PLAN, whose objects are used up.
std::unique_ptr<Model> build_planned(ModelPlan &plan);

// One line for each kind of thing the planned model holds that the .x
// file will not, with the images EMBEDDED as the model names them
// (written as files when EXTRACTED, else named as the model does).
std::vector<std::string> plan_warnings(const PlanNotes &notes,
                                       const std::vector<EmbeddedImage> &embedded,
                                       bool extracted);

// The lines a planner also refuses a file with.
std::string non_finite_warning(uint64_t faces);
std::string empty_meshes_warning(size_t count, const std::vector<std::string> &names_of);

// The bounding box of every object's subtree.
void place_centres(std::vector<Planned> &plan);

// The model's objects, one per planned object that is kept, each with its
// centre, texture, records and children.  The planned positions and
// surfaces are freed as their objects take them.
void create_objects(std::vector<Planned> &plan, Model &model);

}  // namespace molv

#endif  // MOLV_IMPORT_MODEL_PLAN_H
