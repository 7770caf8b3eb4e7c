/*
 * molv info.
 */
#include "cli/info.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "api/model.h"
#include "cli/console.h"
#include "cli/report.h"
#include "common/plugin_options.h"
#include "common/run_files.h"
#include "common/texture_check.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

using Json = nlohmann::ordered_json;

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
  return holds;
}

// What the host's model, and so the .x, holds.
Json x_holds(const Load &load) {
  std::uint64_t objects = 0, meshes = 0, vertices = 0, faces = 0, lines = 0;
  const Model &current = *load.model;
  for (const auto &object : current.objects) {
    if (object->in_subdivision || object->type == MO_OBJ_WORLD) continue;
    ++objects;
    if (object->type != MO_OBJ_POLYGON) continue;
    ++meshes;
    vertices += object->vertex_store.size();
    for (const Surface &surface : object->surface_store)
      (surface.type == MO_SURF_POLYGON ? faces : lines)++;
  }
  Json holds;
  holds["objects"] = objects;
  holds["meshes"] = meshes;
  holds["vertices"] = vertices;
  holds["faces"] = faces;
  holds["line_surfaces"] = lines;
  holds["materials"] = current.palette.size();
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

void print_text(const std::string &file, const Json &info) {
  std::printf("%s\n", file.c_str());
  const Json &model_part = info["model"];
  if (!model_part.empty())
    std::printf("  the model: %s\n",
                counts_text(model_part,
                            {{"nodes", "node", "nodes"},
                             {"meshes", "mesh", "meshes"},
                             {"vertices", "vertex", "vertices"},
                             {"faces", "face", "faces"},
                             {"lines", "line", "lines"},
                             {"points", "point", "points"},
                             {"materials", "material", "materials"},
                             {"embedded_textures", "embedded texture", "embedded textures"},
                             {"lights", "light", "lights"},
                             {"cameras", "camera", "cameras"},
                             {"animations", "animation", "animations"}})
                    .c_str());
  const Json &x = info["x"];
  std::printf("  for the .x: %s\n",
              counts_text(x, {{"objects", "object", "objects"},
                              {"meshes", "mesh", "meshes"},
                              {"vertices", "vertex", "vertices"},
                              {"faces", "face", "faces"},
                              {"materials", "material", "materials"}})
                  .c_str());
  for (const Json &texture : x["textures"])
    std::printf("  texture %s: %s\n", texture["name"].get<std::string>().c_str(),
                texture["embedded"].get<bool>() ? "embedded in the model"
                : texture["found"].get<bool>()  ? "found"
                                                : "not found");
  for (const Json &warning : info["warnings"])
    std::printf("  warning: %s\n", warning["text"].get<std::string>().c_str());
}

}  // namespace

int run_info(const Args &args) {
  if (args.scenes.empty()) {
    error_line(std::string("molv info needs a MODEL") + kHelpHint);
    return 2;
  }
  // The report never writes over what is read: the models, then what
  // each load opened and names.
  RunFiles files;
  std::string error;
  for (const std::string &file : args.scenes) files.reads(file, "the model " + file);
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
  for (const std::string &file : args.scenes) {
    LoadWatch watch;
    watch.limits = args.limits;
    const Load load = load_file(file, watch);
    if (!load.loaded) {
      error_line(load.error);
      worst = 2;
      continue;
    }
    if (!plan_model_reads(load, &files, nullptr, &error)) {
      error_line(error);
      worst = 2;
      clash = true;
      continue;
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
    if (args.report.empty())
      print_text(file, info);
    else
      report_line(info.dump(-1, ' ', false, Json::error_handler_t::replace));
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
