/*
 * Soak: a few hundred exports in one molv process, through the save command
 * as the dialog calls it, with cancels at random polls, failed host
 * allocations and (where a device node can be made) writes to a full device
 * mixed in among the complete runs.  After each run the host's
 * count of live allocations must be back at its start, and the process's
 * resident memory must stay flat from run to run once the first runs have
 * set up what lives for the whole process (the output buffer, the
 * interpreter's caches).
 *
 *   soak_bench [RUNS [GRID]]     default 400 runs over a 100 x 100 grid
 *
 * Prints one line per 50 runs (outcomes, resident memory, live host
 * allocations) and exits with 1 when either figure is not flat: any run that
 * kept host memory, or resident memory that grew by more than 4 MB between
 * the end of the first 50 runs and the last.  Not run by the tests: it
 * measures, and takes a while.
 */
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "api/host_memory.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "binding/plugin.h"
#include "core/options.h"
#include "import/scene_file.h"

namespace {

const char *const kDefaults = qel::kDefaultOptions;

// Resident memory of this process, in kilobytes.
long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string read_whole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A textured grid of size x size quads with a data text, beside a group
// holding a two-sided triangle and a concave polygon: every block of the
// file and every kind of poll.
std::string soak_scene(int size) {
  std::string vertices, surfaces;
  for (int y = 0; y <= size; ++y)
    for (int x = 0; x <= size; ++x)
      vertices += (vertices.empty() ? "[" : ",[") + std::to_string(x) + "," + std::to_string(y) +
                  "," + std::to_string((x * y) % 5) + "]";
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const int a = y * (size + 1) + x, b = a + size + 1;
      surfaces += std::string(surfaces.empty() ? "" : ",") + "{\"verts\":[[" + std::to_string(a) +
                  ",0,0],[" + std::to_string(a + 1) + ",1,0],[" + std::to_string(b + 1) +
                  ",1,1],[" + std::to_string(b) + ",0,1]],\"material\":" +
                  std::to_string((x + y) % 2) + "}";
    }
  return "{\"palette\":[{\"name\":\"a\"},{\"name\":\"b\",\"diffuse\":[0,0,1]}],"
         "\"textures\":[\"maps/soak.png\"],\"world\":{\"children\":["
         "{\"name\":\"grid\",\"data\":\"soak\\ngrid\",\"texture\":{\"id\":0},\"vertices\":[" +
         vertices + "],\"surfaces\":[" + surfaces +
         "]},{\"name\":\"group\",\"children\":["
         "{\"name\":\"tri\",\"vertices\":[[0,0,1],[1,0,1],[0,1,1]],"
         "\"surfaces\":[{\"verts\":[0,1,2],\"twosided\":true}]},"
         "{\"name\":\"ell\",\"vertices\":[[0,0,3],[2,0,3],[2,1,3],[1,1,3],[1,2,3],[0,2,3]],"
         "\"surfaces\":[{\"verts\":[0,1,2,3,4,5]}]}]}]}}";
}

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 400;
  const int grid = argc > 2 ? std::atoi(argv[2]) : 100;
  if (runs < 100 || grid < 1) {
    std::fprintf(stderr, "usage: %s [RUNS (100 or more) [GRID]]\n", argv[0]);
    return 2;
  }

  // The plug-in notes the start of every export on standard output; the
  // table goes to the real one, those notes nowhere.
  std::fflush(stdout);
  std::FILE *table = ::fdopen(::dup(1), "w");
  if (table == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 2;

  char folder[] = "/tmp/qel_soak_XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 2;
  const std::string dir = folder;
  std::ofstream(dir + "/qel_export.tcl")
      << read_whole(std::string(QEL_SOURCE_DIR) + "/plugins/script/qel_export.tcl");
  molv::tcl_start(false);
  molv::set_record_debug(false);
  if (molv::plugin_start(MOLVPluginInit, dir) != 0) return 2;
  molv::install_headless_dialog();
  std::string error;
  if (!molv::load_scene_text(soak_scene(grid), "soak", &error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }

  std::string options = kDefaults;
  for (int i : {2, 9, 13, 22}) options[static_cast<std::size_t>(i)] = '1';
  const std::string save = "molv qel_save export " + dir + "/soak " + options;
  // A node of the full device: every write to it fails for want of space.
  const bool have_full =
      ::mknod((dir + "/full.x").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  const std::string save_full = "molv qel_save export " + dir + "/full " + options;

  // How many polls and host allocations a complete run makes, so that the
  // faults fall anywhere in a run.
  long updates = molv::update_count();
  molv::tcl_eval(save);
  const long polls = molv::update_count() - updates;
  const long start_blocks = molv::live_allocations();

  std::mt19937 random(20240607);
  int complete = 0, cancelled = 0, failed = 0, kept_memory = 0;
  long first_rss = -1, last_rss = -1;
  std::fprintf(table, "%8s %9s %9s %7s %12s %12s\n", "runs", "complete", "cancelled", "failed",
              "resident KB", "live blocks");
  for (int run = 1; run <= runs; ++run) {
    const int kind = static_cast<int>(random() % 6);
    if (kind == 3) molv::set_cancel_at_poll(1 + static_cast<long>(random() % polls));
    if (kind == 4) molv::set_fail_alloc_after(static_cast<long>(random() % 40));
    molv::clear_recording();
    molv::tcl_eval(kind == 5 && have_full ? save_full : save);
    molv::set_cancel_at_poll(0);
    molv::set_fail_alloc_after(-1);

    const auto &lines = molv::recording().status_lines;
    const std::string last = lines.empty() ? "" : lines.back();
    if (last == "Ready !") {
      ++complete;
    } else if (last == "*** Abort by User ! ***") {
      ++cancelled;
    } else {
      ++failed;
    }
    if (molv::live_allocations() != start_blocks) {
      ++kept_memory;
      std::fprintf(table, "run %d kept %ld blocks of host memory (%s)\n", run,
                  molv::live_allocations() - start_blocks, last.c_str());
    }
    if (run % 50 == 0) {
      const long rss = resident_kb();
      if (run == 50) first_rss = rss;
      last_rss = rss;
      std::fprintf(table, "%8d %9d %9d %7d %12ld %12ld\n", run, complete, cancelled, failed, rss,
                  molv::live_allocations() - start_blocks);
      std::fflush(table);
    }
  }
  molv::clear_recording();
  for (const char *name : {"qel_export.tcl", "qel_export.opt", "soak.x", "full.x"})
    ::unlink((dir + "/" + name).c_str());
  ::rmdir(dir.c_str());

  const long growth = last_rss - first_rss;
  std::fprintf(table, "resident memory from run 50 to run %d: %+ld KB; runs that kept host memory: %d\n",
              runs, growth, kept_memory);
  const bool flat = kept_memory == 0 && growth <= 4096 && cancelled > 0 && failed > 0;
  std::fprintf(table, "%s\n", flat ? "flat" : "NOT FLAT");
  return flat ? 0 : 1;
}
