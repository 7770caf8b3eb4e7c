/*
 * Assimp's reader, first in a child process.  A model can crash the reader
 * (a glTF image whose mime type has no '/', a chain of twenty thousand
 * nested nodes): read in a forked child first, such a model ends the
 * child, and molv names the file instead of going down with it.  Only a
 * file the reader read (and let go of) in the child is read again here for
 * the model; the child answers through a memory file with what the file
 * system of the read (model_files.h) saw and what the reader said.  The
 * price is a second read of every model; the memory of the two reads is
 * never held at once.
 */
#ifndef MOLV_IMPORT_ISOLATED_READ_H
#define MOLV_IMPORT_ISOLATED_READ_H

#include <assimp/Importer.hpp>
#include <functional>
#include <string>
#include <vector>

struct aiScene;

namespace molv {

struct IsolatedRead {
  // The scene, owned by the importer; null when the file was not read.
  const aiScene *scene = nullptr;
  // Why not (the reader's error, or that it crashed), when scene is null.
  std::string reason;
  // The files the reader opened, and why one was refused (model_files.h).
  std::vector<std::string> opened;
  std::string refusal;
};

// The hidden command of a child that reads apart in a new molv (used off
// the main thread): `molv --read-apart PATH FD`, answering into FD.
inline constexpr const char *kReadApartCommand = "--read-apart";
int read_apart(const char *path, const char *fd_text);

// Reads PATH into IMPORTER (no post-processing) in a child process;
// PROGRESS (may be empty) hears how far the read got.
IsolatedRead read_isolated(Assimp::Importer &importer, const std::string &path,
                           const std::function<void(int)> &progress);

}  // namespace molv

#endif  // MOLV_IMPORT_ISOLATED_READ_H
