/*
 * Every model of Debian's assimp-testmodels that Assimp reads goes through
 * `molv export`, and the .x file it writes is read back with Assimp's .x
 * reader: the polygon faces read back must be those Assimp reads from the
 * model, counted by size (faces of three corners, of four, ...), a mesh
 * counted once for every node that holds it, lines and points left out (a
 * .x mesh holds polygons only), and twice where its material is two-sided
 * (the default options write a two-sided face once for each side).  A model without polygon faces may be
 * refused (one line, exit status 2, nothing written) or exported without
 * any.  Every file that fails is listed with its reason.
 *
 *   testmodels_check --molv MOLV --plugin-dir DIR [--shard K/N] [--sample]
 *                    [MODELS_DIR]
 *
 * --shard K/N takes every N-th file from the K-th on (counted from 1), so
 * that ctest can run the set in N processes side by side; --sample takes
 * the fixed list kSample instead of every file.  Each read of a model and
 * each molv run happens in a child process of its own, under a time limit
 * and (but under the address sanitizer, which needs the address space) a
 * memory limit, so a model that makes Assimp allocate without end (there is
 * one on purpose) is a model Assimp does not read, and a crash or a hang of
 * molv is a failure of that file, not of the whole run.
 */
#include <assimp/material.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryLimit = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryLimit = false;
#else
constexpr bool kMemoryLimit = true;
#endif
#else
constexpr bool kMemoryLimit = true;
#endif

constexpr rlim_t kMemoryBytes = rlim_t{4} << 30;
constexpr unsigned kReadSeconds = 120;
constexpr unsigned kMolvSeconds = 300;

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

// Polygon faces by their number of corners, every node's meshes counted.
using FaceSizes = std::map<unsigned, long>;

long total(const FaceSizes &sizes) {
  long n = 0;
  for (const auto &size : sizes) n += size.second;
  return n;
}

std::string describe(const FaceSizes &sizes) {
  if (sizes.empty()) return "none";
  std::string text;
  for (const auto &size : sizes) {
    if (!text.empty()) text += ", ";
    text += std::to_string(size.second) + " of " + std::to_string(size.first);
  }
  return text;
}

// What Assimp reads from a file (no post-processing), walked with a stack;
// anything broken in the scene counts as not read.  With `sides`, a face
// of a two-sided material counts twice.
bool count_faces(const std::string &path, bool sides, FaceSizes *sizes, std::string *error) {
  Assimp::Importer importer;
  const aiScene *scene = importer.ReadFile(path, 0);
  if (scene == nullptr) {
    *error = importer.GetErrorString();
    return false;
  }
  if (scene->mRootNode == nullptr) {
    *error = "no scene";
    return false;
  }
  std::vector<const aiNode *> stack{scene->mRootNode};
  while (!stack.empty()) {
    const aiNode *node = stack.back();
    stack.pop_back();
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
      const unsigned index = node->mMeshes[i];
      if (index >= scene->mNumMeshes || scene->mMeshes[index] == nullptr) {
        *error = "a node names a mesh the scene lacks";
        return false;
      }
      const aiMesh &mesh = *scene->mMeshes[index];
      if (mesh.mNumVertices == 0) continue;
      int two_sided = 0;
      if (sides && mesh.mMaterialIndex < scene->mNumMaterials &&
          scene->mMaterials[mesh.mMaterialIndex] != nullptr) {
        scene->mMaterials[mesh.mMaterialIndex]->Get(AI_MATKEY_TWOSIDED, two_sided);
      }
      for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        if (mesh.mFaces[f].mNumIndices >= 3) {
          (*sizes)[mesh.mFaces[f].mNumIndices] += two_sided != 0 ? 2 : 1;
        }
      }
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) {
      if (node->mChildren[i] != nullptr) stack.push_back(node->mChildren[i]);
    }
  }
  return true;
}

void limit_child(unsigned seconds) {
  if (kMemoryLimit) {
    const rlimit memory{kMemoryBytes, kMemoryBytes};
    setrlimit(RLIMIT_AS, &memory);
  }
  alarm(seconds);
}

std::string termination(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGALRM) return "did not end in time";
    return std::string("killed by signal ") + std::to_string(signal) + " (" +
           strsignal(signal) + ")";
  }
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

// Reads a model in a child process under the limits: its face sizes, or
// false with the reason Assimp does not read it.
bool read_model(const std::string &path, FaceSizes *sizes, std::string *error) {
  int channel[2];
  if (pipe(channel) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    limit_child(kReadSeconds);
    FaceSizes found;
    std::string reason;
    std::string reply;
    if (count_faces(path, true, &found, &reason)) {
      reply = "read\n";
      for (const auto &size : found) {
        reply += std::to_string(size.first) + " " + std::to_string(size.second) + "\n";
      }
    } else {
      reply = "not read\n" + reason;
    }
    const char *data = reply.data();
    size_t left = reply.size();
    while (left > 0) {
      const ssize_t n = write(channel[1], data, left);
      if (n <= 0) _exit(1);
      data += n;
      left -= static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(channel[1]);
  std::string reply;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (reply.rfind("read\n", 0) == 0) {
    size_t at = 5;
    while (at < reply.size()) {
      const size_t end = reply.find('\n', at);
      unsigned corners = 0;
      long count = 0;
      if (std::sscanf(reply.c_str() + at, "%u %ld", &corners, &count) == 2) {
        (*sizes)[corners] = count;
      }
      at = end == std::string::npos ? reply.size() : end + 1;
    }
    return true;
  }
  if (reply.rfind("not read\n", 0) == 0) {
    *error = reply.substr(9);
  } else {
    *error = "the reading process " + termination(status);
  }
  return false;
}

struct MolvRun {
  int status = 0;  // of waitpid
  std::string err;
};

std::string read_text(const std::string &path) {
  std::string text;
  if (FILE *file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

// `molv export MODEL -o OUT --defaults --quiet --plugin-dir DIR`, standard
// error kept.
MolvRun run_molv(const std::string &molv, const std::string &plugin_dir, const std::string &model,
                 const std::string &out, const std::string &err_file) {
  MolvRun run;
  const pid_t child = fork();
  if (child == 0) {
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_RDWR);
    if (err < 0 || null < 0) _exit(127);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    limit_child(kMolvSeconds);
    execl(molv.c_str(), molv.c_str(), "export", model.c_str(), "-o", out.c_str(), "--defaults",
          "--quiet", "--plugin-dir", plugin_dir.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  while (waitpid(child, &run.status, 0) < 0 && errno == EINTR) {
  }
  run.err = read_text(err_file);
  while (!run.err.empty() && run.err.back() == '\n') run.err.pop_back();
  return run;
}

// A folder of the run's own, removed with whatever is in it.
class TempDir {
 public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                          "/testmodels.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) path_ = name.data();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

struct Totals {
  int files = 0;
  int not_read = 0;
  int exported = 0;
  int refused = 0;  // models without polygon faces that molv refused
  long faces = 0;
  std::vector<std::string> failures;
};

// One model: read, export, read back, compare.
// A model of the sample must be one Assimp reads.
void check_model(const std::string &molv, const std::string &plugin_dir, const std::string &dir,
                 const std::string &model, const std::string &name, bool in_sample,
                 Totals *totals) {
  ++totals->files;
  if (!fs::exists(model)) {
    totals->failures.push_back(name + ": no such file");
    return;
  }
  FaceSizes source;
  std::string error;
  if (!read_model(model, &source, &error)) {
    ++totals->not_read;
    if (in_sample) totals->failures.push_back(name + ": in the sample, but not read: " + error);
    return;
  }
  const auto fail = [&](const std::string &reason) {
    totals->failures.push_back(name + ": " + reason);
    std::printf("FAIL %s: %s\n", name.c_str(), reason.c_str());
  };
  const std::string out = dir + "/model";
  const std::string x_file = out + ".x";
  fs::remove(x_file);
  const MolvRun run = run_molv(molv, plugin_dir, model, out, dir + "/stderr");
  const bool complete = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
  const bool refused = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2;
  if (!complete && !(refused && source.empty())) {
    fail("molv " + termination(run.status) + (run.err.empty() ? "" : ": " + run.err));
    return;
  }
  if (refused) {
    if (run.err.find('\n') != std::string::npos || run.err.rfind("molv: " + model + ": ", 0) != 0) {
      fail("refused without one line naming the file: " + run.err);
    } else if (fs::exists(x_file)) {
      fail("refused, but wrote " + x_file);
    } else {
      ++totals->refused;
    }
    return;
  }
  FaceSizes back;
  if (!fs::exists(x_file)) {
    fail("molv ended with status 0 and wrote no file");
    return;
  }
  // A file without a mesh is one the .x reader refuses; it may be one only
  // when the model has no polygon faces.
  if (!count_faces(x_file, false, &back, &error) && !source.empty()) {
    fail("the .x reader refused the export: " + error);
    return;
  }
  if (back != source) {
    fail("faces read back " + describe(back) + ", the model holds " + describe(source));
    return;
  }
  ++totals->exported;
  totals->faces += total(source);
}

int usage() {
  std::fprintf(stderr,
               "usage: testmodels_check --molv MOLV --plugin-dir DIR [--shard K/N] [--sample] "
               "[MODELS_DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::string molv, plugin_dir, models = "/usr/share/assimp/models";
  int shard = 1, shards = 1;
  bool sample = false;
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
    check_model(molv, plugin_dir, dir.path(), models + "/" + files[i], files[i], sample, &totals);
  }
  std::printf(
      "%d files: %d not read by Assimp; %d exported and read back with their %ld polygon "
      "faces; %d without polygon faces refused; %zu failed\n",
      totals.files, totals.not_read, totals.exported, totals.faces, totals.refused,
      totals.failures.size());
  for (const std::string &failure : totals.failures) std::printf("  %s\n", failure.c_str());
  return totals.failures.empty() ? 0 : 1;
}
