/*
 * Runs the plug-in in-process on a scene, for the writer tests: the host
 * (headless Tcl, the model) and the plug-in start once per test process;
 * each export writes into a string the test keeps.
 */
#ifndef QEL_TESTS_SUPPORT_EXPORT_HARNESS_H
#define QEL_TESTS_SUPPORT_EXPORT_HARNESS_H

#include <array>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "core/export_run.h"
#include "core/output.h"
#include "host/molv_host.h"

namespace qel_test {

// Starts the headless host and the plug-in (from a temporary plug-in folder
// holding the dialog script).  Safe to call more than once.
void start_host();

// Replaces the model; fails the current test on a bad scene.
void load_scene(const std::string &json);

// The full 50-character option string with the given characters set:
// e.g. options_with("", {{17,'1'}}) or options_with(default, ...).
std::string options_with(const std::string &base, std::initializer_list<std::pair<int, char>> changes);
// "0" * 49 followed by '6': every switch clear, six decimal places.
std::string all_clear_options();

// A run of the plug-in that writes into a string the test keeps: the
// output and the run object the writers take, under `options` (50
// characters, or fewer over the defaults), named "memory.x".
struct StringRun {
  explicit StringRun(const std::string &options);
  // Everything written so far.
  const std::string &text() {
    out.flush();
    return sink;
  }
  std::string sink;
  qel::Output out;
  qel::ExportRun run;
};

// One whole export (pass 1, header, templates, tree, header patch) of the
// loaded model into a string, with the given 50-character option string.
// The debug trace of the run is kept in last_debug().
std::string export_text(const std::string &options);
const std::string &last_debug();
qel::RunStatus last_status();  // completed when every phase went through
// Where the frame writer's walk stood when the last export ended.
struct WalkEnd {
  int hierarchy_level;
  int object_counter;
};
WalkEnd last_walk_end();

// Reads a file whole (golden files: tests/golden/NAME).
std::string read_file(const std::string &path);
std::string golden(const std::string &name);

// The first child of the world in the loaded model.
mo_object *first_object();

// A world of one polygon object named `name`, with the given vertices and
// surfaces (each a list of vertex indices), as scene JSON.
std::string polygon_scene(const std::string &name, const std::vector<std::array<double, 3>> &vertices,
                          const std::vector<std::vector<int>> &surfaces);

// A host list of the given vertex records, in the given order, as an
// object's vertex list would hold them; its nodes are handed back with it.
struct RecordList {
  mo_list list = nullptr;
  explicit RecordList(const std::vector<mo_vertex *> &records) {
    for (mo_vertex *record : records) list_add_item(&list, record);
  }
  ~RecordList() { list_free(list); }
  RecordList(const RecordList &) = delete;
  RecordList &operator=(const RecordList &) = delete;
};

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_EXPORT_HARNESS_H
