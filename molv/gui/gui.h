/*
 * The molv window (`molv gui`): the model's object tree, File > Open, the
 * File > Export menu with the plug-ins' entries, a status line and a
 * progress bar.  What a plug-in shows goes to the window: the status line
 * and the bar, its messages as Tk message boxes, its file chooser as Tk's
 * save dialog, and its own dialogs are real Tk windows.
 *
 * The command line prepares what is its business (the scene of the command
 * line, the debug log, the plug-in folder) and hands the rest to run().
 */
#ifndef MOLV_GUI_H
#define MOLV_GUI_H

#include <functional>
#include <string>

#include "import/load.h"

namespace molv {
namespace gui {

struct Window {
  // The file the window reads once it is up (load_scene, off the event
  // loop); empty: the sample, which is the model until then.
  std::string scene;
  // A Tcl file evaluated once the window is up (`--script`); empty: none.
  std::string script;
  // Loads the plug-in once the interpreter runs.  0 when it runs, else a
  // failure that has been reported; the window opens either way.
  std::function<int()> start_plugin;
  // The plug-in's folder and the debug log ("" without one): files an
  // export's textures are held against (export_textures.h).
  std::string plugin_folder;
  std::string debug_log;
  // File > Open: reads FILE (import/load.h), watched by WATCH.
  std::function<Load(const std::string &file, const LoadWatch &watch)> load_scene;
  // The record of the model the window opens with (the sample's), which
  // run() takes over; null: the process's model as it is.
  Load *first = nullptr;
};

// Opens the window and runs it until it closes.  Returns the exit status:
// 0, 1 when the window cannot open or the script fails, 2 when SCENE could
// not be read (one line on standard error says why).
int run(const Window &window);

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_H
