/*
 * The textures of an export from the window: prepared before the plug-in
 * writes, put in place after a complete export.
 */
#include "gui/export_textures.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/model.h"
#include "common/run_files.h"
#include "files/output_file.h"
#include "files/texture_file.h"
#include "import/embedded_textures.h"

namespace molv {
namespace gui {
namespace {

std::vector<std::unique_ptr<OutputFile>> g_copies;
ExtractedTextures g_extracted;
std::vector<std::string> g_notes;

bool chosen(Tcl_Interp *interp, const char *variable) {
  const char *value = Tcl_GetVar(interp, variable, TCL_GLOBAL_ONLY);
  int on = 0;
  return value != nullptr && Tcl_GetBoolean(nullptr, value, &on) == TCL_OK && on != 0;
}

bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void drop_prepared() {
  g_copies.clear();
  g_extracted.discard();
}

}  // namespace

bool prepare_export_textures(Tcl_Interp *interp, const ExportContext &context, const Load &load,
                             const std::string &scene, const std::string &x_file,
                             const std::string &options, std::string *error) {
  drop_prepared();
  g_notes.clear();
  const bool extract = chosen(interp, "::molv::gui::extract_textures");
  const bool copy = chosen(interp, "::molv::gui::copy_textures");
  // NAME of NAME.x, as the command line's -o gives it.
  const std::string name = ends_with(x_file, ".x") ? x_file.substr(0, x_file.size() - 2) : x_file;
  // The .x and the debug log are held against everything the run reads:
  // the plug-in's files, the model and (below) the files it refers to.
  RunFiles files;
  plan_plugin_files(context.plugin_folder, &files);
  if (!scene.empty()) files.reads(scene, "the model " + scene);
  if (!files.writes(x_file, true, "the export file " + x_file, error)) return false;
  if (!context.debug_log.empty() &&
      !files.writes(context.debug_log, false, "the debug log " + context.debug_log, error))
    return false;
  // A scene file's textures are names only, and the sample's are.
  if (load.source != Source::kModel) return true;
  if (extract && !g_extracted.extract(model(), texture_stem(name), error)) {
    drop_prepared();
    return false;
  }
  // The model's files as the record names them, from the root as the
  // window's export runs in the model's folder.
  Load from_root;
  from_root.file = scene;
  from_root.source = load.source;
  from_root.opened = load.opened;
  from_root.textures = load.textures;
  for (NamedTexture &texture : from_root.textures)
    texture.file = model_texture_file(scene, texture.name);
  const TextureFilesPlan plan{from_root, g_extracted.paths(), name, options, copy};
  if (!plan_texture_files(plan, &files, &g_copies, &g_notes, error)) {
    drop_prepared();
    return false;
  }
  // The panel says "warning: " itself.
  for (std::string &note : g_notes)
    if (note.rfind("warning: ", 0) == 0) note.erase(0, 9);
  return true;
}

bool finish_export_textures(bool complete, std::string *error) {
  bool ok = true;
  if (complete && !g_extracted.commit(error)) ok = false;
  for (auto &copy : g_copies) {
    if (!complete || !ok || copy->commit()) continue;
    *error = "cannot write the copied texture " + copy->path() + ": " + std::strerror(errno);
    ok = false;
  }
  drop_prepared();
  if (!ok) g_notes.push_back(*error);
  return ok;
}

const std::vector<std::string> &export_texture_notes() { return g_notes; }

}  // namespace gui
}  // namespace molv
