/*
 * Embedded textures: written as files for an export, what their files are
 * called and how an uncompressed one starts.
 */
#include "import/embedded_textures.h"

#include <assimp/texture.h>

#include <string>

namespace molv {

bool ExtractedTextures::extract(Model &model, const std::string &stem, std::string *error) {
  discard();
  model_ = &model;
  extracted_ = true;  // from the first name the table gives another
  try {
    for (const EmbeddedImage &image : model.embedded_images) {
      if (image.extension.empty()) continue;  // named as the model does, with a warning
      const std::string path = stem + "_" + std::to_string(image.index) + "." + image.extension;
      files_.add(path, image.head, image.bytes.data(), image.bytes.size());
      const size_t slash = path.rfind('/');
      model.textures.at(image.slot) = slash == std::string::npos ? path : path.substr(slash + 1);
    }
  } catch (const ImportError &e) {
    discard();
    if (error != nullptr) *error = one_line(e.what);
    return false;
  }
  return true;
}

bool ExtractedTextures::commit(std::string *error) {
  try {
    files_.commit();
  } catch (const ImportError &e) {
    if (error != nullptr) *error = one_line(e.what);
    return false;
  }
  return true;
}

void ExtractedTextures::discard() {
  files_.discard();
  if (!extracted_) return;
  for (const EmbeddedImage &image : model_->embedded_images)
    if (image.slot >= 0 && static_cast<size_t>(image.slot) < model_->textures.size())
      model_->textures[image.slot] = image.name;
  extracted_ = false;
}

// The file name extension for a compressed embedded texture's format hint
// ("png", "jpg"): lower-case letters and digits only, or empty for a hint
// that is none.
std::string extension_of(const aiTexture &texture) {
  std::string hint;
  for (size_t i = 0; i < sizeof texture.achFormatHint && texture.achFormatHint[i] != '\0'; ++i) {
    const char c = texture.achFormatHint[i];
    if (c >= 'A' && c <= 'Z') {
      hint += static_cast<char>(c - 'A' + 'a');
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      hint += c;
    } else {
      return "";
    }
  }
  return hint;
}

// The 18-byte head of an uncompressed 32-bit TGA image whose rows start at
// the top: an embedded texture of texels (blue, green, red, alpha, as TGA
// holds them) is written as one.
std::string tga_head(unsigned width, unsigned height) {
  std::string head(18, '\0');
  head[2] = 2;  // uncompressed true colour
  head[12] = static_cast<char>(width & 0xff);
  head[13] = static_cast<char>(width >> 8);
  head[14] = static_cast<char>(height & 0xff);
  head[15] = static_cast<char>(height >> 8);
  head[16] = 32;
  head[17] = 0x28;  // 8 bits of alpha, top-left origin
  return head;
}

}  // namespace molv
