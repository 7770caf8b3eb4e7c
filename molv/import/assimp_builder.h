/*
 * A scene Assimp read becomes the host's model.
 */
#ifndef MOLV_IMPORT_ASSIMP_BUILDER_H
#define MOLV_IMPORT_ASSIMP_BUILDER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/model.h"
#include "import/embedded_textures.h"

struct aiScene;

namespace molv {

// Makes the model of SCENE.  Embedded textures are written as STEM_<n>.<ext>
// into FILES when STEM is not empty.  FREE_SCENE is called once all the
// model needs has been taken from SCENE, before the model's records are
// made, so that they take the memory the scene leaves.  *WARNINGS gets
// the lines of what the model holds that a .x file will not.  Throws an
// ImportError when the scene is broken or nothing in it can be taken.
std::unique_ptr<Model> build_model(const aiScene &scene, const std::string &stem,
                                   TextureFiles &files, const std::function<void()> &free_scene,
                                   std::vector<std::string> *warnings);

}  // namespace molv

#endif  // MOLV_IMPORT_ASSIMP_BUILDER_H
