/*
 * The in-process export harness.
 */
#include "support/export_harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "binding/options.h"
#include "binding/plugin.h"
#include "export/export_state.h"
#include "export/output.h"
#include "export/pass1.h"
#include "export/save_command.h"
#include "host.h"

namespace qel_test {

namespace {
// The interpreter the plug-in was started in; another test in the same
// process may have stopped or replaced it.
Tcl_Interp *g_interp = nullptr;
std::string g_debug;
int g_status = 0;
}  // namespace

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string golden(const std::string &name) {
  return read_file(std::string(QEL_TEST_DIR) + "/golden/" + name);
}

void start_host() {
  if (g_interp != nullptr && molv::tcl_interp() == g_interp &&
      !molv::registrations().empty()) {
    return;
  }
  char folder[] = "/tmp/qel_harness_XXXXXX";
  if (::mkdtemp(folder) == nullptr) std::abort();
  std::string dir(folder);
  {
    std::ofstream script(dir + "/qel_export.tcl", std::ios::binary);
    script << read_file(std::string(QEL_SOURCE_DIR) + "/plugins/script/qel_export.tcl");
  }
  molv::tcl_start(false);
  molv::set_record_debug(true);
  if (molv::plugin_start(MOLVPluginInit, dir) != 0) std::abort();
  molv::install_headless_dialog();
  g_interp = molv::tcl_interp();
}

void load_scene(const std::string &json) {
  start_host();
  std::string error;
  ASSERT_TRUE(molv::load_scene_text(json, "scene.json", &error)) << error;
}

std::string all_clear_options() { return std::string(49, '0') + "6"; }

std::string options_with(const std::string &base,
                         std::initializer_list<std::pair<int, char>> changes) {
  std::string options = base.empty() ? all_clear_options() : base;
  options.resize(qel::kOptionCount, '0');
  for (const auto &change : changes) options[static_cast<std::size_t>(change.first)] = change.second;
  return options;
}

std::string export_text(const std::string &options) {
  start_host();
  qel::options_reset();
  qel::options_take_over(options.c_str());
  qel::export_state_reset();
  qel::export_state().export_file_name = "memory.x";
  molv::clear_recording();
  std::string text;
  {
    qel::Output out;
    out.attach_string(&text);
    qel::export_to(out);
    out.flush();
  }
  qel::free_maps();
  g_status = qel::export_state().status;
  g_debug = molv::recording().debug;
  return text;
}

const std::string &last_debug() { return g_debug; }
int last_status() { return g_status; }

}  // namespace qel_test
