/*
 * JSON scene files: a scene file (or text) becomes the model, and the
 * built-in sample scene.
 */
#ifndef MOLV_IMPORT_SCENE_FILE_H
#define MOLV_IMPORT_SCENE_FILE_H

#include <memory>
#include <string>

#include "api/model.h"

namespace molv {

// The model of the scene in a JSON file or text.  On a bad scene: null,
// and *error holds the one line "FILE: PATH: what is wrong" (FILE is
// LABEL for a text).
std::unique_ptr<Model> read_scene_file(const std::string &path, std::string *error);
std::unique_ptr<Model> read_scene_text(const std::string &json, const std::string &label,
                                       std::string *error);
// The same made the process's model (an empty one on a bad scene).
bool load_scene_text(const std::string &json, const std::string &label, std::string *error);

// The built-in sample scene: uses every block of the file format under the
// default options.
const char *sample_scene_json();

}  // namespace molv

#endif  // MOLV_IMPORT_SCENE_FILE_H
