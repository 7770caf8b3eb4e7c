/*
 * Whole exports of generated grid meshes, in-process: everything inside the
 * qel_save command (pass 1, the header, the templates, the tree, the mesh
 * writer with its host calls, the file write) for one textured object of
 * about 100k and 1M triangles under the default options.  Reports the time
 * per surface vertex, so that a mesh twice as large should show about the
 * same figure.
 */
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "binding/plugin.h"
#include "core/options.h"

namespace {

const char *const kDefaults = qel::kDefaultOptions;

std::string g_dir;

void start_host_once() {
  if (!g_dir.empty()) return;
  char folder[] = "/tmp/qel_bench_XXXXXX";
  if (::mkdtemp(folder) == nullptr) std::abort();
  g_dir = folder;
  std::ifstream in(std::string(QEL_SOURCE_DIR) + "/plugins/script/qel_export.tcl");
  std::stringstream script;
  script << in.rdbuf();
  std::ofstream(g_dir + "/qel_export.tcl") << script.str();
  molv::tcl_start(false);
  if (molv::plugin_start(MOLVPluginInit, g_dir) != 0) std::abort();
  molv::install_headless_dialog();
}

// A grid of n x n quads, each split into two triangles, with texture
// coordinates and a gentle height field so smooth normals differ.
void install_grid(int n) {
  std::unique_ptr<molv::Model> m = molv::make_empty_model();
  m->textures.push_back("maps/grid.png");
  m->objects.push_back(std::make_unique<mo_object>());
  mo_object *grid = m->objects.back().get();
  grid->type = MO_OBJ_POLYGON;
  grid->name = "grid";
  grid->has_texture = true;
  grid->texture_id = 0;
  grid->texture_repeat[0] = grid->texture_repeat[1] = 1.0f;
  grid->texture_offset[0] = grid->texture_offset[1] = 0.0f;

  std::vector<float> positions;
  positions.reserve(static_cast<std::size_t>((n + 1) * (n + 1) * 3));
  for (int y = 0; y <= n; ++y) {
    for (int x = 0; x <= n; ++x) {
      positions.push_back(static_cast<float>(x) * 0.25f);
      positions.push_back(static_cast<float>(y) * 0.25f);
      positions.push_back(std::sin(static_cast<float>(x) * 0.1f) * std::cos(static_cast<float>(y) * 0.1f));
    }
  }
  std::vector<molv::SurfaceSpec> surfaces;
  surfaces.reserve(static_cast<std::size_t>(2 * n * n));
  auto corner = [&](molv::SurfaceSpec &s, int x, int y) {
    s.vertex_index.push_back(y * (n + 1) + x);
    s.u.push_back(static_cast<float>(x) / static_cast<float>(n));
    s.v.push_back(static_cast<float>(y) / static_cast<float>(n));
  };
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      molv::SurfaceSpec a, b;
      corner(a, x, y), corner(a, x + 1, y), corner(a, x + 1, y + 1);
      corner(b, x, y), corner(b, x + 1, y + 1), corner(b, x, y + 1);
      surfaces.push_back(std::move(a));
      surfaces.push_back(std::move(b));
    }
  }
  molv::bounding_box_centre(positions, grid->centre);
  molv::build_object(grid, positions, surfaces, {});
  molv::build_object(m->world(), {}, {}, {grid});
  molv::install_model(std::move(m));
}

void BM_ExportGrid(benchmark::State &state) {
  start_host_once();
  const int n = static_cast<int>(state.range(0));
  install_grid(n);
  const std::string target = g_dir + "/grid";
  const std::string command = "molv qel_save export " + target + " " + kDefaults;
  // Each triangle's three corners, none two-sided.
  const long surface_vertices = 6L * n * n;
  for (auto _ : state) {
    std::string result;
    if (molv::tcl_eval(command, &result) != 0) state.SkipWithError(result.c_str());
  }
  ::unlink((target + ".x").c_str());
  state.counters["triangles"] = 2.0 * n * n;
  // Seconds per surface vertex, printed with an SI prefix ("95n" = 95 ns).
  state.counters["per_surface_vertex"] = benchmark::Counter(
      static_cast<double>(surface_vertices) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// About 100k and 1M triangles.
BENCHMARK(BM_ExportGrid)->Arg(224)->Arg(707)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
