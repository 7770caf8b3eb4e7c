/*
 * The stand-in host's own C++ interface: what the molv executable and the
 * tests use to set up a model, the Tcl interpreter and a plug-in, and to see
 * what a plug-in did (status line, progress bar, messages, debug output,
 * host memory).  Plug-ins never see this file; they see only
 * plugins/host/molv_host.h, whose functions the host implements elsewhere in
 * this folder.
 *
 * One host per process: the model, the interpreter and the recordings are
 * process-wide, as in the real modeller.
 */
#ifndef MOLV_HOST_H
#define MOLV_HOST_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/molv_host.h"

struct Tcl_Interp;

namespace molv {

// ---- model -------------------------------------------------------------

// Replaces the current model with the scene in a JSON file or text.  On a
// bad scene the model is left empty and *error holds the one line
// "FILE: PATH: what is wrong" (FILE is `label` for load_scene_text).
bool load_scene_file(const std::string &path, std::string *error);
bool load_scene_text(const std::string &json, const std::string &label,
                     std::string *error);
// Replaces the current model with a model in any format Assimp reads (OBJ,
// glTF 2, PLY, STL, 3DS, Collada, OFF, ...).  On a file that cannot be read
// the model is left empty and *error holds the one line "FILE: reason".
bool load_model_file(const std::string &path, std::string *error);
// What the last load_model_file wants the user to know besides: parts of
// the model that were left out, textures a .x file cannot name.  One line
// each, without the file name; empty after a load with nothing to say.
const std::vector<std::string> &load_warnings();
// Textures embedded in a model (glTF's "*0"): with a non-empty stem,
// load_model_file writes each one for STEM_<n>.<ext> and names that file
// (without its folder) in the texture table; with an empty stem (the
// default) the texture keeps the name the model gives it.
void set_embedded_texture_stem(const std::string &stem);
// The texture files of the last load_model_file wait in hidden files
// beside their names until the export is complete: commit puts them in
// place (false with *error set when one cannot be), discard removes them
// (every other end of an export; the next load and the end of the process
// do so too).  An earlier file of such a name is never replaced by a run
// that does not complete.
bool commit_embedded_textures(std::string *error);
void discard_embedded_textures();
// While load_model_file reads a file, REPORT hears how far it got (0 to
// 100) as often as Assimp's reader tells; an empty REPORT hears nothing.
void set_load_progress(std::function<void(int percent)> report);

// The seconds the last load_model_file spent in Assimp's reader, the rest
// of its time being the host's model (for the benchmark's breakdown).
double last_read_seconds();

// The built-in sample scene: uses every block of the file format under the
// default options.
const char *sample_scene_json();

// Drops the model (an empty world, one white palette material).
void clear_model();

// Host version and texts of the loaded scene ("host" block).
double host_version();
void set_host_version(double version);
// Results of the Tcl commands "molv get_version_string" and "molv get_info"
// (the scene's texts, or the defaults the scene format gives).
std::string host_version_string();
std::string host_info_text();

// ---- Tcl -----------------------------------------------------------------

// Creates the interpreter with the molv command.  Headless: the Tk commands
// a plug-in sends (wm, grab, destroy) are quiet no-ops.  With Tk: a real Tk
// main window (molv gui).
void tcl_start(bool with_tk);
void tcl_stop();
Tcl_Interp *tcl_interp();
// Evaluates at global level; returns the Tcl code, the result in *result.
int tcl_eval(const std::string &script, std::string *result = nullptr);

// ---- plug-ins --------------------------------------------------------------

struct MenuItem {
  std::string label;
  std::string tcl_text;
};
const std::vector<MenuItem> &export_menu();
// Every registration a plug-in made, in order, as "function|arg|arg...".
const std::vector<std::string> &registrations();

// Loads DIR/qel_export.so with dlopen and runs its MOLVPluginInit with the
// start-up record (DIR made absolute, no trailing slash).  Returns the
// init's result; -2 with *error set when the library cannot be loaded.
int plugin_load(const std::string &dir, std::string *error);
// The same for an init function linked into the process (unit tests).
int plugin_start(mo_plugin_init_fn init, const std::string &dir);
// The about text of DIR/qel_export.so (MOLVPluginAbout), without starting
// the plug-in.  False with *error when the library cannot be loaded.
bool plugin_about(const std::string &dir, std::string *about, std::string *error);
// After the plug-in has sourced its dialog script: without a display the
// dialog procedure is replaced by one that returns its options unchanged.
void install_headless_dialog();

// ---- what the host shows -------------------------------------------------

struct Recording {
  std::vector<std::string> status_lines;  // display_message, in order
  std::vector<int> progress;              // set_progress_bar values
  std::vector<std::string> messages;      // message_dialog texts
  std::string debug;                      // debugf output (when recorded)
};
Recording &recording();
void clear_recording();
// Where debugf writes besides the recording: null for nowhere.
void set_debug_file(std::FILE *file);
// Whether debugf output is kept in recording().debug (tests).
void set_record_debug(bool on);
// Live hooks used by the command line (status to stderr and the like).
struct Hooks {
  std::function<void(const std::string &)> status;
  std::function<void(int)> progress;
  std::function<void(const std::string &)> message;
  std::function<const char *(const char *title, const char *const *filters)>
      choose_file;  // null hook: the chooser is cancelled
};
Hooks &hooks();

// ---- faults for tests ------------------------------------------------------

// Sets qel_cancel to 1 when "update" runs for the N-th time from now
// (0 switches it off).
void set_cancel_at_poll(long n);
// Every myalloc after the N-th from now returns null (negative: off).
void set_fail_alloc_after(long n);
// Ctrl-C: the next "update" sets qel_cancel to 1.
void request_cancel();
long update_count();

// Live blocks of host memory: myalloc blocks, list nodes and surface copies
// handed to plug-ins.
long live_allocations();
// Bytes of host memory held by plug-ins (myalloc blocks and the records
// above), at most ever since the last reset: what an export needs at its
// peak, whether or not the process had those pages already.
size_t peak_held_bytes();
void reset_peak_held_bytes();

// Makes the process keep the memory it frees (no block from a mapping of
// its own, the heap's top never given back): loading a large model frees
// the importer's buffers right before an export needs as much again.  A
// setting of the whole process: programs call it first thing (molv, the
// benchmarks that stand in for it); the tests do not.
void keep_freed_memory();

}  // namespace molv

#endif  // MOLV_HOST_H
