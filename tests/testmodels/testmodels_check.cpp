/*
 * Every model of Debian's assimp-testmodels that Assimp reads goes through
 * `molv export --defaults`, and the .x file it writes is read back with
 * Assimp's .x reader and compared with the model in world space, face by
 * face (roundtrip.h: positions, winding, normals, texture coordinates,
 * materials and texture names).  A model without polygon faces may be
 * refused (one line, exit status 2, nothing written) or exported without
 * any.  Each model that differs is listed with what differs; a difference
 * that is the model's own or Assimp's, not the export's, is in kKnown with
 * its evidence and counted apart.
 *
 *   testmodels_check --molv MOLV --plugin-dir DIR [--shard K/N] [--sample]
 *                    [--table] [MODELS_DIR]
 *
 * --shard K/N takes every N-th file from the K-th on (counted from 1), so
 * that ctest can run the set in N processes side by side; --sample takes
 * the fixed list kSample instead of every file (each of which must be
 * read); --table ends with the counts as a Markdown table.  Each model is
 * read, exported, read back and compared in a child process of its own
 * (child.h), so that a model Assimp cannot read without end, or a crash,
 * is the end of that file only.
 */
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child.h"
#include "roundtrip.h"
#include "world_faces.h"

namespace fs = std::filesystem;
using namespace testmodels;

namespace {

constexpr unsigned kReadSeconds = 120;

// The sample the sanitizer build runs: one or a few models of each kind,
// the ones with empty parts, lights, cameras, lines, instances, embedded
// textures and deep trees among them.
const char *const kSample[] = {
    "3DS/cube_with_diffuse_texture.3DS",
    "3DS/test1.3ds",
    "3MF/box.3mf",
    "AC/SphereWithLight.ac",
    "AC/nosurfaces.ac",
    "AMF/test1.amf",
    "ASE/ThreeCubesGreen.ASE",
    "B3D/WusonBlitz.b3d",
    "BLEND/BlenderDefault_276.blend",
    "BVH/01_01.bvh",
    "COB/molecule.cob",
    "Collada/duck.dae",
    "Collada/lights.dae",
    "DXF/wuson.dxf",
    "FBX/box.fbx",
    "IRR/instancing.irr",
    "MD5/SimpleCube.md5mesh",
    "MDL/MDL (HL1)/man.mdl",
    "LWO/LWO2/hierarchy_smoothed.lwo",
    "MD2/faerie.md2",
    "MS3D/jeep1.ms3d",
    "NFF/NFF/cylinder.nff",
    "OBJ/point_cloud.obj",
    "OBJ/spider.obj",
    "OFF/Cube.off",
    "Ogre/TheThing/Mesh.mesh.xml",
    "OpenGEX/collada.ogex",
    "PLY/cube_uv.ply",
    "PLY/points.ply",
    "Q3D/earth.q3o",
    "SIB/heffalump.sib",
    "SMD/triangle.smd",
    "STL/Spider_ascii.stl",
    "STL/triangle_with_empty_solid.stl",
    "X/test_cube_text.x",
    "X3D/ComputerKeyboard.x3d",
    "XGL/Wuson.zgl",
    "glTF/BoxTextured-glTF/BoxTextured.gltf",
    "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb",
    "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
    "glTF2/TestNoRootNode/SceneWithoutNodes.gltf",
};

// Differences that are the model's own or Assimp's, not the export's: the
// model and the kind of difference (the text before ':' of its line), each
// with its evidence.  The reader's habits that touch every file are undone
// in roundtrip.h.
struct Known {
  const char *model;
  const char *kind;
};
const std::vector<Known> kKnown = {
    // Polygons that are not planar, of flat surfaces (no smoothing angle,
    // so Assimp calls the material flat) in files that hold no normals.
    // Assimp's LightWave reader makes each polygon's one normal as the
    // format defines it, "the cross product of the first and last edges"
    // (LWOImporter::ComputeNormals), the normal at the polygon's first
    // corner; molv's host gives a flat surface Newell's normal, the normal
    // of the polygon's area.  On a planar convex polygon the two agree; a
    // polygon not in one plane has no one normal, and these do not:
    // - nonplanar_polygon.lwo: one polygon of 18 corners in two planes at
    //   right angles (y = 0 and z = 0 before the pivot); 26 degrees apart.
    // - concave_self_intersecting.lwo: one polygon of 14 corners that
    //   crosses itself, whose first corner turns the other way from the
    //   larger part of its area; 180 degrees apart.
    // - CrazyEngine.lxo: 96 twisted quads (a corner 0.46 of the longest
    //   side off Newell's plane), 384 corners, up to 169 degrees apart;
    //   every other face of the model comes back within a degree.
    {"LWO/LWO2/nonplanar_polygon.lwo", "normals"},
    {"LWO/LWO2/concave_self_intersecting.lwo", "normals"},
    {"LWO/LXOB_Modo/CrazyEngine.lxo", "normals"},
};

bool is_known(const std::string &model, const std::string &difference) {
  const std::string kind = difference.substr(0, difference.find(':'));
  for (const Known &known : kKnown) {
    if (model == known.model && kind == known.kind) return true;
  }
  return false;
}

// What became of a model.
enum Verdict {
  kNoReader,
  kReaderFails,
  kNoFaces,
  kEqual,
  kKnownOnly,
  kDiffers,
  kFailed,
  kVerdicts
};
const char *const kVerdictNames[] = {"no-reader", "reader-fails", "no-faces", "equal",
                                     "known",     "differs",      "failed"};

struct Outcome {
  Verdict verdict;
  std::string text;
};

struct Job {
  std::string molv, plugin_dir, dir;
  std::string path, name;  // the model's, and as listed (relative to the set)
};

// The model has a face whose corners are all finite: one the export owes.
bool has_faces(const WorldFaces &model) {
  for (const WorldFaces::Face &face : model.faces) {
    bool finite = true;
    for (uint32_t k = 0; k < face.corners; ++k) {
      const aiVector3D &p = model.position[face.first + k];
      finite = finite && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    }
    if (finite) return true;
  }
  return false;
}

Outcome compared(const Job &job, const WorldFaces &model, const WorldFaces &back) {
  const Comparison comparison = compare(model, back);
  if (comparison.differences.empty()) return {kEqual, {}};
  std::string text;
  bool known = true;
  for (const std::string &difference : comparison.differences) {
    text += (text.empty() ? "" : "; ") + difference;
    known = known && is_known(job.name, difference);
  }
  if (comparison.non_finite > 0) {
    text += " (" + std::to_string(comparison.non_finite) + " faces with a non-finite corner)";
  }
  return {known ? kKnownOnly : kDiffers, text};
}

// Child side, the model read: export it, read the .x back, compare.
Outcome export_and_compare(const Job &job, const WorldFaces &model) {
  const std::string out = job.dir + "/model";
  const std::string x_file = out + ".x";
  std::error_code ignored;
  fs::remove(x_file, ignored);
  alarm(0);  // molv has a limit of its own
  const MolvRun run = run_molv(job.molv, job.plugin_dir, job.path, out, job.dir + "/stderr");
  alarm(kReadSeconds);
  const bool faces = has_faces(model);
  const bool complete = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
  const bool refused = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2;
  if (!complete && !(refused && !faces)) {
    return {kFailed, "molv " + termination(run.status) + (run.err.empty() ? "" : ": " + run.err)};
  }
  if (refused) {
    if (run.err.find('\n') != std::string::npos ||
        run.err.rfind("molv: " + job.path + ": ", 0) != 0) {
      return {kFailed, "refused without one line naming the file: " + run.err};
    }
    if (fs::exists(x_file)) return {kFailed, "refused, but wrote " + x_file};
    return {kNoFaces, "refused"};
  }
  if (!fs::exists(x_file)) return {kFailed, "molv ended with status 0 and wrote no file"};
  WorldFaces back;
  std::string error;
  // A file without a mesh is one the .x reader refuses.
  if (!read_world_faces(x_file, true, &back, &error)) {
    if (faces) return {kFailed, "the .x reader refused the export: " + error};
    return {kNoFaces, "exported without faces"};
  }
  if (!faces && back.faces.empty()) return {kNoFaces, "exported without faces"};
  return compared(job, model, back);
}

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// One model in a child process: "not read\nREASON", or "read\n" and, once
// it is compared, "VERDICT\tTEXT\n".
Outcome check_model(const Job &job) {
  const ChildRun run = run_child(kReadSeconds, [&job](const Send &send) {
    WorldFaces model;
    std::string error;
    if (!read_world_faces(job.path, false, &model, &error)) {
      send("not read\n" + one_line(error));
      return;
    }
    send("read\n");
    const Outcome outcome = export_and_compare(job, model);
    send(std::string(kVerdictNames[outcome.verdict]) + "\t" + one_line(outcome.text) + "\n");
  });
  if (run.reply.rfind("not read\n", 0) == 0) {
    const std::string reason = run.reply.substr(9);
    return {reason.rfind("No suitable reader", 0) == 0 ? kNoReader : kReaderFails, reason};
  }
  if (run.reply.rfind("read\n", 0) != 0) {
    return {kReaderFails, "the reading process " + termination(run.status)};
  }
  const std::string line = run.reply.substr(5);
  const size_t tab = line.find('\t');
  for (int v = 0; v < kVerdicts && tab != std::string::npos; ++v) {
    if (line.compare(0, tab, kVerdictNames[v]) == 0) {
      return {static_cast<Verdict>(v), line.substr(tab + 1, line.size() - tab - 2)};
    }
  }
  return {kFailed, "the checking process " + termination(run.status)};
}

struct Totals {
  int files = 0;
  int count[kVerdicts] = {};
  std::map<std::string, int> kinds;  // differing models by kind of difference
  std::vector<std::string> lines;    // one per model that differs or failed
};

void tally(const std::string &name, const Outcome &outcome, bool in_sample, Totals *totals) {
  ++totals->files;
  Verdict verdict = outcome.verdict;
  std::string text = outcome.text;
  if (in_sample && (verdict == kNoReader || verdict == kReaderFails)) {
    verdict = kFailed;
    text = "in the sample, but not read: " + text;
  }
  ++totals->count[verdict];
  if (verdict == kDiffers) {
    for (size_t at = 0; at < text.size();) {
      const size_t end = std::min(text.find("; ", at), text.size());
      const std::string difference = text.substr(at, end - at);
      if (!is_known(name, difference)) ++totals->kinds[difference.substr(0, difference.find(':'))];
      at = end + 2;
    }
  }
  if (verdict == kDiffers || verdict == kFailed || verdict == kKnownOnly) {
    const char *tag = verdict == kDiffers ? "DIFF" : verdict == kFailed ? "FAIL" : "KNOWN";
    totals->lines.push_back(std::string(tag) + " " + name + ": " + text);
    std::printf("%s\n", totals->lines.back().c_str());
  }
}

void print_summary(const Totals &t) {
  const int compared = t.count[kEqual] + t.count[kKnownOnly] + t.count[kDiffers];
  std::printf(
      "%d files: %d not read by Assimp (%d in a format it has no reader for, %d its "
      "reader fails on), %d without polygon faces; %d compared: %d equal, %d equal but for "
      "known differences of the model or the reader, %d differ; %d failed\n",
      t.files, t.count[kNoReader] + t.count[kReaderFails], t.count[kNoReader],
      t.count[kReaderFails], t.count[kNoFaces], compared, t.count[kEqual], t.count[kKnownOnly],
      t.count[kDiffers], t.count[kFailed]);
  for (const auto &[kind, models] : t.kinds)
    std::printf("  differ in %s: %d\n", kind.c_str(), models);
  for (const std::string &line : t.lines) std::printf("  %s\n", line.c_str());
}

void print_table(const Totals &t) {
  const int compared = t.count[kEqual] + t.count[kKnownOnly] + t.count[kDiffers];
  std::printf("\n| models | count |\n|---|---|\n");
  std::printf("| files in the set | %d |\n", t.files);
  std::printf("| left out: a format Assimp has no reader for | %d |\n", t.count[kNoReader]);
  std::printf("| left out: Assimp's reader fails on it | %d |\n", t.count[kReaderFails]);
  std::printf("| left out: no polygon faces (refused or exported empty) | %d |\n",
              t.count[kNoFaces]);
  std::printf("| checked: exported, read back and compared | %d |\n", compared);
  std::printf("| equal | %d |\n", t.count[kEqual]);
  std::printf("| equal but for the model's or the reader's own differences | %d |\n",
              t.count[kKnownOnly]);
  std::printf("| different | %d |\n", t.count[kDiffers]);
  for (const auto &[kind, models] : t.kinds)
    std::printf("| different in %s | %d |\n", kind.c_str(), models);
  std::printf("| failed (molv or the reader of the export) | %d |\n", t.count[kFailed]);
}

int usage() {
  std::fprintf(stderr,
               "usage: testmodels_check --molv MOLV --plugin-dir DIR [--shard K/N] [--sample] "
               "[--table] [MODELS_DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::string molv, plugin_dir, models = "/usr/share/assimp/models";
  int shard = 1, shards = 1;
  bool sample = false, table = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--molv" && i + 1 < argc) {
      molv = argv[++i];
    } else if (arg == "--plugin-dir" && i + 1 < argc) {
      plugin_dir = argv[++i];
    } else if (arg == "--shard" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d/%d", &shard, &shards) != 2 || shard < 1 || shard > shards) {
        return usage();
      }
    } else if (arg == "--sample") {
      sample = true;
    } else if (arg == "--table") {
      table = true;
    } else if (arg[0] != '-') {
      models = arg;
    } else {
      return usage();
    }
  }
  if (molv.empty() || plugin_dir.empty()) return usage();
  if (!fs::is_directory(models)) {
    std::fprintf(stderr, "%s: no such folder (install assimp-testmodels)\n", models.c_str());
    return 1;
  }

  std::vector<std::string> files;
  if (sample) {
    for (const char *name : kSample) files.push_back(name);
  } else {
    for (const auto &entry : fs::recursive_directory_iterator(models)) {
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), models).string());
    }
  }
  std::sort(files.begin(), files.end());

  TempDir dir;
  if (dir.path().empty()) {
    std::perror("mkdtemp");
    return 1;
  }
  Totals totals;
  for (size_t i = static_cast<size_t>(shard - 1); i < files.size();
       i += static_cast<size_t>(shards)) {
    const Job job{molv, plugin_dir, dir.path(), models + "/" + files[i], files[i]};
    tally(files[i], fs::exists(job.path) ? check_model(job) : Outcome{kFailed, "no such file"},
          sample, &totals);
  }
  print_summary(totals);
  if (table) print_table(totals);
  return totals.count[kDiffers] + totals.count[kFailed] == 0 ? 0 : 1;
}
