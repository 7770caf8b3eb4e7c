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

#include "common/file_beside.h"
#include "common/output_file.h"
#include "import/import_error.h"

struct aiTexture;

namespace molv {

// Textures embedded in the model, written beside the export: each
// prepared in full beside its name first (common/output_file.h: nameless,
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
