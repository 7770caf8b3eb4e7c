/*
 * The save command: one export run from the dialog's options to the closed
 * file and the final status line.
 */
#include "export/save_command.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"
#include "export/pass1.h"
#include "export/target_file.h"
#include "host/molv_host.h"
#include "xwriter/frames.h"
#include "xwriter/header.h"
#include "xwriter/templates.h"

namespace qel {

namespace {

void trace_maps() {
  ExportState &s = export_state();
  debugf("Adresse 'mat_list' = %p\n\n", static_cast<void *>(s.mat_list));
  for (int i = 0; i < mo_get_num_palette(); ++i) {
    // The map was sized when it was made; a palette that grew since has no
    // entry there.
    int entry = (s.mat_list != nullptr && i < s.mat_count) ? s.mat_list[i] : -1;
    debugf("Material %d = %d\n", i, entry);
  }
  debugf("\n\nAdresse 'tex_list' = %p\n\n", static_cast<void *>(s.tex_list));
  for (int i = 0; i < mo_get_num_textures(); ++i) {
    bool known = s.tex_list != nullptr && i < s.tex_count;
    debugf("Texture %d = %d  ( Material %d )\n", i, known ? s.tex_list[i] : -1,
           known ? s.tex_material[i] : -1);
  }
  debugf("\n\n");
}

// The Output is large; one per process, reused by every run.
Output &the_output() {
  static Output output;
  return output;
}

}  // namespace

void export_to(Output &out) {
  ExportState &s = export_state();

  debugf("\nList of Materials/Textures ...\n");
  collect_materials(mo_get_world());
  trace_maps();
  debugf("*** Gesamtanzahl der Surfaces : %d ***\n", s.surface_total);
  debugf("*** Gesamtanzahl der Vertices : %d ***\n\n", s.vertex_total);
  debugf("*** Gesamtanzahl der Surface-Vertices : %d ***\n\n", s.surface_vertex_total);
  if (s.status != kExportRunning) return;

  debugf("\nFile-Header ...\n");
  write_header(out);

  if (option_is_set(opt_materials)) {
    debugf("\nMaterials ...\n");
    write_materials(out);
    debugf("\nTextures ...\n");
    write_texture_materials(out);
  }
  if (s.status != kExportRunning) return;

  debugf("\nObject ...\n");
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  write_object(out, mo_get_world(), origin, 0, 0);

  if (option_is_set(opt_model_info) && s.status == kExportRunning &&
      option_is_set(opt_optimize_vertices)) {
    patch_header(out, s.written_vertex_total);
  }
}

namespace {

void save_run(int argc, const char *const *argv) {
  ExportState &s = export_state();
  if (s.running) {
    // A second run from an event processed during this one would share all
    // of its state.
    debugf("qel_save : export already running\n");
    return;
  }
  const char *command = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const char *name = argc > 1 && argv[1] != nullptr ? argv[1] : "";
  const char *options = argc > 2 && argv[2] != nullptr ? argv[2] : "";

  debugf("\n'qel_save_cmd' : '%s', '%s', '%s'\n", command, name, options);
  options_take_over(options);

  if (std::strcmp(command, "save_as") != 0 && name[0] != '\0') {
    s.export_file_name = std::string(name) + ".x";
  } else {
    static const char *const filters[] = {"X Files", ".x", "All Files", "*", nullptr};
    const char *chosen = mo_get_export_filename("Save X File", filters);
    if (chosen == nullptr || chosen[0] == '\0') return;
    s.export_file_name = chosen;
  }

  s.running = true;
  tcl_command("wm deiconify .x_export_save\ngrab set -global .x_export_save\nupdate");
  debugf("\nX-File : '%s'\n", s.export_file_name.c_str());

  TargetFile file;
  if (!file.open(s.export_file_name)) {
    message_dialog("Can not open file '%s' for writing !", s.export_file_name.c_str());
    s.running = false;
    return;
  }

  std::fputs("Export Direct X File\n", stdout);
  std::fflush(stdout);
  display_message("%s", "Export X File ...");

  export_state_reset();
  Output &out = the_output();
  out.attach_fd(file.fd());
  try {
    export_to(out);
  } catch (const std::bad_alloc &) {
    // The plug-in's own buffers (names, texts) come from the C++ heap.
    export_fail_out_of_memory();
  }

  // Close: everything buffered goes out; a failure there fails the run.
  out.flush();
  out.attach_string(nullptr);
  if (s.status == kExportRunning) {
    if (!file.commit()) export_fail(("Can not write file '" + s.export_file_name + "' !").c_str());
  } else {
    file.discard();
  }

  free_maps();
  if (s.status == kExportRunning) options_save();
  set_progress_bar(0);
  if (s.status == kExportCancelled) {
    display_message("%s", "*** Abort by User ! ***");
  } else if (s.status == kExportFailed) {
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", s.failure.c_str());
  } else {
    display_message("%s", "Ready !");
  }
  std::string rule(79, '-');
  debugf("\nReady !\n\n%s\n\n", rule.c_str());
  s.running = false;
}

}  // namespace

const char *qel_save_cmd(int argc, const char *const *argv) {
  // No exception may reach the host.
  try {
    save_run(argc, argv);
  } catch (...) {
    free_maps();
    export_state().running = false;
    set_progress_bar(0);
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", "Out of memory !");
  }
  return "";
}

}  // namespace qel
