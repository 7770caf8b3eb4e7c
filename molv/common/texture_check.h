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

// The texture names of a text .x file as this plug-in writes them (its
// "  TextureFileName { "NAME"; }" lines, all in the templates ahead of the
// first frame or mesh), each once, in the order of the file.
std::vector<std::string> x_texture_names(const std::string &x_path);

// One line for each of those names that finds no file beside X_PATH (the
// name read relative to the .x's folder, a backslash as a folder mark) or
// finds one only in another letter case.  Names of textures embedded in
// the model ("*0"), which the import warns about, are left alone.
std::vector<std::string> texture_warnings(const std::string &x_path);

}  // namespace molv

#endif  // MOLV_COMMON_TEXTURE_CHECK_H
