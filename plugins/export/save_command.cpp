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

#include "core/export_run.h"
#include "core/output.h"
#include "export/pass1.h"
#include "export/target_file.h"
#include "host/molv_host.h"
#include "xwriter/frames.h"
#include "xwriter/header.h"
#include "xwriter/templates.h"

namespace qel {

namespace {

bool g_save_in_progress = false;

// The output of every run.  Its buffer is large, so there is one per
// process, attached to the run's file while a run lasts.
Output &process_output() {
  static Output output;
  return output;
}

void trace_maps(const MaterialMaps &maps) {
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

bool save_in_progress() { return g_save_in_progress; }

void export_to(ExportRun &run) {
  debugf("\nList of Materials/Textures ...\n");
  collect_materials(run, mo_get_world());
  trace_maps(run.maps);
  debugf("*** Gesamtanzahl der Surfaces : %d ***\n", run.surface_total);
  debugf("*** Gesamtanzahl der Vertices : %d ***\n\n", run.vertex_total);
  debugf("*** Gesamtanzahl der Surface-Vertices : %d ***\n\n", run.surface_vertex_total);
  if (!run.running()) return;

  debugf("\nFile-Header ...\n");
  write_header(run);
  write_template_declarations(run);

  if (run.options.is_set(opt_materials)) {
    debugf("\nMaterials ...\n");
    write_materials(run);
    debugf("\nTextures ...\n");
    write_texture_materials(run);
  }
  if (!run.running()) return;

  debugf("\nObject ...\n");
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  write_object(run, mo_get_world(), origin, 0, 0);

  if (run.options.is_set(opt_model_info) && run.running() &&
      run.options.is_set(opt_optimize_vertices)) {
    patch_header(run, run.written_vertex_total);
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

// The save is under way for as long as this lasts; however it ends, the
// output lets go of the run's file and the next save may start.
struct SaveScope {
  SaveScope() { g_save_in_progress = true; }
  ~SaveScope() {
    process_output().attach_string(nullptr);
    g_save_in_progress = false;
  }
  SaveScope(const SaveScope &) = delete;
  SaveScope &operator=(const SaveScope &) = delete;
};

// The file name of the run: NAME.x, or the one the user picks for
// "save_as" or an empty name.  False when the user picked none.
bool choose_file_name(const char *command, const char *name, std::string *file_name) {
  if (std::strcmp(command, "save_as") != 0 && name[0] != '\0') {
    *file_name = std::string(name) + ".x";
    return true;
  }
  static const char *const filters[] = {"X Files", ".x", "All Files", "*", nullptr};
  const char *chosen = mo_get_export_filename("Save X File", filters);
  if (chosen == nullptr || chosen[0] == '\0') return false;
  *file_name = chosen;
  return true;
}

// The writing phases into the open file, then the file put in place (or
// removed); the run's status says how it ended.
void write_file(ExportRun &run, TargetFile &file) {
  Output &out = run.out;
  // A file renamed into place is synced before the rename; a run copied
  // into the target afterwards writes its own file only to read it back.
  out.attach_fd(file.fd(), !file.in_place());
  try {
    export_to(run);
  } catch (...) {
    // The plug-in's own buffers (names, texts) come from the C++ heap.
    run.fail(exception_message().c_str());
  }
  // Close: everything buffered goes out; a failure there fails the run.
  out.flush();
  const bool written = run.running();
  out.attach_string(nullptr);
  if (written) {
    if (file.commit()) {
      run.complete();
    } else {
      run.fail(("Can not write file '" + run.file_name + "' !").c_str());
    }
  } else {
    file.discard();
  }
}

// The status line and the message of the run's end.
void report_end(ExportRun &run) {
  set_progress_bar(0);
  const RunStatus status = run.status();
  if (status == RunStatus::cancelled) {
    display_message("%s", "*** Abort by User ! ***");
  } else if (status == RunStatus::failed) {
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", run.failure().c_str());
  } else {
    display_message("%s", "Ready !");
  }
}

void save_run(const SaveRequest &request) {
  std::string file_name;
  if (!choose_file_name(request.command, request.name, &file_name)) return;

  SaveScope scope;
  tcl_command("wm deiconify .x_export_save\ngrab set -global .x_export_save\nupdate");
  debugf("\nX-File : '%s'\n", file_name.c_str());

  TargetFile file;
  if (!file.open(file_name)) {
    message_dialog("Can not open file '%s' for writing !", file_name.c_str());
    return;
  }

  std::fputs("Export Direct X File\n", stdout);
  std::fflush(stdout);
  display_message("%s", "Export X File ...");

  ExportRun run(process_output(), request.options, request.plugin_version);
  run.file_name = file_name;
  write_file(run, file);
  if (run.status() == RunStatus::completed && request.remember_options != nullptr) {
    request.remember_options();
  }
  report_end(run);
  std::string rule(79, '-');
  debugf("\nReady !\n\n%s\n\n", rule.c_str());
}

}  // namespace

void save_command(const SaveRequest &request) {
  try {
    save_run(request);
  } catch (...) {
    const char *message = "Out of memory !";  // when even the message has no room
    std::string failure;
    try {
      failure = exception_message();
      message = failure.c_str();
    } catch (...) {
    }
    set_progress_bar(0);
    display_message("%s", "*** Export failed ! ***");
    message_dialog("%s", message);
  }
}

}  // namespace qel
