/*
 * The state of one export run, shared by the save command and every writer,
 * with the two Tcl exchanges every long loop needs: the cancel poll and the
 * abort sequence.  The save command resets it at the start of each run.
 *
 * Part of the floor: includes nothing of the plug-in above it but the option
 * string and the output context.
 */
#ifndef QEL_EXPORT_EXPORT_STATE_H
#define QEL_EXPORT_EXPORT_STATE_H

#include <cstdint>
#include <string>

namespace qel {

class Output;

enum ExportStatus : int {
  kExportRunning = 0,    // also: completed
  kExportCancelled = 1,  // the user cancelled
  kExportFailed = 2      // a write or an allocation failed
};

struct ExportState {
  int status = kExportRunning;
  int hierarchy_level = -1;
  int object_counter = -1;
  int surface_total = 0;
  int vertex_total = 0;
  int surface_vertex_total = 0;
  int surface_vertex_done = 0;
  int written_vertex_total = 0;
  int fixed_numbers = 1;
  int decimal_places = 6;

  // The maps of pass 1 (host memory; tex_material lies behind tex_list in
  // the same block).  The sizes are those the maps were created with.
  int32_t *mat_list = nullptr;
  int32_t *tex_list = nullptr;
  int32_t *tex_material = nullptr;
  int mat_count = 0;
  int tex_count = 0;

  long placeholder_pos = -1;
  int placeholder_digits = 0;  // digits of the number written there
  std::string export_file_name;
  // The message shown when the run fails (status 2).
  std::string failure;
  bool running = false;
};

ExportState &export_state();

// Resets every per-export field, in the order the save command resets them,
// and takes fixed_numbers and decimal_places from the option string.
void export_state_reset();

// The cancel poll: the status text (if not null) to the status line, then
// "update", then reads qel_cancel.  True when the user cancelled.
bool cancel_poll(const char *status_text);

// The shared part of the abort sequence: clears qel_cancel, closes the
// dialog, writes the abort note to the trace and to `out`, sets status 1.
// The caller frees its own working data (RAII) and returns at once.
void abort_sequence(Output &out);

// Ends the run as failed (status 2) with `message` for the user, unless it
// already ended.  "Out of memory !" for an allocation failure.
void export_fail(const char *message);
void export_fail_out_of_memory();

}  // namespace qel

#endif  // QEL_EXPORT_EXPORT_STATE_H
