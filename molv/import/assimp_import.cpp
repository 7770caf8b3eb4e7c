/*
 * Models from other formats: every file Assimp reads (OBJ with its .mtl,
 * glTF 2, PLY, STL, 3DS, Collada, OFF and the rest) becomes the host's
 * model (assimp_builder.h), with the warnings of what a .x file cannot
 * hold and the textures the model embeds waiting beside the export.
 */
#include "import/assimp_import.h"

#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "api/model.h"
#include "import/assimp_builder.h"
#include "import/embedded_textures.h"
#include "import/import_error.h"
#include "import/isolated_read.h"

namespace molv {
namespace {

std::vector<std::string> &warnings() {
  static std::vector<std::string> lines;
  return lines;
}

// The textures of the last model, waiting for its export to complete.
TextureFiles &pending_textures() {
  static TextureFiles files;
  return files;
}

std::string &embedded_texture_stem() {
  static std::string stem;
  return stem;
}

std::vector<std::string> &opened_files() {
  static std::vector<std::string> files;
  return files;
}

std::function<void(int)> &load_progress() {
  static std::function<void(int)> report;
  return report;
}

}  // namespace

const std::vector<std::string> &load_warnings() { return warnings(); }

void set_embedded_texture_stem(const std::string &stem) { embedded_texture_stem() = stem; }

bool commit_embedded_textures(std::string *error) {
  try {
    pending_textures().commit();
  } catch (const ImportError &e) {
    if (error != nullptr) *error = one_line(e.what);
    return false;
  }
  return true;
}

void discard_embedded_textures() { pending_textures().discard(); }
std::vector<std::string> embedded_texture_files() { return pending_textures().paths(); }
void set_load_progress(std::function<void(int)> report) { load_progress() = std::move(report); }

double &read_seconds() {
  static double seconds = 0.0;
  return seconds;
}

double last_read_seconds() { return read_seconds(); }

const std::vector<std::string> &load_opened_files() { return opened_files(); }

bool load_model_file(const std::string &path, std::string *error) {
  std::string reason;
  warnings().clear();
  opened_files().clear();
  pending_textures().discard();
  try {
    Assimp::Importer importer;
    const auto read_start = std::chrono::steady_clock::now();
    // A model that crashes the reader ends a child process, not molv.
    IsolatedRead read = read_isolated(importer, path, load_progress());
    read_seconds() =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - read_start).count();
    opened_files() = std::move(read.opened);
    const aiScene *scene = read.scene;
    if (!read.refusal.empty()) {
      // Also where the reader went on without the file (an OBJ without its
      // .mtl): the model would not be the one the user has.
      reason = read.refusal;
    } else if (scene == nullptr) {
      reason = read.reason;
    } else {
      std::vector<std::string> lines;
      install_model(build_model(*scene, embedded_texture_stem(), pending_textures(),
                                [&importer] { importer.FreeScene(); }, &lines));
      warnings() = std::move(lines);
      if (error != nullptr) error->clear();
      return true;
    }
  } catch (const ImportError &e) {
    reason = e.what;
  } catch (const std::bad_alloc &) {
    reason = "too large: out of memory";
  }
  pending_textures().discard();
  clear_model();
  if (error != nullptr) *error = one_line(path + ": " + reason);
  return false;
}

std::string assimp_extension_list() {
  std::string list;
  Assimp::Importer().GetExtensionList(list);
  return list;
}

}  // namespace molv

