/*
 * The state of one export run, shared by the save command and every writer,
 * with the two Tcl exchanges every long loop needs: the cancel poll and the
 * abort sequence.  export_state_reset() at the start of each run resets all
 * of it: the run's status, counters and totals, the maps of pass 1, the
 * frame writer's index code and the output.
 *
 * Part of the floor: includes nothing of the plug-in above it but the option
 * string and the output context.
 */
#ifndef QEL_EXPORT_EXPORT_STATE_H
#define QEL_EXPORT_EXPORT_STATE_H

#include <cstdint>
#include <string>

#include "export/output.h"

namespace qel {

// How a run stands.  Writers go on while it is running and return as soon
// as it is not; only the save command declares a run completed, once its
// file is in place.
enum class RunStatus {
  running,
  completed,
  cancelled,  // the user cancelled
  failed      // a write or an allocation failed; ExportState::failure says why
};

// The palette index a surface's material stands for: an index outside the
// palette counts as 0 (also when the palette is empty).
inline int palette_index(int index, int palette) {
  return index >= 0 && index < palette ? index : 0;
}

// The maps of pass 1, in host memory, owned here: which palette materials
// and textures the written meshes use, numbered in the order of first use
// (the numbers serve the trace), and for each texture the palette index it
// was first used with.  tex_material lies behind tex_list in the same
// block.  The sizes are those the maps were created with; a palette or
// texture table that grew since has no entries beyond them.
struct MaterialMaps {
  MaterialMaps() = default;
  ~MaterialMaps() { clear(); }
  MaterialMaps(const MaterialMaps &) = delete;
  MaterialMaps &operator=(const MaterialMaps &) = delete;

  // Both maps, every entry -1.  False when the host has no memory for
  // them; then neither exists.
  bool create(int palette, int textures);
  // Gives both maps back to the host; the numbering starts again.
  void clear();
  bool created() const { return mat_list != nullptr; }

  // The entries, -1 beyond a map or without one.
  int material_number(int index) const {
    return mat_list != nullptr && index >= 0 && index < mat_count ? mat_list[index] : -1;
  }
  int texture_number(int texture) const {
    return tex_list != nullptr && texture >= 0 && texture < tex_count ? tex_list[texture] : -1;
  }
  int texture_material(int texture) const {
    return tex_list != nullptr && texture >= 0 && texture < tex_count ? tex_material[texture] : -1;
  }

  int32_t *mat_list = nullptr;
  int32_t *tex_list = nullptr;
  int32_t *tex_material = nullptr;
  int mat_count = 0;
  int tex_count = 0;
  int next_material_number = 0;
  int next_texture_number = 0;
};

struct ExportState {
  RunStatus status = RunStatus::running;
  int hierarchy_level = -1;
  int object_counter = -1;
  int surface_total = 0;
  int vertex_total = 0;
  int surface_vertex_total = 0;
  int surface_vertex_done = 0;
  int written_vertex_total = 0;
  int fixed_numbers = 1;
  int decimal_places = 6;

  MaterialMaps maps;

  // The index code of the object the frame writer is on ("level_parent_
  // own_counter"): four 11-character numbers and three '_' at most.
  char index_code[64] = "";

  long placeholder_pos = -1;
  int placeholder_digits = 0;  // digits of the number written there
  std::string export_file_name;
  // The message shown when the run fails.
  std::string failure;

  // The save command's output.  It is large, so there is one per process,
  // attached to the run's file while a run lasts.
  Output output;
  // A save command is under way (a second one, from an event processed
  // during the first, would share all of this state).
  bool save_in_progress = false;
};

ExportState &export_state();

// Resets every per-export field, in the order the save command resets them,
// and takes fixed_numbers and decimal_places from the option string.  The
// file name and save_in_progress belong to the save command and stay.
void export_state_reset();

// The cancel poll: the status text (if not null) to the status line, then
// "update", then reads qel_cancel.  True when the user cancelled.
bool cancel_poll(const char *status_text);

// The shared part of the abort sequence: clears qel_cancel, closes the
// dialog, writes the abort note to the trace and to `out`, and ends the run
// as cancelled.  The caller frees its own working data (RAII) and returns at
// once.
void abort_sequence(Output &out);

// Ends the run as failed with `message` for the user, unless it already
// ended.  "Out of memory !" for an allocation failure.
void export_fail(const char *message);
void export_fail_out_of_memory();

}  // namespace qel

#endif  // QEL_EXPORT_EXPORT_STATE_H
