/*
 * From the plan of an imported model to the model.
 */
#include "import/assimp_plan.h"

#include <cstring>
#include <memory>
#include <vector>

namespace molv {

// Children come after their parents in the plan, so going backwards
// every subtree is complete before its parent takes it in.
void place_centres(std::vector<Planned> &plan) {
  for (size_t i = plan.size(); i-- > 0;) {
    Planned &object = plan[i];
    if (!object.keep) continue;
    Box own;
    for (size_t k = 0; k + 2 < object.positions.size(); k += 3) own.add(&object.positions[k]);
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
      bounding_box_centre(planned.positions, object->centre);
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
    build_object_from(object, planned.positions, planned.surfaces, children);
    if (!planned.normals.empty()) keep_model_normals(object, std::move(planned.normals));
    // The lists hold what they need; the planned copies can go.
    std::vector<float>().swap(planned.positions);
    planned.surfaces = SurfaceSet();
  }
}

}  // namespace molv
