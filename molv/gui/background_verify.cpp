/*
 * One check at a time: the thread fills its record (the verdict and the
 * picture), which the main thread takes once it has ended.
 */
#include "gui/background_verify.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "api/tcl_bridge.h"
#include "common/verify.h"
#include "common/x_summary.h"
#include "gui/view.h"
#include "gui/view_mesh.h"

namespace molv {
namespace gui {
namespace {

struct Checking {
  std::thread thread;
  std::atomic<bool> finished{false};
  std::atomic<bool> cancelled{false};
  std::atomic<int> percent{0};
  std::string file;
  std::string options;
  Verification verdict;
  ViewMesh picture;
  std::string wrote;  // the status line's summary of the file, or ""
};

std::unique_ptr<Checking> g_check;
bool (*g_busy)() = nullptr;

void check(Checking *c) {
  // The summary counts the file again, from the page cache: here, not on
  // the event loop (a 1M-triangle file takes a tenth of a second).
  std::string ignored;
  if (!wrote_line(c->file, &c->wrote, &ignored)) c->wrote.clear();
  XScene scene;
  const XReadProgress progress = [c](int percent) {
    c->percent = percent * 9 / 10;  // the picture takes the rest
    return !c->cancelled.load();
  };
  c->verdict = verify_export(c->file, c->options, &scene, progress);
  try {
    if (c->verdict.read && !c->cancelled) c->picture = mesh_of_x_scene(scene, c->file);
  } catch (const std::bad_alloc &) {
    c->picture = ViewMesh();  // the verdict stands; the view shows no picture
  }
  c->finished = true;
}

int verify_start_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 3) {
    Tcl_WrongNumArgs(interp, 1, objv, "file options");
    return TCL_ERROR;
  }
  if (g_check != nullptr || (g_busy != nullptr && g_busy())) {
    Tcl_SetObjResult(interp, tcl_string(g_check != nullptr ? "a check of an export runs"
                                                           : "an export or a load runs"));
    return TCL_ERROR;
  }
  g_check = std::make_unique<Checking>();
  g_check->file = Tcl_GetString(objv[1]);
  g_check->options = Tcl_GetString(objv[2]);
  Checking *c = g_check.get();
  c->thread = std::thread([c] { check(c); });
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// The lines of the expected (EXPECTED true) or the real differences.
Tcl_Obj *lines(const Verification &v, bool expected) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (const VerifyDifference &d : v.differences)
    if (d.expected == expected) Tcl_ListObjAppendElement(nullptr, list, tcl_string(d.text));
  return list;
}

Tcl_Obj *ended() {
  std::unique_ptr<Checking> c = std::move(g_check);
  c->thread.join();
  Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
  const Verification &v = c->verdict;
  Tcl_SetVar(tcl_interp(), "::molv::gui::wrote", c->wrote.c_str(), TCL_GLOBAL_ONLY);
  if (c->cancelled) {
    Tcl_ListObjAppendElement(nullptr, result, tcl_string("cancelled"));
  } else if (!v.read) {
    Tcl_ListObjAppendElement(nullptr, result, tcl_string("failed"));
    Tcl_ListObjAppendElement(nullptr, result, tcl_string(v.error));
  } else {
    show_export(std::move(c->picture));
    Tcl_Obj *words[5] = {tcl_string("done"), Tcl_NewBooleanObj(v.agrees()), tcl_string(v.verdict()),
                         lines(v, true), lines(v, false)};
    for (Tcl_Obj *word : words) Tcl_ListObjAppendElement(nullptr, result, word);
  }
  return result;
}

int verify_poll_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 1) {
    Tcl_WrongNumArgs(interp, 1, objv, nullptr);
    return TCL_ERROR;
  }
  if (g_check == nullptr) {
    Tcl_SetObjResult(interp, tcl_string("idle"));
  } else if (!g_check->finished) {
    Tcl_Obj *words[2] = {tcl_string("running"), Tcl_NewIntObj(g_check->percent)};
    Tcl_SetObjResult(interp, Tcl_NewListObj(2, words));
  } else {
    Tcl_SetObjResult(interp, ended());
  }
  return TCL_OK;
}

int verify_cancel_command(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  if (g_check != nullptr) g_check->cancelled = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int verifying_command(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  Tcl_SetObjResult(interp, Tcl_NewBooleanObj(g_check != nullptr));
  return TCL_OK;
}

}  // namespace

bool verify_running() { return g_check != nullptr; }

void finish_verify() {
  if (g_check == nullptr) return;
  g_check->cancelled = true;
  g_check->thread.join();
  g_check.reset();
}

void create_verify_commands(Tcl_Interp *interp, bool (*busy)()) {
  g_busy = busy;
  static bool exit_handler = false;
  if (!exit_handler) Tcl_CreateExitHandler([](ClientData) { finish_verify(); }, nullptr);
  exit_handler = true;
  Tcl_CreateObjCommand(interp, "::molv::gui::verify_start", verify_start_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::verify_poll", verify_poll_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::verify_cancel", verify_cancel_command, nullptr,
                       nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::verifying", verifying_command, nullptr, nullptr);
}

}  // namespace gui
}  // namespace molv
