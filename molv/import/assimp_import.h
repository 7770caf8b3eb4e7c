/*
 * Models in any format Assimp reads (OBJ, glTF 2, PLY, STL, 3DS, Collada,
 * OFF, ...) become the model: the load itself, what it has to say besides
 * (warnings), the textures a model embeds, and how far a long read got.
 */
#ifndef MOLV_IMPORT_ASSIMP_IMPORT_H
#define MOLV_IMPORT_ASSIMP_IMPORT_H

#include <functional>
#include <string>
#include <vector>

#include "import/assimp_plan.h"

namespace molv {

// Replaces the current model with a model in any format Assimp reads.  On
// a file that cannot be read the model is left empty and *error holds the
// one line "FILE: reason".
bool load_model_file(const std::string &path, std::string *error);
// What the last load_model_file wants the user to know besides: parts of
// the model that were left out, textures a .x file cannot name (as they
// are named now).  One line each, without the file name; empty after a
// load with nothing to say.
std::vector<std::string> load_warnings();
// What the file of the last load_model_file holds itself, as Assimp read
// it (zero after a load that failed).
const SceneCounts &load_scene_counts();
// Textures embedded in the model (glTF's "*0") are named in the .x as the
// model names them, with a warning.  extract_embedded_textures writes each
// one for STEM_<n>.<ext> (hidden until the commit) and names that file,
// without its folder, in the texture table; false with the one line
// *error when one cannot be prepared.  A second call starts again from
// the model's own names.  The files wait beside their names until the
// export is complete: commit puts them in place (false with *error set
// when one cannot be), discard removes those not in place and names the
// textures as the model does again (the end of every export; the next load
// and the end of the process remove them too).  An earlier file of such a name is
// never replaced by a run that does not complete.
bool extract_embedded_textures(const std::string &stem, std::string *error);
bool commit_embedded_textures(std::string *error);
void discard_embedded_textures();
// The names of the texture files of the last load_model_file that wait
// for the commit, as they will be written.
std::vector<std::string> embedded_texture_files();
// While load_model_file reads a file, REPORT hears how far it got (0 to
// 100) as often as Assimp's reader tells; an empty REPORT hears nothing.
void set_load_progress(std::function<void(int percent)> report);
// While load_model_file reads a file, STOP is asked a few times a second
// whether to give up (the window's Cancel); when it says so the reader
// ends at once and the load fails.  An empty STOP never gives up.
void set_load_stop(std::function<bool()> stop);

// The seconds the last load_model_file spent in the reader's child
// (Assimp's reader and the plan of the model, handed back), the rest of
// its time being the host's model (for the benchmark's breakdown).
double last_read_seconds();

// Every file the last load_model_file opened (the model, its .mtl, its
// buffers and the like), each once, as the reader named them; also after
// a load that failed.  Textures are not among them: the reader does not
// open them.
const std::vector<std::string> &load_opened_files();

// The file name patterns Assimp reads ("*.obj" and the rest, as Assimp
// lists them, separated by ';').
std::string assimp_extension_list();

}  // namespace molv

#endif  // MOLV_IMPORT_ASSIMP_IMPORT_H
