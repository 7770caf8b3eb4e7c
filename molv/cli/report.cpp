/*
 * The run's report.
 */
#include "cli/report.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/run_output.h"
#include "files/write_all.h"

namespace molv {
namespace cli {
namespace {

// Shared with the --jobs workers (an anonymous shared mapping made before
// they start).
struct Totals {
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
};

int g_fd = -1;  // standard output for --report -; a file's lines go to g_file
RunOutput g_file;
Totals *g_totals = nullptr;
std::chrono::steady_clock::time_point g_start;

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

std::string warning_code(const std::string &text) {
  if (contains(text, "holds no lights")) return "lights-left-out";
  if (contains(text, "holds no cameras")) return "cameras-left-out";
  if (contains(text, "polygons only")) return "lines-left-out";
  if (contains(text, "without faces left out")) return "empty-meshes-left-out";
  if (contains(text, "embedded in the model")) return "embedded-texture";
  if (contains(text, "nothing below")) return "empty-nodes-left-out";
  if (contains(text, "holds no mesh")) return "no-mesh";
  if (contains(text, "DirectX runtime")) return "runtime-refuses";
  if (contains(text, "differ in letter case")) return "texture-letter-case";
  if (contains(text, "not beside it:")) return "texture-missing";
  if (contains(text, "bones and skin weights")) return "skin-left-out";
  if (contains(text, "without animation")) return "animations-left-out";
  if (contains(text, "vertex colours")) return "vertex-colours-left-out";
  if (contains(text, "coordinate sets after the first")) return "texture-sets-left-out";
  if (contains(text, "texture coordinates of")) return "texture-coords-left-out";
  if (contains(text, "texture without a name")) return "texture-empty-name";
  if (contains(text, "placeholder of the model's reader")) return "texture-placeholder";
  if (contains(text, "no two frames share a name")) return "frames-renamed";
  if (contains(text, "texture")) return "texture";
  return "other";
}

std::string report_json(const ModelReport &model) {
  nlohmann::ordered_json line;
  line["input"] = model.input.empty() ? "sample" : model.input;
  line["output"] = model.output;
  line["status"] = model.status;
  line["exit"] = model.exit_status;
  if (!model.reason.empty()) line["reason"] = model.reason;
  if (model.counted) {
    line["meshes"] = model.counts.meshes;
    line["vertices"] = model.counts.vertices;
    line["faces"] = model.counts.faces;
    line["bytes"] = model.counts.bytes;
  }
  line["seconds"] = static_cast<double>(static_cast<long>(model.seconds * 1000.0)) / 1000.0;
  line["options"] = model.options;
  line["warnings"] = nlohmann::ordered_json::array();
  for (const ReportWarning &warning : model.warnings)
    line["warnings"].push_back({{"code", warning.code}, {"text", warning.text}});
  line["textures"] = nlohmann::ordered_json::array();
  for (const ReportTexture &texture : model.textures)
    line["textures"].push_back({{"name", texture.name},
                                {"found", texture.found},
                                {"embedded", texture.embedded},
                                {"extracted", texture.extracted},
                                {"copied", texture.copied}});
  // Names are bytes: one that is no UTF-8 is kept readable, not refused.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool open_report(const Args &args, std::string *error) {
  g_start = std::chrono::steady_clock::now();
  void *memory = mmap(nullptr, sizeof(Totals), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) g_totals = new (memory) Totals();
  if (args.report.empty()) return true;
  if (args.report == "-") {
    g_fd = 1;
    return true;
  }
  return g_file.open(args.report, "report", error);
}

bool report_wanted() { return g_fd >= 0 || g_file.is_open(); }

void report_model(const ModelReport &model) {
  if (g_totals != nullptr) (model.exit_status == 0 ? g_totals->done : g_totals->failed)++;
  report_line(report_json(model));
}

void report_line(const std::string &json) {
  const std::string line = json + "\n";
  if (g_file.is_open()) {
    // A file that stops taking bytes (a full disk) is said at the end;
    // the exports go on.
    g_file.write(line);
  } else if (g_fd >= 0) {
    std::fflush(stdout);
    (void)write_all(g_fd, line.data(), line.size());
  }
}

void report_total(const Args &args, size_t count) {
  if (args.quiet || count < 2 || g_totals == nullptr) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
  std::fprintf(stderr, "molv: %zu models: %ld done, %ld failed in %.2f s\n", count,
               g_totals->done.load(), g_totals->failed.load(), seconds);
}

bool *report_taken() { return g_file.taken(); }

bool close_report(bool keep, std::string *error) {
  const bool written = g_file.finish(keep, error);
  g_fd = -1;
  if (g_totals != nullptr) munmap(g_totals, sizeof(Totals));
  g_totals = nullptr;
  return written;
}

}  // namespace cli
}  // namespace molv
