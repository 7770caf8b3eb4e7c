/*
 * One row of the speed comparison: a model file exported by the plug-in and
 * by Assimp's own .x exporter, each in-process with the model already
 * loaded, and the formatting floor: the time a tight loop needs to turn
 * every number of the plug-in's file into text with std::to_chars and write
 * it.  Also runs both as whole programs (molv export, assimp export) for
 * their wall time and peak memory.
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

#include "host.h"

namespace {

const char kDefaults[] = "00001111000010100101001111101100000000000000000006";

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

// A whole program: wall time and peak resident size of the child.
void run_program(const char *label, const std::vector<std::string> &argv) {
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
  double wall = seconds_since(start);
  std::printf("%s_wall_s %.3f\n%s_peak_mib %.1f\n%s_status %d\n", label, wall, label,
              static_cast<double>(usage.ru_maxrss) / 1024.0, label,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: compare_tool MODEL WORKDIR MOLV PLUGIN_DIR\n");
    return 2;
  }
  const std::string model = argv[1], work = argv[2], molv_binary = argv[3], plugin_dir = argv[4];

  // Both as whole programs, first: a child's peak counts the pages it
  // shares with this process when forked, so this one must still be small.
  run_program("molv", {molv_binary, "export", model, "-o", work + "/process", "--plugin-dir",
                       plugin_dir, "--options", kDefaults, "--quiet"});
  run_program("assimp", {"assimp", "export", model, work + "/process_assimp.x"});

  // The plug-in, in-process, on the loaded model.
  std::string error;
  if (!molv::load_model_file(model, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  molv::tcl_start(false);
  if (molv::plugin_load(plugin_dir, &error) != 0) {
    std::fprintf(stderr, "plug-in: %s\n", error.c_str());
    return 1;
  }
  molv::install_headless_dialog();
  const std::string target = work + "/plugin";
  long rss_before = status_kib("VmRSS:");
  reset_peak();
  molv::reset_peak_held_bytes();
  auto start = Clock::now();
  std::string result;
  molv::tcl_eval("molv qel_save export " + target + " " + kDefaults, &result);
  double plugin_s = seconds_since(start);
  long peak = status_kib("VmHWM:");
  const size_t held = molv::peak_held_bytes();
  const auto &status = molv::recording().status_lines;
  if (status.empty() || status.back() != "Ready !") {
    std::fprintf(stderr, "plug-in export failed\n");
    return 1;
  }
  long surface_vertices = count_surface_vertices(mo_get_world());
  std::printf("surface_vertices %ld\n", surface_vertices);
  std::printf("plugin_export_s %.3f\n", plugin_s);
  std::printf("plugin_peak_above_kib %ld\n", peak - rss_before);
  std::printf("plugin_bytes_per_surface_vertex %.1f\n",
              static_cast<double>(peak - rss_before) * 1024.0 / static_cast<double>(surface_vertices));
  // What the export held at its peak, whether or not the pages were the
  // process's already: the plug-in's tables and the host's copies.
  std::printf("plugin_held_bytes_per_surface_vertex %.1f\n",
              static_cast<double>(held) / static_cast<double>(surface_vertices));

  std::string text = read_all(target + ".x");
  std::printf("plugin_file_mib %.1f\n", static_cast<double>(text.size()) / (1 << 20));
  Numbers numbers = numbers_of(text);
  text.clear();
  text.shrink_to_fit();
  std::printf("numbers %zu\n", numbers.is_float.size());
  double floor_s = formatting_floor(numbers, work + "/floor.txt");
  std::printf("floor_s %.3f\n", floor_s);

  // Assimp's exporter, in-process, on the same model.
  {
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(model, 0);
    if (scene == nullptr) {
      std::fprintf(stderr, "assimp: %s\n", importer.GetErrorString());
      return 1;
    }
    Assimp::Exporter exporter;
    start = Clock::now();
    aiReturn rc = exporter.Export(scene, "x", work + "/assimp.x");
    double assimp_s = seconds_since(start);
    std::printf("assimp_export_s %.3f\nassimp_export_ok %d\n", assimp_s, rc == aiReturn_SUCCESS);
  }

  return 0;
}
