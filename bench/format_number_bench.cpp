/*
 * Cost of one number of the output file: both forms of the number writer
 * beside the snprintf conversions they stand in for and the std::to_chars
 * conversion of the formatting floor (bench/compare.sh), on what meshes hold
 * (coordinates of a model some hundred units across, unit normals).
 * One iteration formats one number.
 */
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "core/output.h"
#include "xwriter/numbers.h"

namespace {

constexpr std::size_t kValueCount = 4096;  // a power of two: cheap wrap

std::vector<float> mesh_values() {
  std::mt19937 random(42);
  std::uniform_real_distribution<float> coordinate(-250.0f, 250.0f);
  std::uniform_real_distribution<float> normal(-1.0f, 1.0f);
  std::vector<float> values;
  values.reserve(kValueCount);
  // A vertex row: three coordinates, then three normal components.
  while (values.size() < kValueCount) {
    for (int i = 0; i < 3; ++i) values.push_back(coordinate(random));
    for (int i = 0; i < 3; ++i) values.push_back(normal(random));
  }
  values.resize(kValueCount);
  return values;
}

const std::vector<float> &values() {
  static const std::vector<float> v = mesh_values();
  return v;
}

void BM_FormatFixed(benchmark::State &state) {
  const std::vector<float> &v = values();
  char text[qel::kNumberTextMax];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qel::format_number_to(text, v[i], true, 6));
    benchmark::ClobberMemory();
    i = (i + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFixed);

void BM_FormatShort(benchmark::State &state) {
  const std::vector<float> &v = values();
  char text[qel::kNumberTextMax];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qel::format_number_to(text, v[i], false, 6));
    benchmark::ClobberMemory();
    i = (i + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatShort);

// The conversion the fixed form starts from, alone.
void BM_SnprintfExponent(benchmark::State &state) {
  const std::vector<float> &v = values();
  char text[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::snprintf(text, sizeof text, "% .*e", 5, static_cast<double>(v[i])));
    benchmark::ClobberMemory();
    i = (i + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfExponent);

// What the formatting floor of bench/compare.sh spends on a float.
void BM_ToCharsExponent(benchmark::State &state) {
  const std::vector<float> &v = values();
  char text[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::to_chars(text, text + sizeof text, static_cast<double>(v[i]),
                                           std::chars_format::scientific, 5)
                                 .ptr);
    benchmark::ClobberMemory();
    i = (i + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToCharsExponent);

void BM_SnprintfShort(benchmark::State &state) {
  const std::vector<float> &v = values();
  char text[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%g", static_cast<double>(v[i])));
    benchmark::ClobberMemory();
    i = (i + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfShort);

// Integers of the face and index blocks (vertex indices of a large mesh),
// and the floor's to_chars of them.
void BM_PutInteger(benchmark::State &state) {
  char text[qel::Output::kIntegerMax];
  long i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qel::Output::put_integer(text, i));
    benchmark::ClobberMemory();
    i = (i + 7919) % 3000000;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PutInteger);

void BM_ToCharsInteger(benchmark::State &state) {
  char text[24];
  long i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::to_chars(text, text + sizeof text, i).ptr);
    benchmark::ClobberMemory();
    i = (i + 7919) % 3000000;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToCharsInteger);

}  // namespace

BENCHMARK_MAIN();
