/*
 * The run's end states, the maps of pass 1, the cancel poll and the abort
 * sequence.
 */
#include "core/export_run.h"

#include <cstddef>
#include <cstring>

#include "host/molv_host.h"

namespace qel {

namespace {
const char kAbortNote[] = "\n\n##### Abort by User !!! #####\n\n";

// Room for `count` entries, never a block of no bytes: an empty palette
// still gets a map (with no entries), and a host allocator may answer a
// request for nothing with null.
int32_t *allocate_unclaimed(std::size_t count) {
  auto *entries = static_cast<int32_t *>(myalloc((count > 0 ? count : 1) * sizeof(int32_t)));
  if (entries != nullptr) {
    for (std::size_t i = 0; i < count; ++i) entries[i] = -1;
  }
  return entries;
}
}  // namespace

bool MaterialMaps::create(int palette, int textures) {
  clear();
  if (palette < 0) palette = 0;
  if (textures < 0) textures = 0;
  int32_t *materials = allocate_unclaimed(static_cast<std::size_t>(palette));
  if (materials == nullptr) return false;
  int32_t *texture_entries = allocate_unclaimed(2 * static_cast<std::size_t>(textures));
  if (texture_entries == nullptr) {
    myfree(materials);
    return false;
  }
  mat_list = materials;
  mat_count = palette;
  tex_list = texture_entries;
  tex_material = texture_entries + textures;
  tex_count = textures;
  return true;
}

void MaterialMaps::clear() {
  if (mat_list != nullptr) myfree(mat_list);
  if (tex_list != nullptr) myfree(tex_list);  // tex_material lies in the same block
  mat_list = tex_list = tex_material = nullptr;
  mat_count = tex_count = 0;
  next_material_number = next_texture_number = 0;
}

void ExportRun::take_output_failure() {
  if (status_ == RunStatus::running && out.failed()) {
    status_ = RunStatus::failed;
    failure_ = "Can not write file '" + file_name + "' !";
  }
}

void ExportRun::fail(const char *message) {
  if (!running()) return;
  status_ = RunStatus::failed;
  failure_ = message;
}

bool ExportRun::cancel_poll(const char *status_text) {
  // Status texts hold '%': they are arguments, never formats.
  if (status_text != nullptr) display_message("%s", status_text);
  tcl_command("update");
  const char *answer = tcl_command("global qel_cancel \n set qel_cancel");
  return answer != nullptr && std::strcmp(answer, "1") == 0;
}

void ExportRun::abort_sequence() {
  tcl_command("global qel_cancel\nset qel_cancel 0\ndestroy .x_export_save\nupdate");
  debugf("%s", kAbortNote);
  out.puts(kAbortNote);
  // A run that already failed stays failed: its message is the one to show.
  if (running()) status_ = RunStatus::cancelled;
}

}  // namespace qel
