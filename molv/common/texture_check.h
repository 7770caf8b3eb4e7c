/*
 * After a complete export of a model, the texture files the .x names are
 * looked for where a reader of the .x looks: relative to the .x itself.
 * The names that find no file are named in one warning line (a batch of
 * models is not drowned in one line per texture), with the way to copy
 * those found beside the model; one that finds a file only when letter
 * case is not told apart (TEST.PNG for test.png, which a reader on Windows
 * finds and one anywhere else does not) gets a line of its own.  What the
 * options leave out of a model's textures is said here as well.
 */
#ifndef MOLV_COMMON_TEXTURE_CHECK_H
#define MOLV_COMMON_TEXTURE_CHECK_H

#include <string>
#include <vector>

#include "import/load.h"
#include "import/model_plan.h"

namespace molv {

// The texture names a run wrote, known from the run itself: NAMED, the
// names the plug-in was given (run_outcome.h), as it writes them under
// OPTIONS (without their folder under strip_texture_path, each '"' as
// '_', none without textures), each once, in the order of the file.
std::vector<std::string> x_texture_names(const std::vector<std::string> &named,
                                         const std::string &options);

// The names the .x gives under OPTIONS to the textures of LOAD found
// beside the model: those an export can copy beside the .x.
std::vector<std::string> copyable_textures(const Load &load, const std::string &options);

// The lines on NAMES (written in the .x at X_PATH): one naming those that
// find no file beside X_PATH (the name read relative to the .x's folder, a
// backslash as a folder mark), and one for each that finds one only in
// another letter case.  COPYABLE: those of NAMES whose file is beside the
// model, which COPY_HINT (the way to copy them beside the .x; empty: none)
// would put there.  Names of textures embedded in the model ("*0") and a
// reader's placeholders, which the import warns about, are left alone.
// The .x itself is not read.
std::vector<std::string> texture_warnings(const std::string &x_path,
                                          const std::vector<std::string> &names,
                                          const std::vector<std::string> &copyable = {},
                                          const std::string &copy_hint = std::string());

// The line on the texture coordinates of a model (NOTES of its load) that
// OPTIONS leave out: all of them without textures or materials (with the
// option that writes them), else those of meshes without a texture, for
// which no option writes them.  None when nothing is left out.
std::vector<std::string> texture_option_warnings(const PlanNotes &notes,
                                                 const std::string &options);

}  // namespace molv

#endif  // MOLV_COMMON_TEXTURE_CHECK_H
