/*
 * A scene Assimp read becomes the host's model.
 */
#ifndef MOLV_IMPORT_ASSIMP_BUILDER_H
#define MOLV_IMPORT_ASSIMP_BUILDER_H

#include <memory>
#include <string>
#include <vector>

#include "api/model.h"
#include "import/assimp_plan.h"

struct aiScene;

namespace molv {

// Takes all the model needs from SCENE, which may go after it.  Throws an
// ImportError when the scene is broken or nothing in it can be taken.
ModelPlan plan_model(const aiScene &scene);

// The model of PLAN, whose objects are used up.
std::unique_ptr<Model> build_planned(ModelPlan &plan);

// One line for each kind of thing the planned model holds that the .x
// file will not, with the images MODEL embeds as they are named now
// (written as files when EXTRACTED, else under the model's own names).
std::vector<std::string> plan_warnings(const PlanNotes &notes, const Model &model,
                                       bool extracted);

}  // namespace molv

#endif  // MOLV_IMPORT_ASSIMP_BUILDER_H
