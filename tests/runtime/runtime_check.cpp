/*
 * Exports read by the DirectX runtime's own readers: the file parser and
 * D3DX9's hierarchy loader, as Wine reimplements them, through the Windows
 * program x_runtime_read.exe (built with mingw-w64, run under Wine on a
 * private Xvfb display, where D3DX gets a Direct3D 9 device).
 *
 *   runtime_check --molv MOLV --plugin-dir DIR --reader EXE --golden DIR
 *                 [--scenes N] [--keep DIR] [--every-option] [MODELS_DIR]
 *
 * What is read: the hand-written golden files that are whole files; the
 * built-in sample and N generated scenes, each under the defaults and under
 * every option of the plug-in's table alone; every model of MODELS_DIR
 * under the defaults (and under every option alone with --every-option,
 * some minutes more).  Each file must parse and, when it holds a mesh,
 * load, with the counts the file states: frames, meshes, vertices, faces
 * (the runtime's triangles, one fewer than corners per polygon) and the
 * texture names; the exports' counts must also be the report's.  Files in
 * the "%g" form (fixed_numbers off) must be refused by the parser: their
 * integers and exponents are no float tokens to it.
 *
 * Exit status 0 when everything held, 1 with one line per file that did
 * not; --keep DIR copies each of those files into DIR.  QEL_SEED replays
 * the generated scenes of a run.
 */
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/option_table.h"
#include "support/random_scene.h"
#include "support/virtual_display.h"
#include "testmodels/child.h"

namespace fs = std::filesystem;

namespace {

// ---- what a file states -----------------------------------------------------------

struct Counts {
  long frames = 0, meshes = 0, vertices = 0, faces = 0, triangles = 0;
  long top_level = 0;     // Frames and Meshes outside every Frame
  long top_meshes = 0;    // of them, Meshes
  size_t longest_name = 0;
  bool digit_name = false;  // a Frame or Mesh name begins with a digit
  long most_children = 0;    // blocks and references directly in one block
  long most_subobjects = 0;  // blocks and references in one top-level block
  std::set<std::string> textures;
};

// A texture name as x_runtime_read prints it: bytes below 32, '|' and
// '\' as \xHH.
std::string printed(const std::string &name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 32 || c == '|' || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Frame and Mesh blocks with their nesting, and the TextureFileName
// strings (which may hold a line end), outside comments and strings.
void scan_blocks(const std::string &text, Counts *c) {
  int depth = 0;
  bool line_start = true;
  std::vector<long> children;  // of each open block
  long subobjects = 0;         // below the open top-level block
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '"') {
      const size_t end = text.find('"', i + 1);
      if (end == std::string::npos) return;
      const size_t tag = text.rfind("TextureFileName", i);
      if (tag != std::string::npos && text.find_first_not_of(" \t\r\n{", tag + 15) == i &&
          end > i + 1)
        c->textures.insert(printed(text.substr(i + 1, end - i - 1)));
      i = end;
    } else if (ch == '#' || (ch == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
      i = text.find('\n', i);
      if (i == std::string::npos) return;
      line_start = true;
      continue;
    } else if (ch == '{') {
      if (!children.empty()) ++children.back();
      children.push_back(0);
      if (depth++ > 0) c->most_subobjects = std::max(c->most_subobjects, ++subobjects);
      else subobjects = 0;
    } else if (ch == '}') {
      if (!children.empty()) {
        c->most_children = std::max(c->most_children, children.back());
        children.pop_back();
      }
      --depth;
    } else if (line_start && (text.compare(i, 6, "Frame ") == 0 || text.compare(i, 5, "Mesh ") == 0)) {
      const bool mesh = ch == 'M';
      const size_t name = i + (mesh ? 5 : 6);
      const size_t name_end = text.find_first_of(" {", name);
      c->longest_name = std::max(c->longest_name, name_end - name);
      if (name_end > name && text[name] >= '0' && text[name] <= '9') c->digit_name = true;
      if (depth == 0) {
        ++c->top_level;
        if (mesh) ++c->top_meshes;
      }
    }
    line_start = ch == '\n';
  }
}

// The counts of a .x text as this plug-in writes it: "Frame" and "Mesh"
// lines, each Mesh's vertex count and its faces' corner counts.
Counts count_text(const std::string &text) {
  Counts c;
  scan_blocks(text, &c);
  std::istringstream in(text);
  std::string line;
  auto next_number = [&in, &line]() -> long {
    while (std::getline(in, line) && line.find_first_not_of(' ') == std::string::npos) {
    }
    return std::atol(line.c_str());
  };
  while (std::getline(in, line)) {
    if (line.rfind("Frame ", 0) == 0) ++c.frames;
    if (line.rfind("Mesh ", 0) != 0) continue;
    ++c.meshes;
    const long vertices = next_number();
    c.vertices += vertices;
    for (long i = 0; i < vertices; ++i) std::getline(in, line);
    const long faces = next_number();
    c.faces += faces;
    for (long i = 0; i < faces && std::getline(in, line); ++i) c.triangles += std::atol(line.c_str()) - 2;
  }
  return c;
}

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- running programs --------------------------------------------------------------

// Runs ARGS with standard output into OUT (when given) and standard error
// into ERR; the exit status, or -1.
int run(const std::vector<std::string> &args, const std::string &out, const std::string &err,
        const std::string &cwd = "") {
  std::fflush(stdout);  // or the child writes it again
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    if (!out.empty() && freopen(out.c_str(), "w", stdout) == nullptr) _exit(127);
    if (freopen(err.empty() ? "/dev/null" : err.c_str(), "a", stderr) == nullptr) _exit(127);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- the files to read ------------------------------------------------------------

struct Case {
  std::string label;  // what the file is, for a message
  std::string path;   // the .x
  bool short_form = false;
  const nlohmann::json *report = nullptr;  // the export's report line, if any
};

struct Args {
  std::string molv, plugin_dir, reader, golden, models;
  std::string keep;  // where the files that fail are copied, if anywhere
  int scenes = 8;
  bool every_option_on_models = false;
};

// The golden files that are whole files, and whether their options leave
// out the fixed form.
void add_goldens(const Args &args, std::vector<Case> *cases) {
  const std::pair<const char *, bool> goldens[] = {
      {"frames_sample.x", false},   {"frames_names.x", false},    {"frames_index.x", true},
      {"frames_unnamed.x", false},  {"frames_no_frames.x", false}, {"frames_leaf.x", false},
      {"frames_comments.x", false}, {"frames_light.x", false},    {"frames_degenerate.x", false},
      {"export_ngons.x", false}};
  for (const auto &g : goldens)
    cases->push_back({std::string("golden ") + g.first, args.golden + "/" + g.first, g.second});
}

// One option of the table away from the defaults.
struct OptionRun {
  std::string name;
  std::string set;  // the --set word, empty for the defaults
  bool short_form = false;
};

std::vector<OptionRun> option_runs() {
  std::vector<OptionRun> runs{{"defaults", "", false}};
#define QEL_FLIP(number, name, fallback, meaning)                                  \
  runs.push_back({#name, #name "=" + std::string(1, (fallback) == '1' ? '0'        \
                                                 : (fallback) == '0' ? '1'         \
                                                                     : '0'),       \
                  std::string(#name) == "fixed_numbers"});
  QEL_OPTION_TABLE(QEL_FLIP)
#undef QEL_FLIP
  return runs;
}

}  // namespace

int main(int argc, char **argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (a == "--molv") args.molv = value();
    else if (a == "--plugin-dir") args.plugin_dir = value();
    else if (a == "--reader") args.reader = value();
    else if (a == "--golden") args.golden = value();
    else if (a == "--scenes") args.scenes = std::atoi(value().c_str());
    else if (a == "--keep") args.keep = value();
    else if (a == "--every-option") args.every_option_on_models = true;
    else args.models = a;
  }
  if (args.molv.empty() || args.reader.empty() || args.golden.empty()) {
    std::fprintf(stderr, "usage: runtime_check --molv MOLV --plugin-dir DIR --reader EXE "
                         "--golden DIR [--scenes N] [MODELS_DIR]\n");
    return 2;
  }
  args.reader = fs::absolute(args.reader).string();  // wine runs in the run's folder
  testmodels::TempDir temp;
  qel_test::VirtualDisplay display;
  if (temp.path().empty() || display.name().empty()) {
    std::fprintf(stderr, "runtime_check: no folder of its own or no Xvfb display\n");
    return 2;
  }
  const std::string dir = temp.path();
  const std::string log = dir + "/molv.log";

  std::vector<Case> cases;
  add_goldens(args, &cases);

  // Generated scenes, the sample among them, under each option alone.
  fs::create_directories(dir + "/scenes");
  std::vector<std::string> scene_files;
  const uint64_t seed = qel_test::run_seed();
  std::printf("[ seed ] QEL_SEED=%llu\n", static_cast<unsigned long long>(seed));
  for (int i = 0; i < args.scenes; ++i) {
    scene_files.push_back(dir + "/scenes/scene" + std::to_string(i) + ".json");
    std::ofstream(scene_files.back()) << qel_test::random_scene(qel_test::scene_seed(seed, i));
  }
  std::vector<std::pair<std::string, bool>> reports;  // report file, short form
  auto export_to = [&](const std::vector<std::string> &scenes, const std::string &out,
                       const OptionRun &o) {
    const std::string report = dir + "/report" + std::to_string(reports.size()) + ".jsonl";
    std::vector<std::string> words{args.molv, "export", "--plugin-dir", args.plugin_dir, "-o", out,
                                   "--report", report, "--quiet"};
    if (!o.set.empty()) words.insert(words.end(), {"--set", o.set});
    words.insert(words.end(), scenes.begin(), scenes.end());
    run(words, "", log);
    reports.push_back({report, o.short_form});
  };
  for (const OptionRun &o : option_runs()) {
    export_to(scene_files, dir + "/opt_" + o.name + "/", o);
    export_to({}, dir + "/opt_" + o.name + "/sample.x", o);  // no scene: the sample
  }
  if (!args.models.empty()) {
    for (const OptionRun &o : option_runs()) {
      if (!o.set.empty() && !args.every_option_on_models) break;
      // The files Assimp's own tests hold to be broken are no exports.
      std::vector<std::string> words{
          args.molv, "export", args.models, "--plugin-dir", args.plugin_dir, "-o",
          dir + "/models_" + o.name + "/", "--keep-extension", "--exclude", "invalid/*", "--jobs",
          "2", "--report", dir + "/models_" + o.name + ".jsonl", "--quiet"};
      if (!o.set.empty()) words.insert(words.end(), {"--set", o.set});
      run(words, "", log);
      reports.push_back({dir + "/models_" + o.name + ".jsonl", o.short_form});
    }
  }
  std::deque<nlohmann::json> lines;  // the cases point into it
  for (const auto &r : reports) {
    std::ifstream in(r.first);
    std::string line;
    while (std::getline(in, line)) {
      nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_discarded() || !j.contains("output") || j.value("status", "") != "done") continue;
      lines.push_back(j);
      lines.back()["short_form"] = r.second;
    }
  }
  for (const nlohmann::json &j : lines) {
    std::string path = j["output"].get<std::string>();
    if (!path.empty() && path[0] != '/') path = dir + "/" + path;
    cases.push_back({j.value("input", path), path, j["short_form"].get<bool>(), &j});
  }

  // Read in one Windows process per hundred files, each under a plain
  // name (a model's may hold letters the command line would change).
  fs::create_directories(dir + "/read");
  for (size_t i = 0; i < cases.size(); ++i)
    fs::create_symlink(fs::absolute(cases[i].path), dir + "/read/" + std::to_string(i) + ".x");
  const std::string wine_env[] = {"WINEPREFIX=" + dir + "/wine", "WINEDEBUG=-all",
                                  "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=" + display.name()};
  for (const std::string &e : wine_env) putenv(const_cast<char *>(e.c_str()));
  std::map<size_t, std::string> read;
  // A Windows process that could not start or died (Wine on a loaded
  // machine) answers for none of its files: those are read once more.
  for (int round = 0; round < 2; ++round) {
    std::vector<size_t> todo;
    for (size_t i = 0; i < cases.size(); ++i)
      if (read.count(i) == 0) todo.push_back(i);
    for (size_t first = 0; first < todo.size(); first += 100) {
      std::vector<std::string> words{"wine", args.reader};
      for (size_t k = first; k < todo.size() && k < first + 100; ++k)
        words.push_back("read/" + std::to_string(todo[k]) + ".x");
      const std::string out = dir + "/read.txt";
      const int status = run(words, out, log, dir);
      if (status != 0 && status != 1) std::printf("[ wine ] exit status %d\n", status);
      std::istringstream text(read_all(out));
      std::string line;
      while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows' text mode
        const size_t colon = line.find(".x: ");
        if (line.rfind("read/", 0) == 0 && colon != std::string::npos)
          read[std::stoul(line.substr(5, colon - 5))] = line.substr(colon + 4);
      }
    }
  }
  run({"wineserver", "-k"}, "", "");

  // Hold what the runtime read against what the file and the report say.
  int failed = 0, loaded = 0, refused_short = 0, without_mesh = 0;
  std::map<std::string, int> beyond;  // files Wine's parser is not made for, by cause
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    const Counts want = count_text(read_all(c.path));
    const std::string got = read.count(i) != 0 ? read[i] : "no answer";
    std::string why;
    auto field = [&got](const std::string &key) {
      const size_t at = got.find(key + "=");
      return at == std::string::npos ? -1 : std::atol(got.c_str() + at + key.size() + 1);
    };
    // What the format allows but Wine's parser does not take: its tables
    // have room for names of 55 characters, 200 blocks in a block and
    // 2000 in a top-level block; and a name that begins with a digit
    // (the format's "must not", which the digit-prefix option leaves to
    // the user) may be read as a number.
    const char *wine_limit = want.longest_name > 55        ? "a name longer than 55 characters"
                             : want.most_children > 200    ? "more than 200 blocks in a block"
                             : want.most_subobjects > 2000 ? "more than 2000 blocks in one"
                             : want.digit_name && got.rfind("error d3dxof", 0) == 0
                                 ? "a name that begins with a digit"
                                 : nullptr;
    if (c.short_form) {
      if (got.rfind("error d3dxof", 0) != 0) why = "the \"%g\" form was not refused: " + got;
      else ++refused_short;
    } else if (wine_limit != nullptr && got != "no answer") {
      ++beyond[wine_limit];
    } else if (want.meshes == 0) {
      // Nothing for D3DX to load; the parser must still take it.
      if (got.rfind("error d3dxof", 0) == 0 || got == "no answer") why = got;
      else ++without_mesh;
    } else if (got.rfind("ok ", 0) != 0) {
      why = got;
    } else {
      const size_t d3dx = got.find(" d3dx ");
      const std::string xof_part = got.substr(0, d3dx);
      const std::string d3dx_part = got.substr(d3dx);
      auto in = [](const std::string &part, const std::string &key) {
        const size_t at = part.find(" " + key + "=");
        return at == std::string::npos ? -1 : std::atol(part.c_str() + at + key.size() + 2);
      };
      std::set<std::string> textures;
      const std::string list = got.substr(got.find("textures=") + 9);
      for (size_t b = 0; b < list.size();) {
        const size_t e = std::min(list.find('|', b), list.size());
        textures.insert(list.substr(b, e - b));
        b = e + 1;
      }
      std::ostringstream diff;
      if (in(xof_part, "frames") != want.frames) diff << " parser frames";
      if (in(xof_part, "meshes") != want.meshes) diff << " parser meshes";
      // D3DX gives a Mesh outside every Frame a frame of its own, and puts
      // several objects at the top below one root frame of its own.
      const long frames = want.frames + want.top_meshes + (want.top_level > 1 ? 1 : 0);
      if (in(d3dx_part, "frames") != frames) diff << " frames";
      if (in(d3dx_part, "meshes") != want.meshes) diff << " meshes";
      if (field("vertices") != want.vertices) diff << " vertices";
      if (field("faces") != want.triangles) diff << " faces";
      if (textures != want.textures) {
        diff << " textures (the file's:";
        for (const std::string &t : want.textures) diff << " '" << t << "'";
        diff << ")";
      }
      if (c.report != nullptr &&
          ((*c.report)["meshes"] != want.meshes || (*c.report)["vertices"] != want.vertices ||
           (*c.report)["faces"] != want.faces))
        diff << " (the report's counts are not the file's)";
      if (!diff.str().empty()) why = "counts differ:" + diff.str() + ": " + got;
      else ++loaded;
    }
    if (why.empty()) continue;
    ++failed;
    std::printf("FAIL %s (%s): %s\n", c.label.c_str(), c.path.c_str(), why.c_str());
    if (!args.keep.empty()) {
      std::error_code ignored;
      fs::create_directories(args.keep, ignored);
      fs::copy_file(c.path, args.keep + "/" + std::to_string(i) + ".x", ignored);
    }
  }
  std::printf("%zu files: %d loaded with the counts they state, %d without a mesh parsed, "
              "%d in the \"%%g\" form refused, %d failed\n",
              cases.size(), loaded, without_mesh, refused_short, failed);
  for (const auto &b : beyond)
    std::printf("  %d beyond Wine's parser (not checked): %s\n", b.second, b.first.c_str());
  return failed == 0 && loaded > 0 ? 0 : 1;
}
