/*
 * The per-export state, the maps of pass 1, the cancel poll and the abort
 * sequence.
 */
#include "export/export_state.h"

#include <cstddef>
#include <cstring>

#include "binding/options.h"
#include "host/molv_host.h"

namespace qel {

namespace {
ExportState g_state;
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

ExportState &export_state() { return g_state; }

void export_state_reset() {
  ExportState &s = g_state;
  s.status = RunStatus::running;
  s.hierarchy_level = -1;
  s.object_counter = -1;
  s.surface_total = 0;
  s.vertex_total = 0;
  s.surface_vertex_total = 0;
  s.surface_vertex_done = 0;
  s.written_vertex_total = 0;
  s.fixed_numbers = option_is_set(opt_fixed_numbers) ? 1 : 0;
  // A character that is not a digit is clamped into 0..9, taken as the
  // byte it is (0..255) whether or not char is signed here.
  int places = static_cast<unsigned char>(option_string()[opt_decimals]) - '0';
  s.decimal_places = places < 0 ? 0 : (places > 9 ? 9 : places);
  s.maps.clear();
  s.index_code[0] = '\0';
  s.placeholder_pos = -1;
  s.placeholder_digits = 0;
  s.failure.clear();
  s.output.attach_string(nullptr);
}

bool cancel_poll(const char *status_text) {
  // Status texts hold '%': they are arguments, never formats.
  if (status_text != nullptr) display_message("%s", status_text);
  tcl_command("update");
  const char *answer = tcl_command("global qel_cancel \n set qel_cancel");
  return answer != nullptr && std::strcmp(answer, "1") == 0;
}

void abort_sequence(Output &out) {
  tcl_command("global qel_cancel\nset qel_cancel 0\ndestroy .x_export_save\nupdate");
  debugf("%s", kAbortNote);
  out.puts(kAbortNote);
  // A run that already failed stays failed: its message is the one to show.
  if (g_state.status == RunStatus::running) g_state.status = RunStatus::cancelled;
}

void export_fail(const char *message) {
  if (g_state.status != RunStatus::running) return;
  g_state.status = RunStatus::failed;
  g_state.failure = message;
}

void export_fail_out_of_memory() { export_fail("Out of memory !"); }

}  // namespace qel
