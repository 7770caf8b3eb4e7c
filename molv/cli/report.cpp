/*
 * The run's report.
 */
#include "cli/report.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/run_output.h"
#include "common/plugin_options.h"
#include "files/write_all.h"

namespace molv {
namespace cli {
namespace {

// Shared with the --jobs workers (an anonymous shared mapping made before
// they start).
struct Totals {
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  std::atomic<long> refused{0};
  std::atomic<long> cancelled{0};
  std::atomic<long> warnings{0};
};

int g_fd = -1;  // standard output for --report -; a file's lines go to g_file
RunOutput g_file;
Totals *g_totals = nullptr;
std::chrono::steady_clock::time_point g_start;

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

namespace {

// The codes of the warnings by a part of their text, first match wins.
const struct {
  const char *part;
  const char *code;
} kWarningCodes[] = {
    {"holds no lights", "lights-left-out"},
    {"holds no cameras", "cameras-left-out"},
    {"polygons only", "lines-left-out"},
    {"without faces left out", "empty-meshes-left-out"},
    {"embedded in the model", "embedded-texture"},
    {"nothing below", "empty-nodes-left-out"},
    {"holds no mesh", "no-mesh"},
    {"DirectX runtime", "runtime-refuses"},
    {"differ in letter case", "texture-letter-case"},
    {"not beside it:", "texture-missing"},
    {"bones and skin weights", "skin-left-out"},
    {"without animation", "animations-left-out"},
    {"vertex colours", "vertex-colours-left-out"},
    {"coordinate sets after the first", "texture-sets-left-out"},
    {"texture coordinates of", "texture-coords-left-out"},
    {"texture without a name", "texture-empty-name"},
    {"placeholder of the model's reader", "texture-placeholder"},
    {"no two frames share a name", "frames-renamed"},
    {"texture", "texture"},
};

}  // namespace

std::string warning_code(const std::string &text) {
  for (const auto &known : kWarningCodes)
    if (contains(text, known.part)) return known.code;
  return "other";
}

const std::vector<std::string> &warning_codes() {
  static const std::vector<std::string> codes = [] {
    std::vector<std::string> all;
    for (const auto &known : kWarningCodes) all.emplace_back(known.code);
    all.emplace_back("other");
    return all;
  }();
  return codes;
}

std::vector<std::string> failing_warnings(const Args &args,
                                          const std::vector<ReportWarning> &warnings) {
  std::vector<std::string> codes;
  for (const ReportWarning &warning : warnings) {
    const bool named =
        std::find(args.fail_on.begin(), args.fail_on.end(), warning.code) != args.fail_on.end();
    if ((args.strict || named) &&
        std::find(codes.begin(), codes.end(), warning.code) == codes.end())
      codes.push_back(warning.code);
  }
  return codes;
}
namespace {

// {"agrees": ..., "faces": ..., "differences": [...]}, or the reason the
// file could not be read back.
nlohmann::ordered_json verify_json(const Verification &verify) {
  nlohmann::ordered_json v;
  v["agrees"] = verify.agrees();
  if (!verify.read) {
    v["error"] = verify.error;
    return v;
  }
  v["faces"] = verify.model_faces;
  v["file_faces"] = verify.file_faces;
  v["differences"] = nlohmann::ordered_json::array();
  for (const VerifyDifference &d : verify.differences)
    v["differences"].push_back(
        {{"kind", d.kind}, {"expected", d.expected}, {"count", d.count}, {"text", d.text}});
  return v;
}

}  // namespace

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
  if (!model.options.empty()) {
    line["options_by_name"] = nlohmann::ordered_json::object();
    for (const PluginOption &option : plugin_options()) {
      if (option.index == kDecimalsIndex)
        line["options_by_name"][option.name] = model.options.size() > kDecimalsIndex
                                                   ? model.options[kDecimalsIndex] - '0'
                                                   : default_option_string()[kDecimalsIndex] - '0';
      else
        line["options_by_name"][option.name] = option_is_set(model.options, option.index);
    }
  }
  line["warnings"] = nlohmann::ordered_json::array();
  for (const ReportWarning &warning : model.warnings)
    line["warnings"].push_back({{"code", warning.code}, {"text", warning.text}});
  if (!model.failed_by.empty()) line["failed_by"] = model.failed_by;
  line["textures"] = nlohmann::ordered_json::array();
  for (const ReportTexture &texture : model.textures)
    line["textures"].push_back({{"name", texture.name},
                                {"found", texture.found},
                                {"embedded", texture.embedded},
                                {"extracted", texture.extracted},
                                {"copied", texture.copied}});
  if (model.verified) line["verify"] = verify_json(model.verify);
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
  if (g_totals != nullptr) {
    // A model that reached a reader's limit failed, as any other that was read.
    (model.status == "done"        ? g_totals->done
     : model.status == "refused"   ? g_totals->refused
     : model.status == "cancelled" ? g_totals->cancelled
                                   : g_totals->failed)++;
    g_totals->warnings += static_cast<long>(model.warnings.size());
  }
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
  if (g_totals == nullptr) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
  const Totals &t = *g_totals;
  // The report's last line, whatever was asked of the screen: a build reads
  // the run's outcome there, and a report without it is one of a run that
  // did not end (a signal, a crash).
  if (report_wanted()) {
    nlohmann::ordered_json total;
    total["models"] = count;
    total["done"] = t.done.load();
    total["failed"] = t.failed.load();
    total["refused"] = t.refused.load();
    total["cancelled"] = t.cancelled.load();
    total["warnings"] = t.warnings.load();
    total["seconds"] = static_cast<double>(static_cast<long>(seconds * 1000.0)) / 1000.0;
    report_line(nlohmann::ordered_json{{"total", total}}.dump());
  }
  if (args.quiet || count < 2) return;
  std::string line = "molv: " + std::to_string(count) + " models: " +
                     std::to_string(t.done.load()) + " done, " + std::to_string(t.failed.load()) +
                     " failed";
  for (const auto &part : {std::make_pair(t.refused.load(), " refused"),
                           std::make_pair(t.cancelled.load(), " cancelled"),
                           std::make_pair(t.warnings.load(), " warning")})
    if (part.first != 0)
      line += ", " + std::to_string(part.first) + part.second +
              (part.first > 1 && part.second == std::string(" warning") ? "s" : "");
  char time[32];
  std::snprintf(time, sizeof time, " in %.2f s\n", seconds);
  std::fputs((line + time).c_str(), stderr);
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
