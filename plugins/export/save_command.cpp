/*
 * The save command: one export run from the dialog's options to the closed
 * file and the final status line.
 */
#include "export/save_command.h"

#include <cstdio>
#include <cstring>
#include <exception>
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
  const MaterialMaps &maps = export_state().maps;
  debugf("Adresse 'mat_list' = %p\n\n", static_cast<void *>(maps.mat_list));
  // A palette or texture table that grew since the maps were made has no
  // entries there.
  for (int i = 0; i < mo_get_num_palette(); ++i) {
    debugf("Material %d = %d\n", i, maps.material_number(i));
  }
  debugf("\n\nAdresse 'tex_list' = %p\n\n", static_cast<void *>(maps.tex_list));
  for (int i = 0; i < mo_get_num_textures(); ++i) {
    debugf("Texture %d = %d  ( Material %d )\n", i, maps.texture_number(i),
           maps.texture_material(i));
  }
  debugf("\n\n");
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
  if (s.status != RunStatus::running) return;

  debugf("\nFile-Header ...\n");
  write_header(out);

  if (option_is_set(opt_materials)) {
    debugf("\nMaterials ...\n");
    write_materials(out);
    debugf("\nTextures ...\n");
    write_texture_materials(out);
  }
  if (s.status != RunStatus::running) return;

  debugf("\nObject ...\n");
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  write_object(out, mo_get_world(), origin, 0, 0);

  if (option_is_set(opt_model_info) && s.status == RunStatus::running &&
      option_is_set(opt_optimize_vertices)) {
    patch_header(out, s.written_vertex_total);
  }
}

std::string exception_message() {
  try {
    throw;
  } catch (const std::bad_alloc &) {
    return "Out of memory !";
  } catch (const std::exception &e) {
    return "Export failed : " + std::string(e.what()) + " !";
  } catch (...) {
    return "Export failed : an unknown error !";
  }
}

namespace {

// What a run holds beyond its own scope is given back however it ends:
// the maps of pass 1 go back to the host, and the next save may start.
struct SaveScope {
  SaveScope() { export_state().save_in_progress = true; }
  ~SaveScope() {
    ExportState &s = export_state();
    s.maps.clear();
    s.output.attach_string(nullptr);
    s.save_in_progress = false;
  }
  SaveScope(const SaveScope &) = delete;
  SaveScope &operator=(const SaveScope &) = delete;
};

// The file name of the run: NAME.x, or the one the user picks for
// "save_as" or an empty name.  False when the user picked none.
bool choose_file_name(const char *command, const char *name) {
  ExportState &s = export_state();
  if (std::strcmp(command, "save_as") != 0 && name[0] != '\0') {
    s.export_file_name = std::string(name) + ".x";
    return true;
  }
  static const char *const filters[] = {"X Files", ".x", "All Files", "*", nullptr};
  const char *chosen = mo_get_export_filename("Save X File", filters);
  if (chosen == nullptr || chosen[0] == '\0') return false;
  s.export_file_name = chosen;
  return true;
}

// The writing phases into the open file, then the file put in place (or
// removed); the run's status says how it ended.
void write_file(TargetFile &file) {
  ExportState &s = export_state();
  export_state_reset();
  Output &out = s.output;
  // A file renamed into place is synced before the rename; a run copied
  // into the target afterwards writes its own file only to read it back.
  out.attach_fd(file.fd(), !file.in_place());
  try {
    export_to(out);
  } catch (...) {
    // The plug-in's own buffers (names, texts) come from the C++ heap.
    export_fail(exception_message().c_str());
  }
  // Close: everything buffered goes out; a failure there fails the run.
  out.flush();
  out.attach_string(nullptr);
  if (s.status == RunStatus::running) {
    if (file.commit()) {
      s.status = RunStatus::completed;
    } else {
      export_fail(("Can not write file '" + s.export_file_name + "' !").c_str());
    }
  } else {
    file.discard();
  }
}

// The status line and the message of the run's end.
void report_end() {
  const ExportState &s = export_state();
  set_progress_bar(0);
  if (s.status == RunStatus::cancelled) {
    display_message("%s", "*** Abort by User ! ***");
  } else if (s.status == RunStatus::failed) {
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", s.failure.c_str());
  } else {
    display_message("%s", "Ready !");
  }
}

void save_run(int argc, const char *const *argv) {
  ExportState &s = export_state();
  if (s.save_in_progress) {
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
  if (!choose_file_name(command, name)) return;

  SaveScope scope;
  tcl_command("wm deiconify .x_export_save\ngrab set -global .x_export_save\nupdate");
  debugf("\nX-File : '%s'\n", s.export_file_name.c_str());

  TargetFile file;
  if (!file.open(s.export_file_name)) {
    message_dialog("Can not open file '%s' for writing !", s.export_file_name.c_str());
    return;
  }

  std::fputs("Export Direct X File\n", stdout);
  std::fflush(stdout);
  display_message("%s", "Export X File ...");

  write_file(file);
  if (s.status == RunStatus::completed) options_save();
  report_end();
  std::string rule(79, '-');
  debugf("\nReady !\n\n%s\n\n", rule.c_str());
}

}  // namespace

const char *qel_save_cmd(int argc, const char *const *argv) {
  // No exception may reach the host.  One thrown outside the writing
  // phases (the file name, the trace) ends the save as failed, too.
  try {
    save_run(argc, argv);
  } catch (...) {
    ExportState &s = export_state();
    s.status = RunStatus::failed;
    const char *message = "Out of memory !";  // when even the message has no room
    try {
      s.failure = exception_message();
      message = s.failure.c_str();
    } catch (...) {
    }
    set_progress_bar(0);
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", message);
  }
  return "";
}

}  // namespace qel
