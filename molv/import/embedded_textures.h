/*
 * The textures a model embeds, as files beside the export.
 */
#ifndef MOLV_IMPORT_EMBEDDED_TEXTURES_H
#define MOLV_IMPORT_EMBEDDED_TEXTURES_H

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/write_all.h"
#include "files/output_file.h"
#include "api/model.h"
#include "files/write_all.h"
#include "files/output_file.h"
#include "import/import_error.h"

struct aiTexture;

namespace molv {

// Textures embedded in the model, written beside the export: each
// prepared in full beside its name first (files/output_file.h: nameless,
// with the mode of the file it replaces) and put in place only when the
// export is complete, so a load or an export that fails leaves no file
// behind and replaces none.  A link at such a name is replaced, never
// written through.
class TextureFiles {
 public:
  TextureFiles() = default;
  ~TextureFiles() { discard(); }
  TextureFiles(const TextureFiles &) = delete;
  TextureFiles &operator=(const TextureFiles &) = delete;

  // Writes `head` and `size` bytes of `data` for the file `path`; throws
  // an ImportError naming the file when that fails.
  void add(const std::string &path, const std::string &head, const void *data, size_t size) {
    files_.push_back(std::make_unique<OutputFile>());
    OutputFile &file = *files_.back();
    std::string why;
    if (!file.open(path, false, &why)) fail(path, why);
    if (!write_all(file.fd(), head.data(), head.size()) || !write_all(file.fd(), data, size))
      fail(path, std::strerror(errno));
  }

  // The names of the files waiting, in order.
  std::vector<std::string> paths() const {
    std::vector<std::string> names;
    for (const auto &file : files_) names.push_back(file->path());
    return names;
  }

  // Puts every file in its place; throws an ImportError on the first that
  // cannot be, after which the rest are removed.
  void commit() {
    for (auto &file : files_) {
      if (!file->commit()) {
        const int error = errno;
        const std::string path = file->path();
        discard();
        fail(path, std::strerror(error));
      }
    }
    files_.clear();
  }

  // Removes the files not yet in place.
  void discard() { files_.clear(); }

 private:
  [[noreturn]] static void fail(const std::string &path, const std::string &why) {
    throw ImportError{"cannot write the embedded texture " + path + ": " + why};
  }

  std::vector<std::unique_ptr<OutputFile>> files_;
};

// The images a model embeds (a glTF's "*0"), which the .x names as the
// model does, with a warning, unless an export writes each one for
// STEM_<n>.<ext> and names that file, without its folder, in the model's
// texture table.  One per export: the files wait beside their names until
// the export is complete; commit() puts them in place, discard() (and the
// end of the object) removes those not in place and names the textures as
// the model does again.  An earlier file of such a name is never replaced
// by a run that does not complete.
class ExtractedTextures {
 public:
  ExtractedTextures() = default;
  ~ExtractedTextures() { discard(); }
  ExtractedTextures(const ExtractedTextures &) = delete;
  ExtractedTextures &operator=(const ExtractedTextures &) = delete;

  // Writes every image of a known format MODEL embeds and names it so in
  // MODEL's texture table; false with the one line *error when one cannot
  // be prepared (nothing is then left prepared).
  bool extract(Model &model, const std::string &stem, std::string *error);
  // False with *error set when a file cannot be put in place.
  bool commit(std::string *error);
  void discard();

  // Whether the images are written as files for this export.
  bool extracted() const { return extracted_; }
  // The names of the files waiting for the commit, as they will be written.
  std::vector<std::string> paths() const { return files_.paths(); }

 private:
  Model *model_ = nullptr;
  TextureFiles files_;
  bool extracted_ = false;
};

// The file name extension for a compressed embedded texture's format hint
// ("png", "jpg"): lower-case letters and digits only, or empty for a hint
// that is none.
std::string extension_of(const aiTexture &texture);

// The 18-byte head of an uncompressed 32-bit TGA image whose rows start at
// the top: an embedded texture of texels (blue, green, red, alpha, as TGA
// holds them) is written as one.
std::string tga_head(unsigned width, unsigned height);

}  // namespace molv

#endif  // MOLV_IMPORT_EMBEDDED_TEXTURES_H
