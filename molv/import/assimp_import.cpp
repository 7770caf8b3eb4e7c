/*
 * Models from other formats: every file Assimp reads (OBJ with its .mtl,
 * glTF 2, PLY, STL, 3DS, Collada, OFF and the rest) becomes the host's
 * model (assimp_builder.h), with the warnings of what a .x file cannot
 * hold and the textures the model embeds waiting beside the export.
 */
#include "import/assimp_import.h"

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
#include "import/assimp_plan.h"
#include "import/embedded_textures.h"
#include "import/import_error.h"
#include "import/isolated_read.h"

namespace molv {
namespace {

// The textures of the last model, waiting for its export to complete.
TextureFiles &pending_textures() {
  static TextureFiles files;
  return files;
}

// What the last load counted of what a .x file will not hold, and whether
// the model's embedded images are written as files for the export.
PlanNotes &load_notes() {
  static PlanNotes notes;
  return notes;
}
bool g_extracted = false;

// The texture table names each image the model embeds by the model's own
// name again ("*0").
void name_images_as_the_model_does() {
  Model &current = model();
  for (const EmbeddedImage &image : current.embedded_images)
    if (image.slot >= 0 && static_cast<size_t>(image.slot) < current.textures.size())
      current.textures[image.slot] = image.name;
  g_extracted = false;
}

std::vector<std::string> &opened_files() {
  static std::vector<std::string> files;
  return files;
}

std::function<void(int)> &load_progress() {
  static std::function<void(int)> report;
  return report;
}

std::function<bool()> &load_stop() {
  static std::function<bool()> stop;
  return stop;
}

}  // namespace

const SceneCounts &load_scene_counts() { return load_notes().file; }

std::vector<std::string> load_warnings() {
  return plan_warnings(load_notes(), model(), g_extracted);
}

bool extract_embedded_textures(const std::string &stem, std::string *error) {
  discard_embedded_textures();
  Model &current = model();
  try {
    for (const EmbeddedImage &image : current.embedded_images) {
      if (image.extension.empty()) continue;  // named as the model does, with a warning
      const std::string path = stem + "_" + std::to_string(image.index) + "." + image.extension;
      pending_textures().add(path, image.head, image.bytes.data(), image.bytes.size());
      const size_t slash = path.rfind('/');
      current.textures.at(image.slot) = slash == std::string::npos ? path : path.substr(slash + 1);
    }
  } catch (const ImportError &e) {
    discard_embedded_textures();
    if (error != nullptr) *error = one_line(e.what);
    return false;
  }
  g_extracted = true;
  return true;
}

bool commit_embedded_textures(std::string *error) {
  try {
    pending_textures().commit();
  } catch (const ImportError &e) {
    if (error != nullptr) *error = one_line(e.what);
    return false;
  }
  return true;
}

void discard_embedded_textures() {
  pending_textures().discard();
  if (g_extracted) name_images_as_the_model_does();
}
std::vector<std::string> embedded_texture_files() { return pending_textures().paths(); }
void set_load_progress(std::function<void(int)> report) { load_progress() = std::move(report); }
void set_load_stop(std::function<bool()> stop) { load_stop() = std::move(stop); }

double &read_seconds() {
  static double seconds = 0.0;
  return seconds;
}

double last_read_seconds() { return read_seconds(); }

const std::vector<std::string> &load_opened_files() { return opened_files(); }

bool load_model_file(const std::string &path, std::string *error) {
  std::string reason;
  opened_files().clear();
  pending_textures().discard();
  load_notes() = PlanNotes();
  g_extracted = false;
  try {
    const auto read_start = std::chrono::steady_clock::now();
    // A model that crashes the reader ends a child process, not molv.
    IsolatedRead read = read_isolated(path, load_progress(), load_stop());
    read_seconds() =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - read_start).count();
    opened_files() = std::move(read.opened);
    if (!read.refusal.empty()) {
      // Also where the reader went on without the file (an OBJ without its
      // .mtl): the model would not be the one the user has.
      reason = read.refusal;
    } else if (!read.planned) {
      reason = read.reason;
    } else {
      load_notes() = std::move(read.plan.notes);
      install_model(build_planned(read.plan));
      if (error != nullptr) error->clear();
      return true;
    }
  } catch (const ImportError &e) {
    reason = e.what;
  } catch (const std::bad_alloc &) {
    reason = "too large: out of memory";
  }
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

