/*
 * Where the file of a model's texture is.  Models name their textures as
 * the program that wrote them did: relative to the model, often with
 * Windows' '\' between folders (".\SpiderTex.jpg"), or with a folder of the
 * author's machine that is not here.  The command line looks for the file
 * as a reader of the model would, so that copying, the report and the
 * files a conversion depends on agree on which file that is.
 */
#ifndef MOLV_FILES_TEXTURE_FILE_H
#define MOLV_FILES_TEXTURE_FILE_H

#include <string>
#include <vector>

namespace molv {

// The texture NAME of the model at MODEL_PATH as a regular file: the name
// with '\' read as a folder mark, taken as it is when absolute and from the
// model's folder otherwise; failing that, the name's last part in the
// model's folder.  "" when neither is a regular file, and for an embedded
// texture ("*0").
std::string model_texture_file(const std::string &model_path, const std::string &name);

// The last part of a texture name, as the plug-in writes it when it strips
// the folder: behind the last '/', '\' or ':'.
std::string texture_base_name(const std::string &name);

// Whether NAME is one a model's reader makes up for a texture the model
// does not name (Assimp's "$texture_dummy.bmp" of an MD2 without a skin
// name): its last part begins with '$'.
bool is_placeholder_texture(const std::string &name);

// The image files (by extension) beside the model at MODEL_PATH that are
// probably the texture a model without a usable name means: those whose
// name begins with the model's own, in any letter case (faerie2.bmp beside
// faerie.md2), else the only image there.  Names without their folder, in
// name order; none when the folder cannot be read.
std::vector<std::string> probable_textures(const std::string &model_path);

}  // namespace molv

#endif  // MOLV_FILES_TEXTURE_FILE_H
