/*
 * The molv window (`molv gui`), the C++ side: the interpreter with Tk, the
 * hooks that send what a plug-in shows to the window, and the commands the
 * window's Tcl side (gui.tcl, compiled in as gui_script.h) calls: the
 * object tree, File > Open, the export menu, and whether a plug-in is busy.
 * The model of the command line is read once the window is up, as File >
 * Open reads (background_load.h).
 *
 * A plug-in works inside its own Tcl commands (`molv qel_save ...`) and
 * lets Tk process events while it does, so the window stays live during an
 * export.  The host counts those commands: while one runs, File > Open is
 * refused (the plug-in is reading the model), Quit cancels the export
 * first and ends molv once it has cleaned up, and Ctrl-C, SIGTERM and
 * SIGHUP cancel the export before they end molv (common/signals.h).
 */
#include "gui/gui.h"

#include <tcl.h>
#include <tk.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/display.h"
#include "api/model.h"
#include "api/run_outcome.h"
#include "api/tcl_bridge.h"
#include "common/error_line.h"
#include "common/plugin_options.h"
#include "common/signals.h"
#include "common/texture_check.h"
#include "common/x_summary.h"
#include "gui/background_load.h"
#include "gui/background_verify.h"
#include "gui/export_textures.h"
#include "gui/view.h"
#include "gui_script.h"
#include "import/load.h"

namespace molv {
namespace gui {
namespace {

const Window *g_window = nullptr;
// The record of the open model's load, owned by run().
Load *g_open = nullptr;
std::string g_scene;
// The same from the root: an export entry runs in the model's folder.
std::string g_scene_path;

// A file name as Tcl's file commands take it literally: "~m.x" is a file
// in the current folder, not a home folder.
std::string literal_name(const std::string &file) {
  return !file.empty() && file[0] == '~' ? "./" + file : file;
}

// FILE, named from the current folder, named from the root.
std::string from_root(const std::string &file) {
  char here[4096];
  if (file.empty() || file[0] == '/' || ::getcwd(here, sizeof here) == nullptr) return file;
  return std::string(here) + "/" + file;
}

// Whether the last complete export of the open model wrote its embedded
// images as files: the load's warning that the .x names them "*0" is
// then past.
bool g_extracted = false;

// The file of the open model, for the window and a plug-in's dialog
// (which may trace ::molv::gui::scene to follow it).
void set_scene(const std::string &file) {
  g_scene = literal_name(file);
  g_scene_path = from_root(g_scene);
  Tcl_SetVar(tcl_interp(), "::molv::gui::scene", g_scene.c_str(), TCL_GLOBAL_ONLY);
}

// LOAD's model becomes the open one.  An export runs in the model's
// folder: the files the load opened are named from the root, as the
// model is, so that they are held apart from what the export writes.
void open_model(Load &load) {
  install(load);
  g_extracted = false;
  *g_open = std::move(load);
  for (std::string &file : g_open->opened) file = from_root(file);
  set_scene(g_open->file);
}

// Evaluates the words as one command, each word exactly as given.
int eval_words(const std::vector<std::string> &words, std::string *result) {
  Tcl_Interp *interp = tcl_interp();
  std::vector<Tcl_Obj *> objv;
  for (const std::string &word : words) {
    objv.push_back(tcl_string(word));
    Tcl_IncrRefCount(objv.back());
  }
  const int code =
      Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), TCL_EVAL_GLOBAL);
  for (Tcl_Obj *obj : objv) Tcl_DecrRefCount(obj);
  if (result != nullptr) *result = Tcl_GetStringResult(interp);
  return code;
}

// ---- a plug-in at work -------------------------------------------------------

// The `molv` command as the bridge made it; the window calls it through
// counted_molv.
Tcl_ObjCmdProc *g_molv_proc = nullptr;
ClientData g_molv_data = nullptr;
int g_depth = 0;
volatile std::sig_atomic_t g_busy = 0;
// The plug-in's status texts so far, and the last file its chooser gave.
unsigned long g_status_count = 0;
std::string g_chosen_file;
// The file of the last complete export, for the window once the command
// has returned.
std::string g_exported;
std::string g_exported_options;  // the option string it was written under

// The options and the textures of the export being saved (export_textures.h).
bool g_saving = false;
std::string g_save_options;
bool g_textures_prepared = false;
// The texture names the last complete export wrote, known from its run.
std::vector<std::string> g_written_textures;

// Prepares the textures the window's choices ask for before the plug-in
// writes X_FILE; false (the line shown in the status line and a message)
// when the export must not run.
bool prepare_textures(const std::string &x_file) {
  ExportContext context;
  context.plugin_folder = g_window->plugin_folder;
  context.debug_log = g_window->debug_log;
  std::string error;
  if (prepare_export_textures(tcl_interp(), context, *g_open, g_scene_path, x_file, g_save_options,
                              &error)) {
    g_textures_prepared = true;
    return true;
  }
  const std::string line = "Not exported: " + error;
  Tcl_SetVar(tcl_interp(), "::molv::status", line.c_str(), TCL_GLOBAL_ONLY);
  eval_words({"::molv::gui::show_message", line}, nullptr);
  return false;
}

// Option 3 keeps the z axis; clear, the export mirrors it.
bool mirrors_z(const std::string &options) { return options.size() > 3 && options[3] != '1'; }

void tell_exported(ClientData) {
  const std::string file = std::move(g_exported);
  g_exported.clear();
  if (!file.empty()) eval_words({"::molv::gui::exported", file, g_exported_options}, nullptr);
}

int counted_molv(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  // The loading thread fills the model: the plug-in waits for it.
  if (g_depth == 0 && load_running()) {
    Tcl_SetObjResult(interp, tcl_string("a model is loading"));
    return TCL_ERROR;
  }
  // `molv qel_save export NAME ...` writes NAME.x; save_as writes the
  // chooser's file.
  const bool save = g_depth == 0 && objc >= 3 && std::string(Tcl_GetString(objv[1])) == "qel_save";
  // The check of the last export reads the model in its thread.
  if (save && verify_running()) {
    Tcl_SetObjResult(interp, tcl_string("the last export is being read back"));
    return TCL_ERROR;
  }
  std::string target;
  if (save && std::string(Tcl_GetString(objv[2])) != "save_as" && objc >= 4 &&
      Tcl_GetString(objv[3])[0] != '\0')
    target = std::string(Tcl_GetString(objv[3])) + ".x";
  const unsigned long statuses = g_status_count;
  if (save) {
    clear_run_outcome();
    g_chosen_file.clear();
    g_save_options = objc >= 5 ? Tcl_GetString(objv[4]) : "";
    g_textures_prepared = false;
    // A clash of the export's files: the plug-in does not run.
    if (!target.empty() && !prepare_textures(target)) {
      Tcl_ResetResult(interp);
      return TCL_OK;
    }
  }
  g_saving = save;
  if (g_depth++ == 0) begin_export();
  g_busy = 1;
  const int code = g_molv_proc(g_molv_data, interp, objc, objv);
  if (--g_depth == 0) {
    g_busy = 0;
    const char *status = Tcl_GetVar(interp, "::molv::status", TCL_GLOBAL_ONLY);
    if (save && target.empty()) target = g_chosen_file;
    const bool complete = save && g_status_count != statuses && status != nullptr &&
                          std::string(status) == "Ready !" && !target.empty();
    g_saving = false;
    if (g_textures_prepared) {
      // A texture that cannot be put in place is said under the export.
      std::string error;
      finish_export_textures(complete, &error);
      g_textures_prepared = false;
    }
    if (complete) {
      g_written_textures = x_texture_names(run_outcome().textures_named, g_save_options);
      const char *extract =
          Tcl_GetVar(interp, "::molv::gui::extract_textures", TCL_GLOBAL_ONLY);
      g_extracted = g_open->source == Source::kModel && extract != nullptr &&
                    std::string(extract) == "1";
      set_view_mirror_z(mirrors_z(g_save_options));
      g_exported = target;
      g_exported_options = g_save_options.empty() ? default_option_string() : g_save_options;
      Tcl_DoWhenIdle(tell_exported, nullptr);
    } else if (save) {
      // The bar of an export that did not complete goes back to rest; a
      // complete one's follows its read-back.
      Tcl_SetVar(interp, "::molv::progress", "0", TCL_GLOBAL_ONLY);
      Tcl_SetVar(interp, "::molv::gui::bar", "0", TCL_GLOBAL_ONLY);
    }
    // A signal during the command that ends molv does so now.
    end_export();
  }
  return code;
}

bool count_molv_commands(Tcl_Interp *interp) {
  Tcl_CmdInfo info;
  if (Tcl_GetCommandInfo(interp, "::molv", &info) == 0 || info.objProc == nullptr) return false;
  g_molv_proc = info.objProc;
  g_molv_data = info.objClientData;
  info.objProc = counted_molv;
  info.objClientData = nullptr;
  return Tcl_SetCommandInfo(interp, "::molv", &info) != 0;
}

// ---- what a plug-in shows ---------------------------------------------------

void set_window_hooks(Tcl_Interp *interp) {
  Hooks &h = hooks();
  h.status = [interp](const std::string &text) {
    ++g_status_count;
    Tcl_SetVar(interp, "::molv::status", text.c_str(), TCL_GLOBAL_ONLY);
  };
  h.progress = [interp](int percent) {
    Tcl_SetVar(interp, "::molv::progress", std::to_string(percent).c_str(), TCL_GLOBAL_ONLY);
  };
  h.message = [](const std::string &text) {
    eval_words({"::molv::gui::show_message", text}, nullptr);
  };
  h.choose_file = [](const char *title, const char *const *filters) -> const char * {
    // The plug-in reads the name before it calls the chooser again.
    static std::string chosen;
    std::vector<const char *> pairs;
    for (int i = 0; filters != nullptr && filters[i] != nullptr && filters[i + 1] != nullptr;
         i += 2) {
      pairs.push_back(filters[i]);
      pairs.push_back(filters[i + 1]);
    }
    char *list = Tcl_Merge(static_cast<int>(pairs.size()), pairs.data());
    const std::string filter_list = list;
    Tcl_Free(list);
    if (eval_words({"::molv::gui::choose_save_file", title != nullptr ? title : "", filter_list},
                   &chosen) != TCL_OK ||
        chosen.empty())
      return nullptr;
    g_chosen_file = chosen;
    // Export as...: the name is known now.
    if (g_saving && !g_textures_prepared && !prepare_textures(chosen)) return nullptr;
    return chosen.c_str();
  };
}

// ---- commands of the window's Tcl side ----------------------------------------

const char *type_text(const mo_object *object) {
  switch (object->type) {
    case MO_OBJ_WORLD:
      return "world";
    case MO_OBJ_POLYGON:
      return object->subdivision != nullptr ? "polygon, subdivided" : "polygon";
    case MO_OBJ_GROUP:
      return "group";
    case MO_OBJ_LIGHT:
      return "light";
    default:
      return nullptr;
  }
}

// {id parent type name vertices surfaces} per object, parents before their
// children, children in their order.  Iterative: a scene may nest deeply.
int model_rows_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_Obj *rows = Tcl_NewListObj(0, nullptr);
  struct Pending {
    mo_object *object;
    std::string parent;
  };
  std::vector<Pending> stack;
  if (mo_object *world = model().world()) stack.push_back({world, ""});
  long next_id = 0;
  std::vector<mo_object *> children;
  while (!stack.empty()) {
    const Pending item = std::move(stack.back());
    stack.pop_back();
    const mo_object *object = item.object;
    const std::string id = "o" + std::to_string(next_id++);
    const char *type = type_text(object);
    Tcl_Obj *row[6] = {
        tcl_string(id),
        tcl_string(item.parent),
        tcl_string(type != nullptr ? type : "type " + std::to_string(object->type)),
        tcl_string(object->name),
        Tcl_NewIntObj(list_count(object->vertices)),
        Tcl_NewIntObj(list_count(object->surfaces)),
    };
    Tcl_ListObjAppendElement(nullptr, rows, Tcl_NewListObj(6, row));
    children.clear();
    for (mo_list_node *node = object->children; node != nullptr; node = node->next)
      children.push_back(static_cast<mo_object *>(node->item));
    for (auto child = children.rbegin(); child != children.rend(); ++child)
      stack.push_back({*child, id});
  }
  Tcl_SetObjResult(interp, rows);
  return TCL_OK;
}

int load_file_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "file");
    return TCL_ERROR;
  }
  if (g_busy) {
    Tcl_SetObjResult(interp, tcl_string("an export is running"));
    return TCL_ERROR;
  }
  if (load_running()) {
    Tcl_SetObjResult(interp, tcl_string("a model is loading"));
    return TCL_ERROR;
  }
  if (verify_running()) {
    Tcl_SetObjResult(interp, tcl_string("the last export is being read back"));
    return TCL_ERROR;
  }
  const std::string file = Tcl_GetString(objv[1]);
  // A file that cannot be read leaves the model the window shows.
  Load load;
  if (g_window->load_scene) load = g_window->load_scene(file, LoadWatch());
  if (!load.loaded) {
    Tcl_SetObjResult(interp,
                     tcl_string(load.error.empty() ? file + ": cannot be loaded" : load.error));
    return TCL_ERROR;
  }
  open_model(load);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int scene_name_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, tcl_string(g_scene));
  return TCL_OK;
}

int export_entries_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_Obj *entries = Tcl_NewListObj(0, nullptr);
  for (const MenuItem &item : export_menu()) {
    Tcl_Obj *pair[2] = {tcl_string(item.label), tcl_string(item.tcl_text)};
    Tcl_ListObjAppendElement(nullptr, entries, Tcl_NewListObj(2, pair));
  }
  Tcl_SetObjResult(interp, entries);
  return TCL_OK;
}

int busy_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewBooleanObj(g_busy != 0));
  return TCL_OK;
}

int cancel_export_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  if (g_busy) request_cancel();
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// A pattern of Tk's file chooser for the files ending in EXTENSION
// (".obj") in any letter case: "*.[oO][bB][jJ]".  Tk's own filter is
// case-sensitive, the command line's folder scan is not.
std::string any_case_pattern(const std::string &extension) {
  std::string pattern = "*";
  for (const char c : extension) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (lower != upper)
      pattern += std::string("[") + lower + upper + "]";
    else if (std::strchr("*?[]\\{}", c) != nullptr)
      pattern += std::string("\\") + c;
    else
      pattern += c;
  }
  return pattern;
}

// File > Open: the scene format first, then every model format the
// importer reads (import/load.h), the list the command line's folder scan
// takes.
int open_types_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_Obj *all = Tcl_NewListObj(0, nullptr);
  for (const std::string &extension : readable_extensions())
    Tcl_ListObjAppendElement(nullptr, all, tcl_string(any_case_pattern(extension)));
  Tcl_Obj *types[3][2] = {
      {tcl_string("Scenes and models"), all},
      {tcl_string("Scenes"), tcl_string(any_case_pattern(".json"))},
      {tcl_string("All Files"), tcl_string("*")},
  };
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (auto &type : types) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewListObj(2, type));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

// What the command line says after a complete export: the file, its size,
// and the meshes, vertices and faces it holds.
int x_summary_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "file");
    return TCL_ERROR;
  }
  std::string line, error;
  if (!wrote_line(Tcl_GetString(objv[1]), &line, &error)) {
    Tcl_SetObjResult(interp, tcl_string(error));
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, tcl_string(line));
  return TCL_OK;
}

// What the load of the open model had to say, one line each (models read
// by Assimp; a scene file says nothing).
int load_warnings_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (std::string line : load_warnings(*g_open, g_extracted)) {
    // The window's own way to what the command line's flag does.
    const std::string flag = "--extract-textures writes";
    const size_t at = line.find(flag);
    if (at != std::string::npos)
      line.replace(at, flag.size(), "tick \"Extract textures\" below: the next export writes");
    Tcl_ListObjAppendElement(nullptr, list, tcl_string(line));
  }
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

// How many images the open model embeds (a model's; a scene file's
// textures are names only).
int embedded_textures_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  const size_t count = g_open->source == Source::kModel ? model().embedded_images.size() : 0;
  Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(count)));
  return TCL_OK;
}

// What a reader of a written .x will not find: the texture coordinates the
// options left out, the textures it names that are not beside it, or are
// there only in another letter case.
int texture_warnings_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "file");
    return TCL_ERROR;
  }
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  // A scene file's textures are names only (the sample's are).  The names
  // are those the last export wrote.
  for (const std::string &line : texture_option_warnings(g_open->notes, g_save_options))
    Tcl_ListObjAppendElement(nullptr, list, tcl_string(line));
  if (g_open->source == Source::kModel)
    for (const std::string &line : texture_warnings(
             Tcl_GetString(objv[1]), g_written_textures, copyable_textures(*g_open, g_save_options),
             "\"Copy textures\" below"))
      Tcl_ListObjAppendElement(nullptr, list, tcl_string(line));
  for (const std::string &line : export_texture_notes())
    Tcl_ListObjAppendElement(nullptr, list, tcl_string(line));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

void create_commands(Tcl_Interp *interp) {
  const std::pair<const char *, Tcl_ObjCmdProc *> commands[] = {
      {"::molv::gui::model_rows", model_rows_command},
      {"::molv::gui::load_file", load_file_command},
      {"::molv::gui::scene_name", scene_name_command},
      {"::molv::gui::export_entries", export_entries_command},
      {"::molv::gui::busy", busy_command},
      {"::molv::gui::cancel_export", cancel_export_command},
      {"::molv::gui::open_types", open_types_command},
      {"::molv::gui::x_summary", x_summary_command},
      {"::molv::gui::load_warnings", load_warnings_command},
      {"::molv::gui::embedded_textures", embedded_textures_command},
      {"::molv::gui::texture_warnings", texture_warnings_command},
  };
  tcl_eval("namespace eval ::molv::gui {}");
  for (const auto &command : commands)
    Tcl_CreateObjCommand(interp, command.first, command.second, nullptr, nullptr);
  create_view_commands(interp);
  create_load_commands(interp, g_window->load_scene, open_model,
                       [] { return g_busy != 0 || verify_running(); });
  create_verify_commands(interp, [] { return g_busy != 0 || load_running(); });
}

// Everything run() set up, undone in reverse order.
struct Teardown {
  ~Teardown() {
    hooks() = Hooks();
    Tcl_CancelIdleCall(tell_exported, nullptr);
    finish_load();
    finish_verify();
    reset_view();
    release_ending_signals();
    tcl_stop();
    g_window = nullptr;
    g_open = nullptr;
    g_molv_proc = nullptr;
    g_depth = 0;
    g_busy = 0;
    if (g_textures_prepared) {
      std::string ignored;
      finish_export_textures(false, &ignored);
    }
    g_textures_prepared = false;
    g_saving = false;
  }
};

}  // namespace

int run(const Window &window) {
  g_window = &window;
  Load open;
  if (window.first != nullptr) open = std::move(*window.first);
  if (open.model != nullptr) install(open);
  g_open = &open;
  Teardown teardown;
  tcl_start(true);
  Tcl_Interp *interp = tcl_interp();
  // Tk's reason for a failure; asking for the main window replaces it.
  const std::string tk_error = Tcl_GetStringResult(interp);
  if (Tk_MainWindow(interp) == nullptr) {
    error_line("cannot open the window: " + tk_error);
    return 1;
  }
  Tcl_SetVar(interp, "::molv::status", "", TCL_GLOBAL_ONLY);
  Tcl_SetVar(interp, "::molv::progress", "0", TCL_GLOBAL_ONLY);
  set_window_hooks(interp);
  create_commands(interp);
  set_scene("");
  count_molv_commands(interp);
  set_view_mirror_z(mirrors_z(default_option_string()));
  // Ctrl-C, SIGTERM and SIGHUP cancel a running export first.
  catch_ending_signals();

  // A window without its plug-in is still the modeller: the reason has
  // been shown and the Export menu says it is empty.
  const int plugin = window.start_plugin ? window.start_plugin() : 0;
  std::string result;
  if (tcl_eval(kGuiScript, &result) != TCL_OK ||
      tcl_eval("::molv::gui::build", &result) != TCL_OK) {
    error_line("window: " + result);
    return 1;
  }
  if (plugin == 0) Tcl_SetVar(interp, "::molv::status", "Ready", TCL_GLOBAL_ONLY);

  tcl_eval("update");
  // The model of the command line comes in while the window answers; the
  // sample is the model until it has.  A script begins once it is in, and
  // a model that cannot be read ends molv as a bad scene does.
  if (!window.scene.empty()) {
    if (eval_words({"::molv::gui::begin_load", window.scene, "1"}, &result) != TCL_OK ||
        tcl_eval("::molv::gui::wait_load", &result) != TCL_OK) {
      error_line(result);
      return 1;
    }
    const char *failed = Tcl_GetVar(interp, "::molv::gui::start_failed", TCL_GLOBAL_ONLY);
    if (failed != nullptr && std::string(failed) == "1") return 2;
    if (Tk_MainWindow(interp) == nullptr) return 0;  // closed while the model came in
  }
  if (!window.script.empty() && Tcl_EvalFile(interp, window.script.c_str()) != TCL_OK) {
    error_line(window.script + ": " + Tcl_GetStringResult(interp));
    return 1;
  }
  Tk_MainLoop();
  return 0;
}

}  // namespace gui
}  // namespace molv
