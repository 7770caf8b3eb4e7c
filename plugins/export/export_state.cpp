/*
 * The per-export state, the cancel poll and the abort sequence.
 */
#include "export/export_state.h"

#include <cstring>

#include "binding/options.h"
#include "export/output.h"
#include "host/molv_host.h"

namespace qel {

namespace {
ExportState g_state;
const char kAbortNote[] = "\n\n##### Abort by User !!! #####\n\n";
}  // namespace

ExportState &export_state() { return g_state; }

void export_state_reset() {
  ExportState &s = g_state;
  s.status = kExportRunning;
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
  s.placeholder_pos = -1;
  s.placeholder_digits = 0;
  s.failure.clear();
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
  if (g_state.status == kExportRunning) g_state.status = kExportCancelled;
}

void export_fail(const char *message) {
  if (g_state.status != kExportRunning) return;
  g_state.status = kExportFailed;
  g_state.failure = message;
}

void export_fail_out_of_memory() { export_fail("Out of memory !"); }

}  // namespace qel
