/*
 * Loading a plug-in as the modeller does: dlopen, its entry points, its
 * init with the start-up record.
 */
#ifndef MOLV_API_PLUGIN_LOADER_H
#define MOLV_API_PLUGIN_LOADER_H

#include <string>

#include "host/molv_host.h"

namespace molv {

// Loads DIR/qel_export.so with dlopen and runs its MOLVPluginInit with the
// start-up record (DIR made absolute, no trailing slash).  Returns the
// init's result; -2 with *error set when the library cannot be loaded.
int plugin_load(const std::string &dir, std::string *error);
// Loads DIR/qel_export.so ahead, without starting it, so that plugin_load
// finds it loaded (it stays so).  Says nothing: a library that cannot be
// loaded is said by plugin_load.
void plugin_preload(const std::string &dir);
// The same for an init function linked into the process (unit tests).
int plugin_start(mo_plugin_init_fn init, const std::string &dir);
// The about text of DIR/qel_export.so (MOLVPluginAbout), without starting
// the plug-in.  False with *error when the library cannot be loaded.
bool plugin_about(const std::string &dir, std::string *about, std::string *error);
// After the plug-in has sourced its dialog script: without a display the
// dialog procedure is replaced by one that returns its options unchanged.
void install_headless_dialog();

}  // namespace molv

#endif  // MOLV_API_PLUGIN_LOADER_H
