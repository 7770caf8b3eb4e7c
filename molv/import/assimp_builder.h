/*
 * A scene Assimp read becomes the plan of the host's model.
 */
#ifndef MOLV_IMPORT_ASSIMP_BUILDER_H
#define MOLV_IMPORT_ASSIMP_BUILDER_H

#include <memory>
#include <string>
#include <vector>

#include "api/model.h"
#include "import/model_plan.h"

struct aiScene;

namespace molv {

// Takes all the model needs from SCENE, which may go after it.  Throws an
// ImportError when the scene is broken or nothing in it can be taken.
ModelPlan plan_model(const aiScene &scene);

}  // namespace molv

#endif  // MOLV_IMPORT_ASSIMP_BUILDER_H
