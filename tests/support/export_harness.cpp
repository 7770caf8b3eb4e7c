/*
 * The in-process export harness.
 */
#include "support/export_harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "binding/options.h"
#include "binding/plugin.h"
#include "binding/version.h"
#include "export/save_command.h"
#include "import/scene_file.h"
#include "support/child_process.h"

namespace qel_test {

namespace {
// The interpreter the plug-in was started in; another test in the same
// process may have stopped or replaced it.
Tcl_Interp *g_interp = nullptr;
std::string g_debug;
qel::RunStatus g_status = qel::RunStatus::running;
WalkEnd g_walk_end{-1, -1};

// The plug-in folder of the process, removed with what the plug-in wrote
// there when the process ends.
struct PluginFolder {
  std::string path;
  ~PluginFolder() {
    if (!path.empty()) remove_tree(path);
  }
};
PluginFolder g_plugin_folder;
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
  if (g_plugin_folder.path.empty()) g_plugin_folder.path = make_temp_dir("harness");
  const std::string &dir = g_plugin_folder.path;
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

StringRun::StringRun(const std::string &options)
    : run(out, qel::Options(options.c_str()), qel::kPluginVersion) {
  out.attach_string(&sink);
  run.file_name = "memory.x";
}

std::string export_text(const std::string &options) {
  start_host();
  molv::clear_recording();
  StringRun r(options);
  qel::export_to(r.run);
  std::string text = r.text();
  // As the save command: a run that went through is complete.
  r.run.complete();
  g_status = r.run.status();
  g_walk_end = WalkEnd{r.run.hierarchy_level, r.run.object_counter};
  g_debug = molv::recording().debug;
  return text;
}

const std::string &last_debug() { return g_debug; }

mo_object *first_object() {
  int vertex_count = 0, surface_count = 0, child_count = 0;
  mo_list vertices = nullptr, surfaces = nullptr, children = nullptr;
  mo_object_get_contents(mo_get_world(), &vertex_count, &surface_count, &child_count, &vertices,
                         &surfaces, &children);
  return children != nullptr ? static_cast<mo_object *>(children->item) : nullptr;
}

std::string polygon_scene(const std::string &name, const std::vector<std::array<double, 3>> &vertices,
                          const std::vector<std::vector<int>> &surfaces) {
  std::ostringstream json;
  json.precision(17);
  json << R"({"world": {"children": [{"name": ")" << name << R"(", "vertices": [)";
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    json << (i ? "," : "") << '[' << vertices[i][0] << ',' << vertices[i][1] << ','
         << vertices[i][2] << ']';
  }
  json << R"(], "surfaces": [)";
  for (std::size_t s = 0; s < surfaces.size(); ++s) {
    json << (s ? "," : "") << R"({"verts": [)";
    for (std::size_t k = 0; k < surfaces[s].size(); ++k) json << (k ? "," : "") << surfaces[s][k];
    json << "]}";
  }
  json << "]}]}}";
  return json.str();
}
qel::RunStatus last_status() { return g_status; }
WalkEnd last_walk_end() { return g_walk_end; }

}  // namespace qel_test
