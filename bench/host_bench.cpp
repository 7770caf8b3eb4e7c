/*
 * The stand-in host's share of an export: the cancel poll (a large mesh
 * polls tens of thousands of times), a surface copy with its corners, and
 * the normal calculation of a grid object.  One iteration is one poll, one
 * copy given back, or one calculation.
 */
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "import/position_index.h"

namespace {

void start_host_once() {
  static bool started = false;
  if (started) return;
  started = true;
  molv::tcl_start(false);
  molv::install_headless_dialog();
}

// The exchange of the plug-in's cancel poll, status text included.
void BM_CancelPoll(benchmark::State &state) {
  start_host_once();
  for (auto _ : state) {
    display_message("%s", "Export X File - Create Vertex List ...");
    tcl_command("update");
    benchmark::DoNotOptimize(tcl_command("global qel_cancel \n set qel_cancel"));
  }
  molv::clear_recording();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CancelPoll);

// A grid object of n x n quads, each two triangles.
mo_object *install_grid(int n) {
  std::unique_ptr<molv::Model> m = molv::make_empty_model();
  m->objects.push_back(std::make_unique<mo_object>());
  mo_object *grid = m->objects.back().get();
  grid->type = MO_OBJ_POLYGON;
  std::vector<float> positions;
  for (int y = 0; y <= n; ++y) {
    for (int x = 0; x <= n; ++x) {
      positions.push_back(static_cast<float>(x));
      positions.push_back(static_cast<float>(y));
      positions.push_back(std::sin(static_cast<float>(x + y) * 0.1f));
    }
  }
  std::vector<molv::SurfaceSpec> surfaces;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const int a = y * (n + 1) + x;
      const int triangles[2][3] = {{a, a + 1, a + n + 2}, {a, a + n + 2, a + n + 1}};
      for (const auto &corners : triangles) {
        molv::SurfaceSpec s;
        for (int c : corners) {
          s.vertex_index.push_back(c);
          s.u.push_back(0.0f);
          s.v.push_back(0.0f);
        }
        surfaces.push_back(std::move(s));
      }
    }
  }
  molv::build_object(grid, positions, surfaces, {});
  molv::build_object(m->world(), {}, {}, {grid});
  molv::install_model(std::move(m));
  return grid;
}

// A triangle copied and given back, as the mesh writer copies a surface.
void BM_CloneTriangle(benchmark::State &state) {
  mo_object *grid = install_grid(2);
  auto *triangle = static_cast<mo_surface *>(grid->surfaces->item);
  for (auto _ : state) {
    mo_list list = nullptr;
    list_add_item(&list, surface_clone(triangle, grid));
    mo_surfacelist_free(list);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CloneTriangle);

// The normals of a grid of 2 x 256 x 256 triangles; items are triangles.
void BM_CalcNormals(benchmark::State &state) {
  mo_object *grid = install_grid(256);
  for (auto _ : state) object_calc_normals_force(grid);
  state.SetItemsProcessed(state.iterations() * 2 * 256 * 256);
}
BENCHMARK(BM_CalcNormals)->Unit(benchmark::kMillisecond);

// The same with a model's own normal kept at every corner, as an imported
// model with normals has them.
void BM_CalcNormalsKept(benchmark::State &state) {
  mo_object *grid = install_grid(256);
  std::vector<float> normals(3 * grid->svertex_store.size());
  for (size_t i = 0; i < normals.size(); i += 3) normals[i + 2] = 1.0f;
  molv::keep_model_normals(grid, std::move(normals));
  for (auto _ : state) object_calc_normals_force(grid);
  state.SetItemsProcessed(state.iterations() * 2 * 256 * 256);
}
BENCHMARK(BM_CalcNormalsKept)->Unit(benchmark::kMillisecond);

// The position index filing state.range(0) positions, every other one a
// NaN (each its own vertex): the time per position stays the same from
// 20k to 160k, as NaNs are never filed in one run of slots.
void BM_PositionIndexWithNaNs(benchmark::State &state) {
  const auto count = static_cast<size_t>(state.range(0));
  std::vector<float> positions;
  positions.reserve(3 * count);
  for (auto _ : state) {
    positions.clear();
    molv::PositionIndex index(count / 4);
    for (size_t i = 0; i < count; ++i) {
      const float x = i % 2 == 0 ? NAN : static_cast<float>(i);
      const molv::Position p{{x, x, x}};
      const auto next = static_cast<int32_t>(positions.size() / 3);
      positions.insert(positions.end(), p.p, p.p + 3);
      benchmark::DoNotOptimize(index.find_or_add(p, molv::position_hash(p), positions, next));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PositionIndexWithNaNs)->Arg(20000)->Arg(160000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
