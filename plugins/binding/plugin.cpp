/*
 * The four entry points the host calls, the registration of the Tcl
 * commands and the export menu entry, the qel_main command that opens the
 * export dialog and the qel_save command that hands the dialog's options
 * to the save command.  Only here is the process-wide option string read
 * and changed.
 */
#include <cstdio>
#include <cstring>
#include <string>

#include "binding/options.h"
#include "binding/plugin.h"
#include "binding/tcl_word.h"
#include "binding/version.h"
#include "export/save_command.h"
#include "host/molv_host.h"

namespace qel {
namespace {

const char kInfoText[] = "Export plugin for Microsoft(R) DirectX(R) (.x) files.\n";

// The dialog answers with the edited options; the result text must outlive
// the handler's return until the host has read it.
std::string g_main_result;

const char *open_dialog() {
  if (save_in_progress()) {
    // Called from an event processed during an export, it would load the
    // options file into the running export.
    debugf("qel_main : export already running\n");
    return "";
  }
  std::string rule(79, '-');
  debugf("\n%s\n\nDirectX-Export ( QTV )\n======================\n\n", rule.c_str());
  debugf("\nOptions-Datei : '%s'\n", options_path().c_str());
  int rc = options_load();
  if (rc != 0) {
    debugf("   -> Fehler !!! ( %d )\n", rc);
  } else {
    debugf("   -> OK !\n");
  }
  // The option string may hold anything the options file held: it reaches
  // Tcl as one quoted word, never as code.
  std::string options = tcl_word(option_string());
  const char *result = tcl_command("qel_export_dialog %s %s", options.c_str(), kPluginVersion);
  g_main_result = result != nullptr ? result : "";
  return g_main_result.c_str();
}

const char *qel_main(int /*argc*/, const char *const * /*argv*/) {
  // No exception may reach the host.
  try {
    return open_dialog();
  } catch (...) {
    return "";
  }
}

// "molv qel_save CMD NAME OPTIONS": the options become the process's
// option string, and the run starts from a copy of it.
void save(int argc, const char *const *argv) {
  if (save_in_progress()) {
    // A second run from an event processed during this one would change
    // the options it remembers at its end.
    debugf("qel_save : export already running\n");
    return;
  }
  const char *command = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const char *name = argc > 1 && argv[1] != nullptr ? argv[1] : "";
  const char *options = argc > 2 && argv[2] != nullptr ? argv[2] : "";
  debugf("\n'qel_save_cmd' : '%s', '%s', '%s'\n", command, name, options);
  options_take_over(options);
  save_command(SaveRequest{command, name, Options(option_string()), kPluginVersion, options_save});
}

const char *qel_save(int argc, const char *const *argv) {
  // No exception may reach the host; the save command shows its own.
  try {
    save(argc, argv);
  } catch (...) {
  }
  return "";
}

int plugin_init(mo_startup_record *record) {
  if (mo_get_version_number() * 10.0 < 50.0) {
    std::fputs("\n*** Falsches 'qel_export'-Plugin fuer diese MOLV-Version ! ***\n", stdout);
    std::fflush(stdout);
    return -1;
  }
  tcl_command("set qel_opt_anz %d", kOptionCount);
  tcl_command("set qel_animation 0");

  const char *dir = (record != nullptr && record->plugin_dir != nullptr) ? record->plugin_dir : "";
  // The host rewrites its own copy of the folder for use inside Tcl.
  std::string script_dir(dir);
  script_dir.push_back('\0');
  mo_unbackslash_string(&script_dir[0]);
  script_dir.resize(std::strlen(script_dir.c_str()));

  set_options_path(dir);

  std::string script = tcl_word(script_dir + "/qel_export.tcl");
  tcl_command("source %s", script.c_str());

  mo_add_command("qel_main", qel_main);
  mo_add_export_menu_item("Direct X ...", "molv qel_main");
  mo_add_command_full("qel_save", qel_save, 3, "sss",
                      "<cmd string>  <name string>  <opt string>", "Save X-File");
  return 0;
}

}  // namespace
}  // namespace qel

extern "C" {

// Default visibility comes from the declarations in plugin.h; the version
// script of the build hides everything else.
int MOLVPluginInit(mo_startup_record *record) {
  try {
    return qel::plugin_init(record);
  } catch (...) {
    return -1;
  }
}

int MOLVPluginExit(void) { return 0; }

const char *MOLVPluginAbout(void) {
  try {
    static const std::string about =
        std::string("qel_export.p v") + qel::kPluginVersion + " - DirectX (.x) export plug-in for molv\n";
    return about.c_str();
  } catch (...) {
    return "";
  }
}

const char *MOLVPluginInfo(void) {
  return qel::kInfoText;
}

}  // extern "C"
