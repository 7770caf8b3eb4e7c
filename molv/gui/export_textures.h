/*
 * The textures of an export from the window, as the command line's
 * --extract-textures and --copy-textures give them: the choices are two
 * check buttons of the Export menu (::molv::gui::extract_textures and
 * ::molv::gui::copy_textures, 0 or 1, kept for the session), and they act
 * when a plug-in is about to write a .x whose name is known.
 *
 * Before the plug-in writes, every texture the export will write (the
 * model's embedded ones extracted, its texture files copied beside the .x)
 * is prepared as a nameless file beside its name and held against the
 * files the export reads (the model and the files its reader opened, its
 * textures, the plug-in's own files) and against the other files it writes
 * (the .x, the debug log, each other), by device and inode and by name.  A
 * clash prepares nothing and the plug-in is not run.  The textures are put
 * in place only once the export has completed (files/output_file.h: mode
 * and owner kept, a link replaced rather than written through); otherwise
 * they are removed.  The .x against the model's files is the dialog's
 * question (it asks before the .x replaces any file), not a clash.
 */
#ifndef MOLV_GUI_EXPORT_TEXTURES_H
#define MOLV_GUI_EXPORT_TEXTURES_H

#include <tcl.h>

#include <string>
#include <vector>

#include "import/load.h"

namespace molv {
namespace gui {

// What else the export writes or reads besides the model's files.
struct ExportContext {
  std::string plugin_folder;  // the plug-in's library, script and options file
  std::string debug_log;      // "" without one
};

// Before the plug-in writes X_FILE (the .x) of the model of LOAD (read
// from SCENE, its name from the root) under OPTIONS (the option string it
// is given): prepares what the choices ask for.  False with the one-line
// *error when the export must not run (nothing is left prepared).
bool prepare_export_textures(Tcl_Interp *interp, const ExportContext &context, const Load &load,
                             const std::string &scene, const std::string &x_file,
                             const std::string &options, std::string *error);

// Once the plug-in has returned: COMPLETE puts the prepared textures in
// place (false with *error when one cannot be), else removes them.  The
// model's texture table has its own names back either way.
bool finish_export_textures(bool complete, std::string *error);

// What the last export's textures have to say (a texture that was not
// there to copy, one that could not be put in place), one line each.
const std::vector<std::string> &export_texture_notes();

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_EXPORT_TEXTURES_H
