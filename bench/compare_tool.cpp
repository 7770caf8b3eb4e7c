/*
 * One row of the speed comparison: a model file exported by the plug-in and
 * by Assimp's own .x exporter, each in-process with the model already
 * loaded, and the formatting floor: the time a tight loop needs to turn
 * every number of the plug-in's file into text with std::to_chars and write
 * it.  Also runs both as whole programs (molv export, assimp export) for
 * their wall time and peak memory, three times each in turn (the median).
 *
 * The plug-in's time is the median of three runs, each the first export of
 * a process that has just loaded the model; the floor is the best of three
 * runs.  Every timed run writes a new file and starts from a clean page
 * cache (sync), so that no run pays for writing back another's pages.
 *
 *   compare_tool MODEL WORKDIR MOLV PLUGIN_DIR
 *
 * Prints "key value" lines that bench/compare.sh turns into a table.
 */
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "core/options.h"
#include "import/load.h"

namespace {

const char *const kDefaults = qel::kDefaultOptions;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long status_kib(const char *key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return -1;
}

// Resets the peak resident size, so VmHWM afterwards is the peak of what
// follows.
void reset_peak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Numbers {
  std::vector<float> floats;
  std::vector<long> integers;
  std::vector<bool> is_float;  // file order
};

// Every number of an .x text, in file order: a token of digits with a
// point or an exponent is a float, one of plain digits an integer.
Numbers numbers_of(const std::string &text) {
  Numbers n;
  const char *p = text.data();
  const char *end = p + text.size();
  while (p < end) {
    bool starts = (*p >= '0' && *p <= '9') || (*p == '-' && p + 1 < end && p[1] >= '0' && p[1] <= '9');
    bool in_word = p > text.data() && (std::isalpha(static_cast<unsigned char>(p[-1])) || p[-1] == '_');
    if (!starts || in_word) {
      // Skip names (Mat_3, Tex_0_1, FRM_1_0_0_1) and comments whole.
      if (*p == '/' && p + 1 < end && p[1] == '/') {
        while (p < end && *p != '\n') ++p;
      } else if (std::isalpha(static_cast<unsigned char>(*p)) || *p == '_') {
        while (p < end && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '.')) ++p;
      } else {
        ++p;
      }
      continue;
    }
    const char *q = p + 1;
    bool is_float = false;
    while (q < end && ((*q >= '0' && *q <= '9') || *q == '.' || *q == 'e' || *q == '+' ||
                       (*q == '-' && (q[-1] == 'e')))) {
      if (*q == '.' || *q == 'e') is_float = true;
      ++q;
    }
    if (is_float) {
      float f = 0;
      std::from_chars(p, q, f);
      n.floats.push_back(f);
    } else {
      long v = 0;
      std::from_chars(p, q, v);
      n.integers.push_back(v);
    }
    n.is_float.push_back(is_float);
    p = q;
  }
  return n;
}

// The floor: every number to text with std::to_chars (floats as "% .5e"
// would give them), separated, written through a large buffer.
double formatting_floor(const Numbers &n, const std::string &path) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return -1;
  std::vector<char> buffer(1 << 20);
  std::size_t used = 0;
  std::size_t fi = 0, ii = 0;
  auto start = Clock::now();
  for (bool is_float : n.is_float) {
    if (buffer.size() - used < 64) {
      std::fwrite(buffer.data(), 1, used, out);
      used = 0;
    }
    char *p = buffer.data() + used;
    char *e = is_float ? std::to_chars(p, p + 48, static_cast<double>(n.floats[fi++]),
                                       std::chars_format::scientific, 5).ptr
                       : std::to_chars(p, p + 48, n.integers[ii++]).ptr;
    *e++ = ';';
    used += static_cast<std::size_t>(e - p);
  }
  std::fwrite(buffer.data(), 1, used, out);
  std::fclose(out);
  return seconds_since(start);
}

// Surface vertices of every polygon of 3 or more corners: what the mesh
// writer handles under the default options (no triangulation, no two-sided
// surfaces in a grid).
long count_surface_vertices(mo_object *object) {
  long total = 0;
  std::vector<mo_object *> pending{object};
  while (!pending.empty()) {
    mo_object *o = pending.back();
    pending.pop_back();
    int vertices = 0, surfaces = 0, children = 0;
    mo_list vertex_list = nullptr, surface_list = nullptr, child_list = nullptr;
    mo_object_get_contents(o, &vertices, &surfaces, &children, &vertex_list, &surface_list,
                           &child_list);
    if (mo_object_get_type(o) == MO_OBJ_POLYGON) {
      for (mo_list_node *n = surface_list; n != nullptr; n = n->next) {
        auto *surface = static_cast<mo_surface *>(n->item);
        if (surface_get_type(surface) == MO_SURF_POLYGON && surface->vertex_count >= 3) {
          total += surface->vertex_count * (surface_get_twosided(surface) == 1 ? 2 : 1);
        }
      }
    }
    for (mo_list_node *n = child_list; n != nullptr; n = n->next)
      pending.push_back(static_cast<mo_object *>(n->item));
  }
  return total;
}

// One export by the plug-in, in-process, right after loading the model.
struct PluginRun {
  double load_seconds;  // the model file to the host's model: Assimp's reading and the builder
  double read_seconds;  // of which the reader's child (Assimp's reading and the plan)
  long load_peak_kib;   // the process's peak resident size when the model is loaded
  double seconds;
  long peak_above_kib;  // peak resident size above the size before the export
  size_t held_bytes;    // host memory the export held at its peak
  long surface_vertices;
};

// Loads the model, exports it once and fills `run`; false on a failure
// (reported on stderr).
bool export_once(const std::string &model, const std::string &plugin_dir,
                 const std::string &target, PluginRun *run) {
  std::string error;
  reset_peak();
  const auto load_start = Clock::now();
  molv::Load load = molv::load_file(model);
  if (!load.loaded) {
    std::fprintf(stderr, "%s\n", load.error.c_str());
    return false;
  }
  molv::install(load);
  run->load_seconds = seconds_since(load_start);
  run->read_seconds = load.read_seconds;
  run->load_peak_kib = status_kib("VmHWM:");
  molv::tcl_start(false);
  if (molv::plugin_load(plugin_dir, &error) != 0) {
    std::fprintf(stderr, "plug-in: %s\n", error.c_str());
    return false;
  }
  molv::install_headless_dialog();
  const long rss_before = status_kib("VmRSS:");
  reset_peak();
  molv::reset_peak_held_bytes();
  const auto start = Clock::now();
  std::string result;
  molv::tcl_eval("molv qel_save export " + target + " " + kDefaults, &result);
  run->seconds = seconds_since(start);
  run->peak_above_kib = status_kib("VmHWM:") - rss_before;
  run->held_bytes = molv::peak_held_bytes();
  const auto &status = molv::recording().status_lines;
  if (status.empty() || status.back() != "Ready !") {
    std::fprintf(stderr, "plug-in export failed\n");
    return false;
  }
  run->surface_vertices = count_surface_vertices(mo_get_world());
  return true;
}

// export_once in a child process, so that every run is a process's first
// export and this process stays small.
bool export_in_child(const std::string &model, const std::string &plugin_dir,
                     const std::string &target, PluginRun *run) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    PluginRun mine{};
    const bool ok = export_once(model, plugin_dir, target, &mine);
    if (ok && ::write(fds[1], &mine, sizeof mine) != static_cast<ssize_t>(sizeof mine)) _exit(1);
    std::fflush(nullptr);
    ::_exit(ok ? 0 : 1);
  }
  ::close(fds[1]);
  const ssize_t got = pid > 0 ? ::read(fds[0], run, sizeof *run) : -1;
  ::close(fds[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  return got == static_cast<ssize_t>(sizeof *run) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One run of a whole program: wall time, peak resident size and exit
// status of the child.
struct ProgramRun {
  double wall;
  double peak_mib;
  int status;
};

ProgramRun run_program(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  return {seconds_since(start), static_cast<double>(usage.ru_maxrss) / 1024.0,
          WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The median of VALUES (sorted in place).
double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// PAIRS runs of `molv export` and `assimp export` of MODEL in turn, each
// writing a new file: the median of each and of their ratio pair by pair
// (a shared machine's speed drifts between pairs less than within one).
// For a tiny model, where each run is a few tens of milliseconds.
int compare_pairs(const std::string &model, const std::string &work, const std::string &molv_binary,
                  const std::string &plugin_dir, int pairs) {
  std::vector<double> molv_s, assimp_s, ratios;
  int worst = 0;
  for (int pair = 0; pair < pairs; ++pair) {
    for (const char *name : {"/tiny.x", "/tiny_assimp.x"}) ::unlink((work + name).c_str());
    const ProgramRun molv = run_program({molv_binary, "export", model, "-o", work + "/tiny",
                                         "--plugin-dir", plugin_dir, "--options", kDefaults,
                                         "--quiet"});
    const ProgramRun assimp = run_program({"assimp", "export", model, work + "/tiny_assimp.x"});
    worst = std::max({worst, molv.status, assimp.status});
    molv_s.push_back(molv.wall);
    assimp_s.push_back(assimp.wall);
    ratios.push_back(molv.wall / assimp.wall);
  }
  std::printf("tiny_molv_wall_s %.4f\ntiny_assimp_wall_s %.4f\ntiny_ratio %.3f\ntiny_status %d\n",
              median_of(molv_s), median_of(assimp_s), median_of(ratios), worst);
  for (const char *name : {"/tiny.x", "/tiny_assimp.x"}) ::unlink((work + name).c_str());
  return worst == 0 ? 0 : 1;
}

// The median run of several (by wall time), printed under LABEL; the
// status is the worst of them.
void print_median(const char *label, std::vector<ProgramRun> runs) {
  int worst = 0;
  for (const ProgramRun &r : runs) worst = r.status != 0 ? r.status : worst;
  std::sort(runs.begin(), runs.end(),
            [](const ProgramRun &a, const ProgramRun &b) { return a.wall < b.wall; });
  const ProgramRun &median = runs[runs.size() / 2];
  std::printf("%s_wall_s %.3f\n%s_peak_mib %.1f\n%s_status %d\n", label, median.wall, label,
              median.peak_mib, label, worst);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 7 && std::strcmp(argv[1], "--pairs") == 0)
    return compare_pairs(argv[3], argv[4], argv[5], argv[6], std::atoi(argv[2]));
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: compare_tool MODEL WORKDIR MOLV PLUGIN_DIR\n"
                 "       compare_tool --pairs N MODEL WORKDIR MOLV PLUGIN_DIR\n");
    return 2;
  }
  const std::string model = argv[1], work = argv[2], molv_binary = argv[3], plugin_dir = argv[4];
  // The plug-in's export runs in this process as in molv: with molv's
  // setting of the allocator.
  molv::keep_freed_memory();

  // Every file of this row is written anew: replacing the larger file of
  // the previous row would add the freeing of its pages to one side only.
  // (The plug-in's and the floor's files go before each of their runs.)
  for (const char *name : {"/assimp.x", "/process.x", "/process_assimp.x"}) {
    ::unlink((work + name).c_str());
  }

  // Both as whole programs, first: a child's peak counts the pages it
  // shares with this process when forked, so this one must still be small.
  // Three runs each, in turn, each writing a new file from a clean page
  // cache; the median is reported (a single run of a shared machine moves
  // by 10-20%, and the ratio of the two by more).
  std::vector<ProgramRun> molv_runs, assimp_runs;
  std::vector<double> speedups;
  for (int run = 0; run < 3; ++run) {
    for (const char *name : {"/process.x", "/process_assimp.x"}) ::unlink((work + name).c_str());
    ::sync();
    molv_runs.push_back(run_program({molv_binary, "export", model, "-o", work + "/process",
                                     "--plugin-dir", plugin_dir, "--options", kDefaults,
                                     "--quiet"}));
    ::sync();
    assimp_runs.push_back(run_program({"assimp", "export", model, work + "/process_assimp.x"}));
    speedups.push_back(assimp_runs.back().wall / molv_runs.back().wall);
  }
  print_median("molv", molv_runs);
  print_median("assimp", assimp_runs);
  std::printf("process_speedup_pairs %.2f\n", median_of(speedups));
  // Their gigabytes of written pages go to the disk now, not while the
  // in-process exports and the floor are timed.
  ::unlink((work + "/process_assimp.x").c_str());
  ::sync();

  // The plug-in, in-process, on the loaded model: three runs, each the
  // first export of a process that has just loaded the model (as a user
  // exports), each writing a new file from a clean page cache.  The median
  // run is reported; a single run of a shared machine moves by 10-20%.
  const std::string target = work + "/plugin";
  std::vector<PluginRun> runs;
  for (int run = 0; run < 3; ++run) {
    ::unlink((target + ".x").c_str());
    ::sync();
    PluginRun r{};
    if (!export_in_child(model, plugin_dir, target, &r)) return 1;
    runs.push_back(r);
  }
  std::vector<PluginRun> sorted = runs;
  std::sort(sorted.begin(), sorted.end(),
            [](const PluginRun &a, const PluginRun &b) { return a.seconds < b.seconds; });
  const PluginRun &median = sorted[1];
  const auto per_vertex = [&](double bytes) {
    return bytes / static_cast<double>(median.surface_vertices);
  };
  std::printf("surface_vertices %ld\n", median.surface_vertices);
  std::printf("plugin_export_s %.3f\n", median.seconds);
  std::printf("molv_load_s %.3f\n", median.load_seconds);
  // What the load of that run spent in Assimp's reader (no post-processing).
  std::printf("assimp_read_s %.3f\n", median.read_seconds);
  std::printf("molv_load_peak_mib %.1f\n", static_cast<double>(median.load_peak_kib) / 1024.0);
  std::printf("plugin_export_runs_s %.3f,%.3f,%.3f\n", runs[0].seconds, runs[1].seconds,
              runs[2].seconds);
  std::printf("plugin_peak_above_kib %ld\n", median.peak_above_kib);
  std::printf("plugin_bytes_per_surface_vertex %.1f\n",
              per_vertex(static_cast<double>(median.peak_above_kib) * 1024.0));
  // What the export held at its peak, whether or not the pages were the
  // process's already: the plug-in's tables and the host's copies.
  std::printf("plugin_held_bytes_per_surface_vertex %.1f\n",
              per_vertex(static_cast<double>(median.held_bytes)));

  std::string text = read_all(target + ".x");
  std::printf("plugin_file_mib %.1f\n", static_cast<double>(text.size()) / (1 << 20));
  Numbers numbers = numbers_of(text);
  text.clear();
  text.shrink_to_fit();
  std::printf("numbers %zu\n", numbers.is_float.size());
  // The floor is the least time the loop needs: the best of three runs,
  // each from a clean page cache as the export had.
  double floor_s = 0.0;
  for (int run = 0; run < 3; ++run) {
    ::unlink((work + "/floor.txt").c_str());
    ::sync();
    const double s = formatting_floor(numbers, work + "/floor.txt");
    if (run == 0 || s < floor_s) floor_s = s;
  }
  std::printf("floor_s %.3f\n", floor_s);

  // Assimp's reader alone, then its exporter, in-process, on the same model.
  {
    Assimp::Importer importer;
    const auto read_start = Clock::now();
    const aiScene *scene = importer.ReadFile(model, 0);
    std::printf("assimp_reader_s %.3f\n", seconds_since(read_start));
    if (scene == nullptr) {
      std::fprintf(stderr, "assimp: %s\n", importer.GetErrorString());
      return 1;
    }
    Assimp::Exporter exporter;
    const auto start = Clock::now();
    aiReturn rc = exporter.Export(scene, "x", work + "/assimp.x");
    double assimp_s = seconds_since(start);
    std::printf("assimp_export_s %.3f\nassimp_export_ok %d\n", assimp_s, rc == aiReturn_SUCCESS);
  }

  return 0;
}
