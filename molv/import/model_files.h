/*
 * The files a model's reader opens: the model itself and everything it
 * refers to (an OBJ's .mtl, a glTF's buffers, ...).  Assimp opens them
 * through this file system, which takes regular files only and opens them
 * without blocking (a FIFO or a device in the model's place would hang the
 * load or read without end), and remembers every file it gave the reader,
 * for the files a conversion depends on.
 */
#ifndef MOLV_IMPORT_MODEL_FILES_H
#define MOLV_IMPORT_MODEL_FILES_H

#include <assimp/IOSystem.hpp>
#include <string>
#include <vector>

namespace molv {

class ModelFiles : public Assimp::IOSystem {
 public:
  bool Exists(const char *path) const override;
  char getOsSeparator() const override { return '/'; }
  // Read modes only; null for a file that is not a regular file (the
  // refusal is kept for refusal()) or that does not open.
  Assimp::IOStream *Open(const char *path, const char *mode = "rb") override;
  void Close(Assimp::IOStream *stream) override;

  // Every file opened, in the order of their first opening, each once.
  const std::vector<std::string> &opened() const { return opened_; }
  // Why the first file that is not a regular file was refused ("PATH is a
  // FIFO, not a regular file"), or empty.
  const std::string &refusal() const { return refusal_; }

 private:
  std::vector<std::string> opened_;
  std::string refusal_;
};

}  // namespace molv

#endif  // MOLV_IMPORT_MODEL_FILES_H
