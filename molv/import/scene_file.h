/*
 * JSON scene files: a scene file (or text) becomes the model, and the
 * built-in sample scene.
 */
#ifndef MOLV_IMPORT_SCENE_FILE_H
#define MOLV_IMPORT_SCENE_FILE_H

#include <string>

namespace molv {

// Replaces the current model with the scene in a JSON file or text.  On a
// bad scene the model is left empty and *error holds the one line
// "FILE: PATH: what is wrong" (FILE is `label` for load_scene_text).
bool load_scene_file(const std::string &path, std::string *error);
bool load_scene_text(const std::string &json, const std::string &label,
                     std::string *error);

// The built-in sample scene: uses every block of the file format under the
// default options.
const char *sample_scene_json();

}  // namespace molv

#endif  // MOLV_IMPORT_SCENE_FILE_H
