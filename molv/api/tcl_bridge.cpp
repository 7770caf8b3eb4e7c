/*
 * The host's Tcl side: the one interpreter of the process, the `molv` Tcl
 * command with the subcommands plug-ins register, the export menu, and
 * tcl_command, through which a plug-in runs Tcl.
 *
 * What a plug-in shows (status line, progress bar, messages, debug output,
 * file chooser) is display.cpp's.
 *
 * Cancelling: the real "update" is renamed and wrapped, so the host sees
 * every event pass a plug-in asks for.  A Ctrl-C or a test's cancel point
 * sets the Tcl variable qel_cancel during such a pass, as the dialog's cancel
 * button would.
 */
#include <tcl.h>
#include <tk.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "api/model.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "api/vformat.h"

namespace molv {
namespace {

// Where the real "update" goes once the host has wrapped it.
constexpr const char *kRealUpdate = "::molv::real_update";

struct Command {
  mo_command_handler handler = nullptr;
  bool checked = false;  // registered with mo_add_command_full
  int arg_count = 0;
  std::string usage;
  std::string description;
};

struct TclState {
  Tcl_Interp *interp = nullptr;
  std::map<std::string, Command> commands;
  std::vector<MenuItem> menu;
  std::vector<std::string> registrations;
  long updates = 0;
  std::chrono::steady_clock::time_point last_real_update{};
  bool plugin_poll = false;  // evaluating a plug-in's plain "update"
  long cancel_at = 0;  // value of `updates` that cancels; 0: none
  // Scripts a plug-in sends again and again (its cancel poll), kept as Tcl
  // objects so Tcl compiles each once instead of parsing it at every poll.
  struct CachedScript {
    std::string text;
    Tcl_Obj *script = nullptr;
  };
  std::vector<CachedScript> scripts;
  size_t next_script = 0;  // the entry a new script replaces
};

TclState &state() {
  static TclState s;
  return s;
}

// Set from a signal handler: nothing else may happen there.
volatile std::sig_atomic_t g_cancel_requested = 0;

void set_qel_cancel(Tcl_Interp *interp) { Tcl_SetVar(interp, "qel_cancel", "1", TCL_GLOBAL_ONLY); }

// The object holding `text` as a script, from the cache.  A few entries
// suffice: a plug-in's polls repeat a handful of texts.
Tcl_Obj *cached_script(const char *text, size_t length) {
  constexpr size_t kEntries = 8;
  TclState &s = state();
  for (const auto &entry : s.scripts) {
    if (entry.text.size() == length && std::memcmp(entry.text.data(), text, length) == 0)
      return entry.script;
  }
  if (s.scripts.size() < kEntries) s.scripts.emplace_back();
  TclState::CachedScript &entry = s.scripts[s.next_script];
  s.next_script = (s.next_script + 1) % kEntries;
  if (entry.script != nullptr) Tcl_DecrRefCount(entry.script);
  entry.text.assign(text, length);
  entry.script = Tcl_NewStringObj(text, static_cast<int>(length));
  Tcl_IncrRefCount(entry.script);
  return entry.script;
}

void drop_cached_scripts() {
  TclState &s = state();
  for (auto &entry : s.scripts) Tcl_DecrRefCount(entry.script);
  s.scripts.clear();
  s.next_script = 0;
}

// ---- the molv command ---------------------------------------------------

std::string subcommand_names() {
  std::string names = "get_info, get_version_string";
  for (const auto &entry : state().commands) {
    names += ", ";
    names += entry.first;
  }
  return names;
}

int molv_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "subcommand ?arg ...?");
    return TCL_ERROR;
  }
  const std::string name = Tcl_GetString(objv[1]);
  if (name == "get_version_string" || name == "get_info") {
    if (objc != 2) {
      Tcl_WrongNumArgs(interp, 2, objv, nullptr);
      return TCL_ERROR;
    }
    const std::string text = name == "get_info" ? host_info_text() : host_version_string();
    Tcl_SetObjResult(interp, tcl_string(text));
    return TCL_OK;
  }
  auto found = state().commands.find(name);
  if (found == state().commands.end()) {
    const std::string message =
        "unknown molv subcommand \"" + name + "\": must be " + subcommand_names();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
  }
  // A copy: the handler may register commands and so change the map.
  const Command command = found->second;
  const int argc = objc - 2;
  if (command.checked && argc != command.arg_count) {
    const std::string message =
        "wrong # args: should be \"molv " + name + " " + command.usage + "\"";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
  }
  // The handler may run Tcl itself; its words are kept apart from the
  // interpreter's objects for as long as it runs.
  std::vector<std::string> words;
  words.reserve(static_cast<size_t>(argc));
  for (int i = 2; i < objc; ++i) {
    int length = 0;
    const char *bytes = Tcl_GetStringFromObj(objv[i], &length);
    words.emplace_back(bytes, static_cast<size_t>(length));
  }
  std::vector<const char *> argv;
  argv.reserve(words.size() + 1);
  for (const auto &word : words) argv.push_back(word.c_str());
  argv.push_back(nullptr);

  const char *result = command.handler(argc, argv.data());
  Tcl_SetObjResult(interp, Tcl_NewStringObj(result ? result : "", -1));
  return TCL_OK;
}

// ---- update, counted ------------------------------------------------------

int update_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  TclState &s = state();
  ++s.updates;
  // A plug-in polls many thousand times a second on a large mesh, and each
  // real update wakes Tcl's notifier thread, which would cost more than the
  // export itself.  So a plug-in's own "update" processes events at most
  // every few milliseconds, which no user can tell apart; the count and the
  // cancel stay exact, and every other update is a real one.
  const auto now = std::chrono::steady_clock::now();
  const bool skip = s.plugin_poll && objc == 1 &&
                    s.last_real_update != std::chrono::steady_clock::time_point{} &&
                    now - s.last_real_update < std::chrono::milliseconds(5);
  int code = TCL_OK;
  if (skip) {
    Tcl_ResetResult(interp);
  } else {
    std::vector<Tcl_Obj *> words(objv, objv + objc);
    words[0] = Tcl_NewStringObj(kRealUpdate, -1);
    Tcl_IncrRefCount(words[0]);
    // An event handler that updates on its own gets a real update.
    const bool was_poll = s.plugin_poll;
    s.plugin_poll = false;
    code = Tcl_EvalObjv(interp, objc, words.data(), 0);
    s.plugin_poll = was_poll;
    Tcl_DecrRefCount(words[0]);
    s.last_real_update = std::chrono::steady_clock::now();
  }
  // The cancel button's event arrives while update processes events.
  if (s.cancel_at != 0 && s.updates == s.cancel_at) {
    s.cancel_at = 0;
    set_qel_cancel(interp);
  }
  if (g_cancel_requested) {
    g_cancel_requested = 0;
    set_qel_cancel(interp);
  }
  return code;
}

// Without a display the window commands a plug-in sends do nothing.
int quiet_command(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace

// ---- interpreter --------------------------------------------------------

void tcl_start(bool with_tk) {
  static bool found_executable = false;
  if (!found_executable) {
    Tcl_FindExecutable(nullptr);
    found_executable = true;
  }
  tcl_stop();
  TclState &s = state();
  Tcl_Interp *interp = Tcl_CreateInterp();
  s.interp = interp;
  s.updates = 0;
  s.cancel_at = 0;
  g_cancel_requested = 0;

  if (Tcl_Init(interp) != TCL_OK)
    std::fprintf(stderr, "molv: Tcl: %s\n", Tcl_GetStringResult(interp));

  bool have_tk = false;
  std::string tk_error;
  if (with_tk) {
    // Tk reads its options from argv; it gets none.
    Tcl_SetVar(interp, "argv", "", TCL_GLOBAL_ONLY);
    Tcl_SetVar(interp, "argc", "0", TCL_GLOBAL_ONLY);
    Tcl_SetVar(interp, "argv0", "molv", TCL_GLOBAL_ONLY);
    have_tk = Tk_Init(interp) == TCL_OK;
    if (!have_tk) tk_error = Tcl_GetStringResult(interp);
  }
  if (!have_tk) {
    for (const char *name : {"wm", "grab", "destroy"})
      Tcl_CreateObjCommand(interp, name, quiet_command, nullptr, nullptr);
  }

  Tcl_Eval(interp, "namespace eval ::molv {}");
  std::string rename = std::string("rename ::update ") + kRealUpdate;
  if (Tcl_Eval(interp, rename.c_str()) == TCL_OK)
    Tcl_CreateObjCommand(interp, "::update", update_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv", molv_command, nullptr, nullptr);
  // When Tk could not start, its message is left as the interpreter's
  // result for the caller to show; the interpreter goes on without a window.
  Tcl_SetObjResult(interp, Tcl_NewStringObj(tk_error.c_str(), -1));
}

void tcl_stop() {
  TclState &s = state();
  if (s.interp != nullptr) {
    Tcl_DeleteInterp(s.interp);
    s.interp = nullptr;
  }
  // What the plug-ins registered lived in this interpreter.
  drop_cached_scripts();
  s.commands.clear();
  s.menu.clear();
  s.registrations.clear();
  s.updates = 0;
  s.cancel_at = 0;
}

Tcl_Interp *tcl_interp() { return state().interp; }

Tcl_Obj *tcl_string(const std::string &text) {
  return Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
}

int tcl_eval(const std::string &script, std::string *result) {
  Tcl_Interp *interp = state().interp;
  if (interp == nullptr) {
    if (result) *result = "no Tcl interpreter";
    return TCL_ERROR;
  }
  const int code =
      Tcl_EvalEx(interp, script.data(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
  if (result) *result = Tcl_GetStringResult(interp);
  return code;
}

const std::vector<MenuItem> &export_menu() { return state().menu; }

const std::vector<std::string> &registrations() { return state().registrations; }

// ---- cancel points -------------------------------------------------------

// ---- test hooks (test_hooks.h) --------------------------------------------

void set_cancel_at_poll(long n) {
  TclState &s = state();
  s.cancel_at = n > 0 ? s.updates + n : 0;
}

void request_cancel() { g_cancel_requested = 1; }

long update_count() { return state().updates; }

}  // namespace molv

// ---- the host interface a plug-in calls ------------------------------------

using molv::state;

extern "C" {

double mo_get_version_number(void) { return molv::host_version(); }

void mo_add_command(const char *name, mo_command_handler handler) {
  if (name == nullptr || handler == nullptr) return;
  molv::Command command;
  command.handler = handler;
  state().commands[name] = command;
  state().registrations.push_back(std::string("mo_add_command|") + name);
}

void mo_add_command_full(const char *name, mo_command_handler handler, int arg_count,
                         const char *arg_types, const char *usage, const char *description) {
  // Every argument reaches the handler as its text; the types are only
  // recorded.
  if (name == nullptr || handler == nullptr) return;
  molv::Command command;
  command.handler = handler;
  command.checked = true;
  command.arg_count = arg_count;
  command.usage = usage ? usage : "";
  command.description = description ? description : "";
  state().commands[name] = command;
  state().registrations.push_back(std::string("mo_add_command_full|") + name + "|" +
                                  std::to_string(arg_count) + "|" + (arg_types ? arg_types : "") +
                                  "|" + command.usage + "|" + command.description);
}

void mo_add_export_menu_item(const char *label, const char *tcl_text) {
  if (label == nullptr || tcl_text == nullptr) return;
  state().menu.push_back({label, tcl_text});
  state().registrations.push_back(std::string("mo_add_export_menu_item|") + label + "|" + tcl_text);
}

void mo_unbackslash_string(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text)
    if (*text == '\\') *text = '/';
}

const char *tcl_command(const char *format, ...) {
  // The result lives until the next call; the script itself is local, since
  // a command it runs may call back into tcl_command.
  static std::string result;
  Tcl_Interp *interp = state().interp;
  if (interp == nullptr) {
    result.clear();
    return result.c_str();
  }
  const bool was_poll = state().plugin_poll;
  if (format != nullptr && std::strchr(format, '%') == nullptr) {
    // A fixed text, such as the cancel poll's "update" and its read of
    // qel_cancel: many thousand a second on a large mesh.  Evaluated from
    // a cached object, so Tcl parses and compiles it only once.
    state().plugin_poll = std::strcmp(format, "update") == 0;
    Tcl_Obj *script = molv::cached_script(format, std::strlen(format));
    // The object stays alive even if a nested call evicts it from the cache.
    Tcl_IncrRefCount(script);
    Tcl_EvalObjEx(interp, script, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(script);
  } else {
    va_list args;
    va_start(args, format);
    const std::string script = molv::vformat(format, args);
    va_end(args);
    state().plugin_poll = script == "update";
    Tcl_EvalEx(interp, script.data(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
  }
  state().plugin_poll = was_poll;
  result = Tcl_GetStringResult(interp);
  return result.c_str();
}

}  // extern "C"
