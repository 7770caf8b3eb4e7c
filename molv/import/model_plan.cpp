/*
 * From the plan of an imported model to the model, and what the plan has
 * to say besides.
 */
#include "import/model_plan.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/import_error.h"

namespace molv {
namespace {

std::string plural(size_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A few names for a warning line: the first three, then "...".
std::string some_names(const std::vector<std::string> &names) {
  std::string text;
  size_t shown = 0;
  for (const std::string &name : names) {
    if (name.empty()) continue;
    if (shown == 3) return text + ", ...";
    text += (shown++ == 0 ? "" : ", ") + name;
  }
  return text;
}

// The lines on the parts of meshes a .x holds none of.
void mesh_part_warnings(const PlanNotes &notes, std::vector<std::string> *lines) {
  if (notes.skinned_meshes > 0) {
    lines->push_back("the bones and skin weights of " +
                     plural(notes.skinned_meshes, "mesh", "meshes") + " left out (" +
                     plural(notes.bones, "bone", "bones") +
                     "; the .x holds each mesh as it stands, without its skeleton)");
  }
  if (notes.file.animations > 0 || notes.morphed_meshes > 0) {
    std::string what = notes.file.animations > 0
                           ? plural(notes.file.animations, "animation", "animations")
                           : std::string();
    if (notes.morphed_meshes > 0) {
      what += (what.empty() ? "the" : " and the") + std::string(" morph targets of ") +
              plural(notes.morphed_meshes, "mesh", "meshes");
    }
    lines->push_back(what + " left out (the .x holds the model as it stands, without animation)");
  }
  if (notes.coloured_meshes > 0) {
    lines->push_back("the vertex colours of " + plural(notes.coloured_meshes, "mesh", "meshes") +
                     " left out (the export writes no vertex colours)");
  }
  if (notes.uv_set_meshes > 0) {
    lines->push_back("the texture coordinate sets after the first of " +
                     plural(notes.uv_set_meshes, "mesh", "meshes") +
                     " left out (a .x mesh holds one set)");
  }
}

}  // namespace

std::string non_finite_warning(uint64_t faces) {
  return plural(faces, "face", "faces") +
         " with a corner at an infinite or undefined (NaN) position left out";
}

std::string empty_meshes_warning(size_t count, const std::vector<std::string> &names_of) {
  std::string line = plural(count, "mesh", "meshes") + " without faces left out";
  const std::string names = some_names(names_of);
  if (!names.empty()) line += ": " + names;
  return line;
}


// Children come after their parents in the plan, so going backwards
// every subtree is complete before its parent takes it in.
void place_centres(std::vector<Planned> &plan) {
  for (size_t i = plan.size(); i-- > 0;) {
    Planned &object = plan[i];
    if (!object.keep) continue;
    Box own;
    const ArrayView<float> positions = object.position_values();
    for (size_t k = 0; k + 2 < positions.size(); k += 3) own.add(&positions[k]);
    object.subtree = own;
    for (size_t child : object.children) object.subtree.add(plan[child].subtree);
  }
}

void create_objects(std::vector<Planned> &plan, Model &model) {
  for (Planned &planned : plan) {
    if (!planned.keep) continue;
    model.objects.push_back(std::make_unique<mo_object>());
    planned.object = model.objects.back().get();
  }
  std::vector<mo_object *> children;
  for (Planned &planned : plan) {
    if (!planned.keep) continue;
    mo_object *object = planned.object;
    object->type = planned.type;
    object->name = planned.name;
    if (planned.type == MO_OBJ_POLYGON) {
      bounding_box_centre(planned.position_values(), object->centre);
    } else if (planned.type == MO_OBJ_LIGHT) {
      std::memcpy(object->centre, planned.light_position, sizeof object->centre);
    } else {
      planned.subtree.centre(object->centre);
    }
    if (planned.texture_id >= 0) {
      object->has_texture = true;
      object->texture_id = planned.texture_id;
    }
    children.clear();
    for (size_t child : planned.children) children.push_back(plan[child].object);
    build_object_from(object, planned.position_values(), planned.surface_values(), children);
    const ArrayView<float> normals = planned.normal_values();
    if (planned.received.mapped && !normals.empty()) {
      keep_model_normals(object, std::vector<float>(normals.begin(), normals.end()));
    } else if (!normals.empty()) {
      keep_model_normals(object, std::move(planned.normals));
    }
    // The lists hold what they need; the planned copies can go.
    std::vector<float>().swap(planned.positions);
    planned.surfaces = SurfaceSet();
    planned.received = Planned::Received();
  }
}

std::unique_ptr<Model> build_planned(ModelPlan &plan) {
  Model &model = *plan.model;
  create_objects(plan.objects, model);
  if (model.palette.empty()) model.palette.push_back(make_default_material());
  plan.objects.clear();
  return std::move(plan.model);
}

std::vector<std::string> plan_warnings(const PlanNotes &notes,
                                       const std::vector<EmbeddedImage> &embedded,
                                       bool extracted) {
  std::vector<std::string> lines;
  if (notes.lights > 0) {
    lines.push_back(plural(notes.lights, "light", "lights") +
                    " left out (a .x file holds no lights)");
  }
  if (notes.cameras > 0) {
    lines.push_back(plural(notes.cameras, "camera", "cameras") +
                    " left out (a .x file holds no cameras)");
  }
  if (notes.line_faces > 0 || notes.point_faces > 0) {
    std::string what;
    if (notes.line_faces > 0) what = plural(notes.line_faces, "line segment", "line segments");
    if (notes.line_faces > 0 && notes.point_faces > 0) what += " and ";
    if (notes.point_faces > 0) what += plural(notes.point_faces, "point", "points");
    lines.push_back(what + " left out (a .x mesh holds polygons only)");
  }
  if (notes.non_finite_faces > 0) lines.push_back(non_finite_warning(notes.non_finite_faces));
  if (notes.empty_meshes > 0)
    lines.push_back(empty_meshes_warning(notes.empty_meshes, notes.empty_mesh_names));
  mesh_part_warnings(notes, &lines);
  std::vector<std::string> named;
  for (const EmbeddedImage &image : embedded) {
    if (extracted && image.extension.empty()) {
      lines.push_back("the embedded texture " + one_line(image.name) +
                      " is in a format not known here and was not written; "
                      "the .x names it as the model does");
    }
    if (!extracted) named.push_back(one_line(image.name));
  }
  if (!named.empty()) {
    const size_t n = named.size();
    lines.push_back(plural(n, "texture", "textures") + " embedded in the model, named " +
                    some_names(named) + " in the .x, which no engine finds" +
                    " (--extract-textures writes " + (n == 1 ? "it" : "them") + " beside the .x)");
  }
  if (!notes.empty_groups.empty()) {
    std::string line = notes.empty_groups.size() == 1
                           ? std::string("1 node with nothing below it left out")
                           : std::to_string(notes.empty_groups.size()) +
                                 " nodes with nothing below them left out";
    const std::string names = some_names(notes.empty_groups);
    if (!names.empty()) line += ": " + names;
    lines.push_back(line);
  }
  if (!notes.renamed.empty()) {
    std::vector<std::string> renamed;
    for (const RenamedObject &object : notes.renamed)
      renamed.push_back(object.from + " as " + object.to);
    lines.push_back(plural(notes.renamed.size(), "object", "objects") +
                    " renamed so that no two frames share a name (a reader finds frames by "
                    "name): " +
                    some_names(renamed));
  }
  return lines;
}

}  // namespace molv
