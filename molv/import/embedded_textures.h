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
#include <string>
#include <vector>

#include "common/file_beside.h"
#include "import/import_error.h"

struct aiTexture;

namespace molv {

// Textures embedded in the model, written beside the export: each into a
// new hidden file in the folder first, renamed to its name only when the
// export is complete, so a load or an export that fails leaves no file
// behind and replaces none.  A rename never writes through a link that
// stands at the name: the link itself is replaced.
class TextureFiles {
 public:
  TextureFiles() = default;
  ~TextureFiles() { discard(); }
  TextureFiles(const TextureFiles &) = delete;
  TextureFiles &operator=(const TextureFiles &) = delete;

  // Writes `head` and `size` bytes of `data` for the file `path`; throws
  // an ImportError naming the file when that fails.
  void add(const std::string &path, const std::string &head, const void *data, size_t size) {
    std::string temp;
    const int fd = open_beside(path, &temp);
    if (fd < 0) fail(path);
    files_.push_back({path, temp});
    // On the disk before it can replace an earlier file of the name, as
    // the export is.
    bool ok = ::fchmod(fd, new_file_mode()) == 0 && write_all(fd, head.data(), head.size()) &&
              write_all(fd, data, size) && ::fsync(fd) == 0;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) fail(path, error);
  }

  // Puts every file in its place; throws an ImportError on the first that
  // cannot be, after which the rest are removed.
  void commit() {
    for (File &file : files_) {
      if (::rename(file.temp.c_str(), file.path.c_str()) != 0) {
        const int error = errno;
        discard();
        fail(file.path, error);
      }
      file.temp.clear();
    }
    files_.clear();
  }

  // Removes the files not yet in place.
  void discard() {
    for (const File &file : files_) {
      if (!file.temp.empty()) ::unlink(file.temp.c_str());
    }
    files_.clear();
  }

 private:
  struct File {
    std::string path;
    std::string temp;  // empty once renamed
  };

  [[noreturn]] static void fail(const std::string &path, int error = errno) {
    throw ImportError{"cannot write the embedded texture " + path + ": " + std::strerror(error)};
  }

  std::vector<File> files_;
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
