/*
 * After a complete export of a model, the texture files the .x names are
 * looked for where a reader of the .x looks: relative to the .x itself.
 * A name that finds no file, or finds one only when letter case is not
 * told apart (TEST.PNG for test.png, which a reader on Windows finds and
 * one anywhere else does not), is named in one warning line each.
 */
#ifndef MOLV_COMMON_TEXTURE_CHECK_H
#define MOLV_COMMON_TEXTURE_CHECK_H

#include <string>
#include <vector>

namespace molv {

// The texture names a run wrote, known from the run itself: NAMED, the
// names the plug-in was given (run_outcome.h), as it writes them under
// OPTIONS (without their folder under strip_texture_path, each '"' as
// '_', none without textures), each once, in the order of the file.
std::vector<std::string> x_texture_names(const std::vector<std::string> &named,
                                         const std::string &options);

// One line for each of NAMES (written in the .x at X_PATH) that finds no
// file beside X_PATH (the name read relative to the .x's folder, a
// backslash as a folder mark) or finds one only in another letter case.
// Names of textures embedded in the model ("*0"), which the import warns
// about, are left alone.  The .x itself is not read.
std::vector<std::string> texture_warnings(const std::string &x_path,
                                          const std::vector<std::string> &names);

}  // namespace molv

#endif  // MOLV_COMMON_TEXTURE_CHECK_H
