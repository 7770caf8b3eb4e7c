/*
 * One load at a time: the thread fills its record, which the main thread
 * takes once it has ended; the model the window shows stays until then,
 * and after a load that fails or is cancelled.
 */
#include "gui/background_load.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "api/tcl_bridge.h"

namespace molv {
namespace gui {
namespace {

struct Reading {
  std::thread thread;
  std::atomic<bool> finished{false};
  // Set by the main thread; the reader's child is ended when it is.
  std::atomic<bool> cancelled{false};
  std::string file;
  Load result;
  std::chrono::steady_clock::time_point start;
};

std::unique_ptr<Reading> g_load;
// How far the reader got, 0 to 100, as Assimp's reader tells.
std::atomic<int> g_percent{0};
LoadFunction g_read;
bool (*g_export_running)() = nullptr;
std::function<void(Load &)> g_on_done;

// Joins the ended thread.  Returns the load, no longer running.
std::unique_ptr<Reading> take_ended() {
  std::unique_ptr<Reading> load = std::move(g_load);
  load->thread.join();
  return load;
}

int load_start_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "file");
    return TCL_ERROR;
  }
  if (g_load != nullptr) {
    Tcl_SetObjResult(interp, tcl_string("a model is loading"));
    return TCL_ERROR;
  }
  if (g_export_running != nullptr && g_export_running()) {
    Tcl_SetObjResult(interp, tcl_string("an export is running"));
    return TCL_ERROR;
  }
  auto load = std::make_unique<Reading>();
  load->file = Tcl_GetString(objv[1]);
  load->start = std::chrono::steady_clock::now();
  Reading *l = load.get();
  g_load = std::move(load);
  g_percent = 0;
  l->thread = std::thread([l] {
    LoadWatch watch;
    watch.progress = [](int percent) { g_percent = percent; };
    watch.stop = [l] { return l->cancelled.load(); };
    if (g_read) l->result = g_read(l->file, watch);
    l->finished = true;
  });
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int load_poll_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
  if (g_load == nullptr) {
    Tcl_ListObjAppendElement(nullptr, result, tcl_string("idle"));
  } else if (!g_load->finished) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - g_load->start).count();
    Tcl_ListObjAppendElement(nullptr, result,
                             tcl_string(g_load->cancelled ? "cancelling" : "running"));
    Tcl_ListObjAppendElement(nullptr, result, Tcl_NewDoubleObj(seconds));
    Tcl_ListObjAppendElement(nullptr, result, Tcl_NewIntObj(g_percent));
  } else {
    const std::unique_ptr<Reading> load = take_ended();
    const std::string &error = load->result.error;
    if (load->cancelled) {
      Tcl_ListObjAppendElement(nullptr, result, tcl_string("cancelled"));
    } else if (!load->result.loaded) {
      Tcl_ListObjAppendElement(nullptr, result, tcl_string("failed"));
      Tcl_ListObjAppendElement(nullptr, result,
                               tcl_string(error.empty() ? load->file + ": cannot be loaded" : error));
    } else {
      if (g_on_done) g_on_done(load->result);
      Tcl_ListObjAppendElement(nullptr, result, tcl_string("done"));
    }
  }
  Tcl_SetObjResult(interp, result);
  return TCL_OK;
}

int load_cancel_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  if (g_load != nullptr) g_load->cancelled = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int loading_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewBooleanObj(g_load != nullptr));
  return TCL_OK;
}

}  // namespace

bool load_running() { return g_load != nullptr; }

void finish_load() {
  if (g_load == nullptr) return;
  g_load->cancelled = true;
  take_ended();
}

void create_load_commands(Tcl_Interp *interp, LoadFunction load,
                          std::function<void(Load &)> on_done, bool (*busy)()) {
  g_read = std::move(load);
  g_on_done = std::move(on_done);
  g_export_running = busy;
  // A script's `exit` during a load ends molv once the thread has ended.
  static bool exit_handler = false;
  if (!exit_handler) Tcl_CreateExitHandler([](ClientData) { finish_load(); }, nullptr);
  exit_handler = true;
  Tcl_CreateObjCommand(interp, "::molv::gui::load_start", load_start_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::load_poll", load_poll_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::load_cancel", load_cancel_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::loading", loading_command, nullptr, nullptr);
}

}  // namespace gui
}  // namespace molv
