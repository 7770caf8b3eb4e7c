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

}  // namespace molv

#endif  // MOLV_FILES_TEXTURE_FILE_H
