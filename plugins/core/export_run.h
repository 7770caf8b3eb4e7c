/*
 * One export run as one object: its options, its status, counters and
 * totals, the maps of pass 1, the frame writer's index code, the header
 * placeholder, the file name and the failure text, and the output every
 * writer appends to.  The save command makes one per run and hands it by
 * reference to pass 1 and every writer (write_<thing>(run, thing)); with
 * it go the two Tcl exchanges every long loop needs, the cancel poll and
 * the abort sequence.
 *
 * Ownership: the run owns its maps (given back to the host when it ends)
 * and a copy of its options; the output is the caller's.
 *
 * On the floor: includes nothing of the plug-in above it.
 */
#ifndef QEL_CORE_EXPORT_RUN_H
#define QEL_CORE_EXPORT_RUN_H

#include <cstdint>
#include <string>

#include "core/options.h"
#include "core/output.h"

namespace qel {

// How a run stands.  Writers go on while it is running and return as soon
// as it is not; only the save command declares a run completed, once its
// file is in place.
enum class RunStatus {
  running,
  completed,
  cancelled,  // the user cancelled
  failed      // a write or an allocation failed; ExportRun::failure says why
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

class ExportRun {
 public:
  // A run writing into `out` (not owned) under `options`; the version is
  // the plug-in's, for the creator comment of the header.
  ExportRun(Output &output, const Options &run_options, const char *version)
      : out(output), options(run_options), plugin_version(version) {}
  ExportRun(const ExportRun &) = delete;
  ExportRun &operator=(const ExportRun &) = delete;

  Output &out;
  const Options options;
  const char *const plugin_version;
  // The file being written, as the messages name it.
  std::string file_name;

  int hierarchy_level = -1;
  int object_counter = -1;
  int surface_total = 0;
  int vertex_total = 0;
  int surface_vertex_total = 0;
  int surface_vertex_done = 0;
  int written_vertex_total = 0;

  MaterialMaps maps;

  // The index code of the object the frame writer is on ("level_parent_
  // own_counter"): four 11-character numbers and three '_' at most.
  char index_code[64] = "";

  long placeholder_pos = -1;
  int placeholder_digits = 0;  // digits of the number written there

  // True while the run goes on.  A write of the output that failed ends
  // the run here, as failed ("Can not write file ..."), unless it already
  // ended: the output only keeps its error, the run decides.
  bool running() {
    take_output_failure();
    return status_ == RunStatus::running;
  }
  RunStatus status() {
    take_output_failure();
    return status_;
  }
  // The message shown when the run failed.
  const std::string &failure() const { return failure_; }

  // Ends the run as failed with `message` for the user, unless it already
  // ended.  "Out of memory !" for an allocation failure.
  void fail(const char *message);
  void fail_out_of_memory() { fail("Out of memory !"); }
  // The save command, once the file is in place.
  void complete() {
    if (running()) status_ = RunStatus::completed;
  }

  // The cancel poll: the status text (if not null) to the status line, then
  // "update", then reads qel_cancel.  True when the user cancelled.
  bool cancel_poll(const char *status_text);

  // The shared part of the abort sequence: clears qel_cancel, closes the
  // dialog, writes the abort note to the trace and to the output, and ends
  // the run as cancelled.  The caller frees its own working data (RAII) and
  // returns at once.
  void abort_sequence();

 private:
  void take_output_failure();

  RunStatus status_ = RunStatus::running;
  std::string failure_;
};

}  // namespace qel

#endif  // QEL_CORE_EXPORT_RUN_H
