/*
 * molv's own error lines.
 */
#include "common/error_line.h"

#include <cstdio>
#include <string>

#include "files/one_line.h"

namespace molv {
namespace {

std::string g_last_error;
std::string g_stdin_scene;  // where a model from standard input was put

}  // namespace

void error_line(const std::string &text) {
  g_last_error = one_line(text);
  // A model from standard input is "-", never the private file it went to.
  if (!g_stdin_scene.empty())
    for (size_t at; (at = g_last_error.find(g_stdin_scene)) != std::string::npos;)
      g_last_error.replace(at, g_stdin_scene.size(), "-");
  std::fprintf(stderr, "molv: %s\n", g_last_error.c_str());
}

const std::string &last_error() { return g_last_error; }
void clear_last_error() { g_last_error.clear(); }

void name_stdin_scene(const std::string &path) { g_stdin_scene = path; }

std::string scene_label(const std::string &scene) {
  if (!g_stdin_scene.empty() && scene == g_stdin_scene) return "-";
  return scene.empty() ? "sample" : scene;
}

}  // namespace molv
