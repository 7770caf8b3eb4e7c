/*
 * molv info.
 */
#include "cli/info.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "api/model.h"
#include "cli/console.h"
#include "cli/report.h"
#include "cli/scan.h"
#include "common/plugin_options.h"
#include "common/run_files.h"
#include "common/texture_check.h"
#include "files/write_all.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

using Json = nlohmann::ordered_json;

// {"min": [x, y, z], "max": [x, y, z]}, or null for no vertex.
Json box_json(const Box &box) {
  if (box.empty) return nullptr;
  return {{"min", {box.low[0], box.low[1], box.low[2]}},
          {"max", {box.high[0], box.high[1], box.high[2]}}};
}

// What the model's reader found in the file itself (counted in the load).
Json file_holds(const SceneCounts &counts) {
  Json holds = Json::object();
  holds["nodes"] = counts.nodes;
  holds["meshes"] = counts.meshes;
  holds["vertices"] = counts.vertices;
  holds["faces"] = counts.faces;
  holds["lines"] = counts.lines;
  holds["points"] = counts.points;
  holds["materials"] = counts.materials;
  holds["embedded_textures"] = counts.embedded_textures;
  holds["lights"] = counts.lights;
  holds["cameras"] = counts.cameras;
  holds["animations"] = counts.animations;
  holds["triangles"] = counts.triangles;
  holds["polygons"] = counts.faces - counts.triangles;
  holds["bones"] = counts.bones;
  holds["vertex_colour_meshes"] = counts.colour_meshes;
  holds["bounding_box"] = box_json(counts.box);
  return holds;
}

// What the host's model, and so the .x, holds: of the file's bones,
// animations and colours per vertex nothing.
Json x_holds(const Load &load) {
  std::uint64_t objects = 0, meshes = 0, vertices = 0, faces = 0, triangles = 0, lines = 0;
  Box box;
  const Model &current = *load.model;
  for (const auto &object : current.objects) {
    if (object->in_subdivision || object->type == MO_OBJ_WORLD) continue;
    ++objects;
    if (object->type != MO_OBJ_POLYGON) continue;
    ++meshes;
    vertices += object->vertex_store.size();
    for (const auto &vertex : object->vertex_store) {
      const float point[3] = {vertex.pos.x, vertex.pos.y, vertex.pos.z};
      box.add(point);
    }
    for (const Surface &surface : object->surface_store) {
      (surface.type == MO_SURF_POLYGON ? faces : lines)++;
      triangles += surface.type == MO_SURF_POLYGON && surface.rec.vertex_count == 3;
    }
  }
  Json holds;
  holds["objects"] = objects;
  holds["meshes"] = meshes;
  holds["vertices"] = vertices;
  holds["faces"] = faces;
  holds["triangles"] = triangles;
  holds["polygons"] = faces - triangles;
  holds["line_surfaces"] = lines;
  holds["materials"] = current.palette.size();
  holds["bones"] = 0;
  holds["animations"] = 0;
  holds["vertex_colour_meshes"] = 0;
  holds["bounding_box"] = box_json(box);
  holds["textures"] = Json::array();
  for (const NamedTexture &texture : load.textures)
    holds["textures"].push_back({{"name", texture.name},
                                 {"found", !texture.file.empty()},
                                 {"embedded", texture.embedded}});
  return holds;
}

// "N things" for each of NAMES (key, one, many) that HOLDS has.
struct CountName {
  const char *key, *one, *many;
};
std::string counts_text(const Json &holds, const std::vector<CountName> &names) {
  std::string text;
  for (const CountName &name : names) {
    if (!holds.contains(name.key)) continue;
    const std::uint64_t n = holds[name.key].get<std::uint64_t>();
    if (!text.empty()) text += ", ";
    text += std::to_string(n) + " " + (n == 1 ? name.one : name.many);
  }
  return text;
}

std::string box_text(const Json &box) {
  if (box.is_null()) return "none (no vertex)";
  char text[160];
  std::snprintf(text, sizeof text, "%g %g %g to %g %g %g", box["min"][0].get<double>(),
                box["min"][1].get<double>(), box["min"][2].get<double>(),
                box["max"][0].get<double>(), box["max"][1].get<double>(),
                box["max"][2].get<double>());
  return text;
}

// The lines of what the model's meshes hold beside what its .x keeps.
std::string beside_text(const Json &model, const Json &x) {
  std::vector<CountName> kept = {{"triangles", "triangle", "triangles"},
                                 {"polygons", "polygon", "polygons"},
                                 {"bones", "bone", "bones"},
                                 {"vertex_colour_meshes", "mesh with vertex colours",
                                  "meshes with vertex colours"}};
  std::string text;
  if (!model.empty())
    text += "  in its meshes: " + counts_text(model, kept) + "; bounding box " +
            box_text(model["bounding_box"]) + "\n";
  kept.insert(kept.begin() + 3, {"animations", "animation", "animations"});
  return text + "  the .x keeps: " + counts_text(x, kept) + "; bounding box " +
         box_text(x["bounding_box"]) + "\n";
}

std::string info_text(const std::string &file, const Json &info) {
  std::string text = file + "\n";
  const Json &model_part = info["model"];
  if (!model_part.empty())
    text += "  the model: " +
            counts_text(model_part, {{"nodes", "node", "nodes"},
                                     {"meshes", "mesh", "meshes"},
                                     {"vertices", "vertex", "vertices"},
                                     {"faces", "face", "faces"},
                                     {"lines", "line", "lines"},
                                     {"points", "point", "points"},
                                     {"materials", "material", "materials"},
                                     {"embedded_textures", "embedded texture", "embedded textures"},
                                     {"lights", "light", "lights"},
                                     {"cameras", "camera", "cameras"},
                                     {"animations", "animation", "animations"}}) +
            "\n";
  const Json &x = info["x"];
  text += "  for the .x: " +
          counts_text(x, {{"objects", "object", "objects"},
                          {"meshes", "mesh", "meshes"},
                          {"vertices", "vertex", "vertices"},
                          {"faces", "face", "faces"},
                          {"materials", "material", "materials"}}) +
          "\n";
  text += beside_text(model_part, x);
  for (const Json &texture : x["textures"])
    text += "  texture " + texture["name"].get<std::string>() + ": " +
            (texture["embedded"].get<bool>() ? "embedded in the model"
             : texture["found"].get<bool>()  ? "found"
                                             : "not found") +
            "\n";
  for (const Json &warning : info["warnings"])
    text += "  warning: " + warning["text"].get<std::string>() + "\n";
  return text;
}

// One model's outcome, as a worker hands it on.
struct InfoRecord {
  int status = 0;
  bool clash = false;  // a file of the model is the report's
  std::string text;    // its lines, or its JSON line (with --report)
};

// Reads FILE and tells what it holds; its files are held against the
// report in *FILES.
InfoRecord model_info(const Args &args, const std::string &file, RunFiles *files) {
  InfoRecord record;
  LoadWatch watch;
  watch.limits = args.limits;
  const Load load = load_file(file, watch);
  std::string error;
  if (!load.loaded || !plan_model_reads(load, files, nullptr, &error)) {
    error_line(load.loaded ? error : load.error);
    record.status = 2;
    record.clash = load.loaded;
    return record;
  }
  Json info;
  info["input"] = file;
  info["model"] = load.source == Source::kModel ? file_holds(load.notes.file) : Json::object();
  info["x"] = x_holds(load);
  info["warnings"] = Json::array();
  // The options are the plug-in's defaults: molv info runs no plug-in.
  std::vector<std::string> warnings = load_warnings(load, false);
  for (const std::string &warning : texture_option_warnings(load.notes, default_option_string()))
    warnings.push_back(warning);
  for (const std::string &warning : warnings)
    info["warnings"].push_back({{"code", warning_code(warning)}, {"text", warning}});
  record.text = args.report.empty() ? info_text(file, info)
                                    : info.dump(-1, ' ', false, Json::error_handler_t::replace);
  return record;
}

// The record's text where it goes; its status into *WORST and *CLASH.
void show_record(const Args &args, const InfoRecord &record, int *worst, bool *clash) {
  *worst = std::max(*worst, record.status);
  *clash = *clash || record.clash;
  if (record.status != 0) return;
  if (args.report.empty())
    std::fputs(record.text.c_str(), stdout);
  else
    report_line(record.text);
}

bool write_record(int fd, const InfoRecord &record) {
  const std::uint64_t head[3] = {static_cast<std::uint64_t>(record.status), record.clash,
                                 record.text.size()};
  return write_all(fd, head, sizeof head) && write_all(fd, record.text.data(), record.text.size());
}

bool read_exactly(int fd, void *data, size_t size) {
  auto *at = static_cast<char *>(data);
  while (size > 0) {
    const ssize_t got = ::read(fd, at, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool read_record(int fd, InfoRecord *record) {
  std::uint64_t head[3];
  if (!read_exactly(fd, head, sizeof head) || head[2] > (std::uint64_t{1} << 32)) return false;
  record->status = static_cast<int>(head[0]);
  record->clash = head[1] != 0;
  record->text.resize(head[2]);
  return read_exactly(fd, &record->text[0], record->text.size());
}

// WORKERS processes, worker w reading the models w, w + WORKERS, ... and
// handing each record through a pipe of its own, so that the models are
// shown in their order while the next ones are read.
void info_side_by_side(const Args &args, const std::vector<std::string> &scenes, size_t workers,
                       RunFiles *files, int *worst, bool *clash) {
  std::vector<int> pipes;
  std::vector<pid_t> pids;
  std::fflush(nullptr);
  for (size_t w = 0; w < workers; ++w) {
    int ends[2];
    const pid_t pid = ::pipe2(ends, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (pid == 0) {
      (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::close(ends[0]);
      for (size_t i = w; i < scenes.size(); i += workers)
        if (!write_record(ends[1], model_info(args, scenes[i], files))) break;
      std::fflush(nullptr);
      _exit(0);
    }
    if (pid < 0) {
      error_line(std::string("--jobs: cannot start a worker: ") + std::strerror(errno));
      *worst = 1;
      break;
    }
    ::close(ends[1]);
    pipes.push_back(ends[0]);
    pids.push_back(pid);
  }
  for (size_t i = 0; !pipes.empty() && i < scenes.size(); ++i) {
    InfoRecord record;
    if (!read_record(pipes[i % pipes.size()], &record)) {
      error_line(scenes[i] + ": the process that read it ended first");
      record.status = 1;
    }
    show_record(args, record, worst, clash);
  }
  for (size_t w = 0; w < pids.size(); ++w) {
    ::close(pipes[w]);
    while (::waitpid(pids[w], nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace

int run_info(const Args &args) {
  std::vector<std::string> scenes = args.scenes, below;
  if (scenes.empty()) {
    error_line(std::string("molv info needs a MODEL") + kHelpHint);
    return 2;
  }
  if (const int status = expand_folders(args, &scenes, &below)) return status;
  // The report never writes over what is read: the models, then what
  // each load opened and names.
  RunFiles files;
  std::string error;
  for (const std::string &file : scenes) files.reads(file, "the model " + file);
  if (!args.report.empty() && args.report != "-" &&
      !files.writes(args.report, false, "the report " + args.report, &error, report_taken())) {
    error_line(error);
    return 2;
  }
  if (!open_report(args, &error)) {
    error_line(error);
    return 2;
  }
  int worst = 0;
  bool clash = false;
  const size_t workers = static_cast<size_t>(job_count(args, scenes.size()));
  if (workers > 1) {
    info_side_by_side(args, scenes, workers, &files, &worst, &clash);
  } else {
    for (const std::string &file : scenes)
      show_record(args, model_info(args, file, &files), &worst, &clash);
  }
  // A report that would write over a file of a model stays out.
  if (!close_report(!clash, &error)) {
    error_line(error);
    worst = std::max(worst, 1);
  }
  return worst;
}

}  // namespace cli
}  // namespace molv
