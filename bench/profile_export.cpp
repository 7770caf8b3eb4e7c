/*
 * One model file, exported by the plug-in in-process a few times in a row,
 * with the time of each run: the program to run under perf or callgrind
 * when looking for where an export spends its time (compare_tool also runs
 * Assimp and whole processes, which would drown the profile).
 *
 *   profile_export MODEL PLUGIN_DIR OUT [RUNS] [OPTIONS]
 *
 * The first run also pays for the pages the host's pools and the plug-in's
 * tables touch for the first time; later runs reuse them.
 */
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/host_memory.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "core/options.h"
#include "import/load.h"

// CPU time of this thread: on a busy machine it tells more than the wall
// clock.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Pages the process touched for the first time so far.
long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: profile_export MODEL PLUGIN_DIR OUT [RUNS] [OPTIONS]\n");
    return 2;
  }
  const std::string model = argv[1], plugin_dir = argv[2], out = argv[3];
  molv::keep_freed_memory();  // as molv does
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  const std::string options =
      argc > 5 ? argv[5] : qel::kDefaultOptions;

  std::string error;
  auto start = std::chrono::steady_clock::now();
  molv::Load load = molv::load_file(model);
  if (!load.loaded) {
    std::fprintf(stderr, "%s\n", load.error.c_str());
    return 1;
  }
  molv::install(load);
  std::printf("load %.3f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  molv::tcl_start(false);
  if (molv::plugin_load(plugin_dir, &error) != 0) {
    std::fprintf(stderr, "plug-in: %s\n", error.c_str());
    return 1;
  }
  molv::install_headless_dialog();
  for (int run = 0; run < runs; ++run) {
    molv::clear_recording();
    start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
    const long faults_start = minor_faults();
    std::string result;
    molv::tcl_eval("molv qel_save export " + out + " " + options, &result);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpu_seconds() - cpu_start;
    const long faults = minor_faults() - faults_start;
    const auto &status = molv::recording().status_lines;
    std::printf("export %.3f s, cpu %.3f s, %ld page faults (%s, %zu status lines)\n", seconds, cpu,
                faults, status.empty() ? "no status" : status.back().c_str(), status.size());
  }
  return 0;
}
