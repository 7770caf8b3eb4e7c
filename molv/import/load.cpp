/*
 * The one load: the file's kind decided by its name, the file read by the
 * scene loader or a reader's planner in its child, and the record of what
 * the load found.
 */
#include "import/load.h"

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "files/texture_file.h"
#include "import/import_error.h"
#include "import/isolated_read.h"
#include "import/model_reader.h"
#include "import/scene_file.h"

namespace molv {
namespace {

Source source_of(const std::string &file) {
  if (file.empty()) return Source::kSample;
  return file_extension(file) == ".json" ? Source::kScene : Source::kModel;
}

// A model of another format, read and planned in the reader's child.
void read_model(const std::string &path, const LoadWatch &watch, Load *load) {
  std::string reason;
  try {
    const auto read_start = std::chrono::steady_clock::now();
    // A model that crashes the reader ends a child process, not molv.
    IsolatedRead read =
        read_isolated(reader_for(path), path, watch.progress, watch.stop, watch.limits,
                      watch.meanwhile);
    load->read_end = read.end;
    load->read_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - read_start).count();
    load->opened = std::move(read.opened);
    if (!read.refusal.empty()) {
      // Also where the reader went on without the file (an OBJ without its
      // .mtl): the model would not be the one the user has.
      reason = read.refusal;
    } else if (!read.planned) {
      reason = read.reason;
    } else {
      load->notes = std::move(read.plan.notes);
      load->model = build_planned(read.plan);
      return;
    }
  } catch (const ImportError &e) {
    reason = e.what;
  } catch (const std::bad_alloc &) {
    reason = "too large: out of memory";
  }
  load->error = one_line(path + ": " + reason);
}

// The texture table of the loaded model, each name looked for beside it.
void name_textures(Load *load) {
  for (const std::string &name : load->model->textures) {
    NamedTexture texture;
    texture.name = name;
    texture.embedded = !name.empty() && name[0] == '*';
    texture.file = model_texture_file(load->file, name);
    load->textures.push_back(std::move(texture));
  }
  for (const EmbeddedImage &image : load->model->embedded_images) {
    EmbeddedImage named = image;
    std::string().swap(named.bytes);
    load->embedded.push_back(std::move(named));
  }
}

// The texture names of a model that name no file: an empty one (the .x
// writes it as it is) and a reader's placeholders, with the images beside
// the model that are probably meant.
void texture_name_warnings(const Load &load, std::vector<std::string> *lines) {
  if (load.source != Source::kModel) return;
  bool empty = false;
  std::vector<std::string> placeholders;
  for (const NamedTexture &texture : load.textures) {
    if (texture.name.empty()) empty = true;
    if (texture.file.empty() && is_placeholder_texture(texture.name))
      placeholders.push_back(one_line(texture.name));
  }
  if (!empty && placeholders.empty()) return;
  const std::vector<std::string> probable = probable_textures(load.file);
  std::string meant;
  for (size_t i = 0; i < probable.size() && i < 3; ++i)
    meant += (i == 0 ? "" : " or ") + one_line(probable[i]);
  if (probable.size() > 3) meant += " or another";
  if (!meant.empty()) meant = " (" + meant + " beside the model is probably the one meant)";
  if (empty) {
    lines->push_back(
        "the model names a texture without a name, which the .x writes as "
        "TextureFileName { \"\"; } and no engine finds" +
        meant);
  }
  for (const std::string &name : placeholders) {
    lines->push_back("the texture " + name +
                     " is a placeholder of the model's reader, no file, and no engine finds it" +
                     meant);
  }
}

}  // namespace

std::string file_extension(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string ext = name.substr(dot);
  for (char &c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

Load load_file(const std::string &file, const LoadWatch &watch) {
  Load load;
  load.file = file;
  load.source = source_of(file);
  struct stat info {};
  if (load.source == Source::kSample) {
    load.model = read_scene_text(sample_scene_json(), "sample", &load.error);
  } else if (stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    // A folder is no model (a reader would read it as an empty one), and
    // a pipe or a device would be read without end.
    load.error = file + ": not a regular file";
  } else if (load.source == Source::kModel) {
    // The reader names the file and its reason when it cannot read it.
    read_model(file, watch, &load);
  } else {
    load.opened.push_back(file);
    load.model = read_scene_file(file, &load.error);
  }
  load.loaded = load.model != nullptr;
  if (load.loaded) name_textures(&load);
  return load;
}

void install(Load &load) { install_model(std::move(load.model)); }

std::vector<std::string> load_warnings(const Load &load, bool extracted) {
  std::vector<std::string> lines = plan_warnings(load.notes, load.embedded, extracted);
  texture_name_warnings(load, &lines);
  return lines;
}

std::vector<std::string> readable_extensions() {
  std::vector<std::string> extensions{".json"};
  for (const ModelReader &reader : model_readers())
    for (const std::string &extension : reader.extensions()) extensions.push_back(extension);
  return extensions;
}

}  // namespace molv
