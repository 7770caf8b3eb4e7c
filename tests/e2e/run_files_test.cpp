/*
 * The files of a molv export run as one plan, through the real molv:
 * textures extracted or copied and the debug log are held against every
 * file the run reads and writes before anything is written, are prepared
 * in full and go in place only with a complete export, and keep what the
 * export file keeps (mode, hard links, the folder of a target link, the
 * longest names).  Then the model's reader, which may crash, and --jobs
 * with its options file and signals.
 */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/molv_run_test.h"

namespace {

using json = nlohmann::json;

const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR bytes of an image", 30);

std::string base64(const std::string &data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    unsigned n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    for (size_t k = 0; k < 4; ++k)
      out += k <= data.size() - i ? kAlphabet[(n >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// A glTF of one triangle per image, each with its own textured material;
// an image is a URI ("a.png", "data:..."), or {"view": ...} for the
// image's bytes in the buffer with that mime type.
json triangles(const std::vector<json> &images) {
  std::string positions(36, '\0');
  const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  std::memcpy(&positions[0], corners, sizeof corners);
  json g = {{"asset", {{"version", "2.0"}}},
            {"scene", 0},
            {"scenes", {{{"nodes", {0}}}}},
            {"nodes", {{{"name", "body"}, {"mesh", 0}}}}};
  json primitives = json::array(), materials = json::array(), textures = json::array();
  for (size_t i = 0; i < images.size(); ++i) {
    primitives.push_back({{"attributes", {{"POSITION", 0}}}, {"material", i}});
    materials.push_back({{"name", "m" + std::to_string(i)},
                         {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", i}}}}}});
    textures.push_back({{"source", i}});
  }
  g["meshes"] = {{{"name", "M"}, {"primitives", primitives}}};
  g["materials"] = materials;
  g["textures"] = textures;
  g["images"] = images;
  g["buffers"] = {
      {{"byteLength", 36}, {"uri", "data:application/octet-stream;base64," + base64(positions)}}};
  g["bufferViews"] = {{{"buffer", 0}, {"byteLength", 36}}};
  g["accessors"] = {{{"bufferView", 0},
                     {"componentType", 5126},
                     {"count", 3},
                     {"type", "VEC3"},
                     {"min", {0, 0, 0}},
                     {"max", {1, 1, 0}}}};
  return g;
}

json embedded(const std::string &mime = "image/png") {
  return {{"uri", "data:" + mime + ";base64," + base64(kPng)}};
}

class RunFiles : public qel_test::MolvRunTest {
 protected:
  // Runs molv; every refusal is one line with exit status 2 and leaves the
  // folder as it was.
  void expect_refused(const std::vector<std::string> &args, const std::string &says) {
    const auto before = entries();
    const auto r = run(args);
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_EQ(qel_test::text_lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(entries(), before) << r.err;
  }
};

// ---- a run's files ---------------------------------------------------------------

TEST_F(RunFiles, AFileTheRunReadsOrWritesIsNeverWrittenOver) {
  // An extracted texture over a texture the model uses.
  write("car.gltf", triangles({embedded(), {{"uri", "car_0.png"}}}).dump());
  write("car_0.png", "the model's own texture");
  expect_refused({"car.gltf", "--defaults", "--extract-textures"},
                 "the extracted texture car_0.png would write over the texture car_0.png");
  EXPECT_EQ(read("car_0.png"), "the model's own texture");
  // Over the model itself.
  write("m_0.png", triangles({embedded()}).dump());
  expect_refused({"m_0.png", "-o", "m", "--defaults", "--extract-textures"},
                 "would write over the model m_0.png");
  // The debug log over the export, or over the plug-in's own files.
  for (const std::string &log :
       {path("car.x"), plugin_.options_file(), plugin_.file("qel_export.so")})
    expect_refused({"car.gltf", "--defaults", "--debug-log", log}, "the debug log");
  // Over another model's export in a batch: the first model goes, the
  // second is refused and its texture replaces nothing.
  write("a_0.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write("a.gltf", triangles({embedded("image/x")}).dump());
  const auto r = run({"a_0.obj", "a.gltf", "-o", "batch/", "--defaults", "--extract-textures"});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_NE(r.err.find("a.gltf: the extracted texture batch/a_0.x would write over the export file "
                       "batch/a_0.x"),
            std::string::npos)
      << r.err;
  EXPECT_NE(read("batch/a_0.x").find("3;0,1,2;"), std::string::npos);
  EXPECT_EQ(::access(path("batch/a.x").c_str(), F_OK), -1);
  // Over a texture of a later model of the batch: known before the first
  // model is written, which is refused; the later model goes.
  const std::string obj = "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\nf 1/1 2/1 3/1\n";
  for (const char *folder : {"src", "out"}) ASSERT_EQ(::mkdir(path(folder).c_str(), 0755), 0);
  write("src/m.obj", obj);
  write("src/m.mtl", "newmtl t\nmap_Kd wood.png\n");
  write("src/wood.png", "the first model's wood");
  write("out/n.obj", obj);
  write("out/m.mtl", "newmtl t\nmap_Kd wood.png\n");
  write("out/wood.png", "the second model's wood");
  for (const std::string jobs : {"1", "2"}) {
    const auto later = run({"src/m.obj", "out/n.obj", "-o", "out/", "--defaults",
                            "--copy-textures", "--jobs", jobs});
    EXPECT_EQ(later.exit_status, 2) << later.err;
    EXPECT_NE(later.err.find("src/m.obj: the copied texture out/wood.png (a copy of src/wood.png) "
                             "would write over the texture out/wood.png of the model"),
              std::string::npos)
        << later.err;
    EXPECT_EQ(read("out/wood.png"), "the second model's wood");
    EXPECT_EQ(::access(path("out/m.x").c_str(), F_OK), -1);
  }
  EXPECT_NE(read("out/n.x").find("\"wood.png\""), std::string::npos);
}

TEST_F(RunFiles, ATextureThatCannotBeWrittenReplacesNothing) {
  write("two.gltf", triangles({embedded(), embedded()}).dump());
  write("two.x", "an earlier export");
  write("two_0.png", "an earlier texture");
  ASSERT_EQ(::mkdir(path("two_1.png").c_str(), 0755), 0);
  expect_refused({"two.gltf", "--defaults", "--extract-textures"},
                 "cannot write the embedded texture two_1.png: a folder stands at that name");
  EXPECT_EQ(read("two.x"), "an earlier export");
  EXPECT_EQ(read("two_0.png"), "an earlier texture");
}

TEST_F(RunFiles, TexturesKeepWhatTheExportKeeps) {
  write("box.gltf", triangles({embedded()}).dump());
  // The mode of the file replaced, and its hard links.
  write("box_0.png", "an earlier texture");
  ASSERT_EQ(::chmod(path("box_0.png").c_str(), 0600), 0);
  ASSERT_EQ(::link(path("box_0.png").c_str(), path("also.png").c_str()), 0);
  ASSERT_EQ(run({"box.gltf", "--defaults", "--extract-textures"}).exit_status, 0);
  struct stat st;
  ASSERT_EQ(::stat(path("box_0.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(read("also.png"), kPng);
  // A target that is a link to another folder: the texture goes beside
  // the file the .x becomes, where the .x names it.
  ASSERT_EQ(::mkdir(path("real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("real/file.x", path("link.x").c_str()), 0);
  ASSERT_EQ(run({"box.gltf", "-o", "link", "--defaults", "--extract-textures"}).exit_status, 0);
  EXPECT_EQ(read("real/link_0.png"), kPng);
  EXPECT_NE(read("real/file.x").find("\"link_0.png\""), std::string::npos);
  EXPECT_EQ(::access(path("link_0.png").c_str(), F_OK), -1);
  // The longest name the system takes: no hidden name is longer.
  const std::string stem(249, 'n');  // stem_0.png: 255 bytes
  const auto r = run({"box.gltf", "-o", stem, "--defaults", "--extract-textures"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read(stem + "_0.png"), kPng);
}

TEST_F(RunFiles, CopiedTexturesGoBesideTheExportAndNeverOverTheModel) {
  ASSERT_EQ(::mkdir(path("src").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(path("src/maps").c_str(), 0755), 0);
  write("src/m.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\nf 1/1 2/1 3/1\n");
  write("src/n.obj", read("src/m.obj"));
  write("src/m.mtl", "newmtl t\nKd 1 1 1\nmap_Kd maps/wood.png\n");
  // As a Windows program writes it: found all the same.
  write("src/n.mtl", "newmtl t\nKd 1 1 1\nmap_Kd .\\maps\\wood.png\n");
  write("src/maps/wood.png", "wood");
  ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
  // A link at the name is replaced; two models sharing the texture copy it once.
  ASSERT_EQ(::symlink("../src/m.obj", path("out/wood.png").c_str()), 0);
  auto r = run({"src/m.obj", "src/n.obj", "-o", "out/", "--defaults", "--copy-textures"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read("out/wood.png"), "wood");
  EXPECT_NE(read("out/m.x").find("\"wood.png\""), std::string::npos);
  EXPECT_NE(read("out/n.x").find("\"wood.png\""), std::string::npos);
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_NE(read("src/m.obj").find("mtllib"), std::string::npos);
  // A cancelled export copies nothing.
  write("out/wood.png", "an earlier texture");
  r = run({"src/m.obj", "-o", "out/", "--defaults", "--copy-textures", "--cancel-at-poll", "1"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(read("out/wood.png"), "an earlier texture");
  // Two models whose different textures share a name: one copy is made
  // and the other model refused, also when workers export them.
  ASSERT_EQ(::mkdir(path("other").c_str(), 0755), 0);
  write("other/o.obj", read("src/m.obj"));
  write("other/m.mtl", "newmtl t\nKd 1 1 1\nmap_Kd wood.png\n");
  write("other/wood.png", "other wood");
  for (const std::string jobs : {"1", "2"}) {
    r = run({"src/m.obj", "other/o.obj", "-o", "out/", "--defaults", "--copy-textures", "--jobs",
             jobs});
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_NE(r.err.find("the copied texture out/wood.png"), std::string::npos) << r.err;
    const std::string copied = read("out/wood.png");
    EXPECT_TRUE(copied == "wood" || copied == "other wood") << copied;
  }
  // A texture copied over the model.
  write("src/m.mtl", "newmtl t\nKd 1 1 1\nmap_Kd maps/m.obj\n");
  write("src/maps/m.obj", "a texture named like the model");
  expect_refused({"src/m.obj", "-o", "src/", "--defaults", "--copy-textures"},
                 "the copied texture src/m.obj (a copy of src/maps/m.obj) would write over "
                 "the model src/m.obj");
  // With folders kept, a name that leads out of the output folder is not
  // copied, and a copy of a private file stays private.
  write("mine", "the user's own file");
  write("src/m.mtl", "newmtl t\nKd 1 1 1\nmap_Kd ../../mine\n");
  write("src/n.obj", "mtllib n.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\nf 1/1 2/1 3/1\n");
  write("src/n.mtl", "newmtl t\nKd 1 1 1\nmap_Kd secret.png\n");
  write("src/secret.png", "private");
  ASSERT_EQ(::chmod(path("src/secret.png").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(path("out/sub").c_str(), 0755), 0);
  r = run({"src/m.obj", "src/n.obj", "-o", "out/sub/", "--set", "strip_texture_path=0",
           "--copy-textures"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("../../mine leads out of the .x's folder"), std::string::npos) << r.err;
  EXPECT_EQ(read("mine"), "the user's own file");
  struct stat copy {};
  ASSERT_EQ(::stat(path("out/sub/secret.png").c_str(), &copy), 0);
  EXPECT_EQ(copy.st_mode & 0077, 0u) << std::oct << copy.st_mode;
}

TEST_F(RunFiles, TheDebugLogIsOneOfTheRunsFiles) {
  write("box.gltf", triangles({embedded()}).dump());
  write("trace.txt", "an earlier log");
  // A cancelled run keeps the earlier file.
  auto r = run({"box.gltf", "--defaults", "--debug-log", "trace.txt", "--cancel-at-poll", "1"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(read("trace.txt"), "an earlier log");
  ASSERT_EQ(run({"box.gltf", "--defaults", "--debug-log", "trace.txt"}).exit_status, 0);
  EXPECT_NE(read("trace.txt").find("X-File"), std::string::npos);
  // A pipe nobody reads is refused, not waited for.
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  qel_test::RunOptions options;
  options.timeout_seconds = 20;
  r = run({"box.gltf", "--defaults", "--debug-log", "pipe"}, options);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_NE(r.err.find("pipe: cannot write the debug log: a pipe that nobody reads"),
            std::string::npos)
      << r.err;
}

// ---- the reader ------------------------------------------------------------------

TEST_F(RunFiles, AModelThatCrashesTheReaderIsNamed) {
  // An image whose mime type has no '/'.
  json mime = triangles({embedded()});
  std::string bytes(36, '\0');
  const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  std::memcpy(&bytes[0], corners, sizeof corners);
  bytes += kPng;
  mime["buffers"][0] = {{"byteLength", bytes.size()},
                        {"uri", "data:application/octet-stream;base64," + base64(bytes)}};
  mime["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", 36}, {"byteLength", kPng.size()}});
  mime["images"][0] = {{"bufferView", 1}, {"mimeType", "png"}};
  write("mime.gltf", mime.dump());
  // A chain of 20,000 nested nodes.
  json deep = triangles({embedded()});
  deep["nodes"] = json::array();
  for (int i = 0; i < 20000; ++i)
    deep["nodes"].push_back({{"name", "n" + std::to_string(i)}, {"children", {i + 1}}});
  deep["nodes"].push_back({{"name", "body"}, {"mesh", 0}});
  write("deep.gltf", deep.dump());
  write("out.x", "an earlier export");
  for (const std::string model : {"mime.gltf", "deep.gltf"}) {
    expect_refused({model, "-o", "out", "--defaults"},
                   "molv: " + model + ": the model's reader crashed on it");
    EXPECT_EQ(read("out.x"), "an earlier export");
  }
}

// A PLY whose header never ends: its reader reads on for ever.
const char kEndlessPly[] = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n0\n";

// The reader's child ends with molv: at once on a first Ctrl-C or SIGTERM
// (molv names the model), with molv on SIGKILL, also while a batch looks
// ahead at its models.
TEST_F(RunFiles, TheReaderStopsWithMolv) {
  write("spin.ply", kEndlessPly);
  write("box.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const std::vector<std::string> one = {"spin.ply", "--defaults"},
                                  ahead = {"spin.ply", "box.obj", "-o", "out/", "--copy-textures"};
  for (const auto &[args, signal] : std::vector<std::pair<std::vector<std::string>, int>>{
           {one, SIGINT}, {one, SIGTERM}, {one, SIGKILL}, {ahead, SIGTERM}}) {
    qel_test::RunOptions options;
    options.interrupt_on_child = true;
    options.interrupt_signals = {signal};
    const auto r = run(args, options);
    const std::string what = strsignal(signal) + std::string(args.size() > 2 ? " ahead" : "");
    EXPECT_FALSE(r.timed_out) << what;
    ASSERT_EQ(r.children.size(), 1u) << what;
    EXPECT_TRUE(qel_test::process_ends(r.children[0])) << what;
    EXPECT_EQ(r.exit_status, signal == SIGINT ? 1 : -1) << what << ": " << r.err;
    EXPECT_EQ(r.signal, signal == SIGINT ? 0 : signal) << what;
    if (signal != SIGKILL && args.size() == 2) {
      EXPECT_EQ(r.err, signal == SIGINT ? "molv: spin.ply: the load was cancelled\n"
                                        : "molv: spin.ply: stopped by SIGTERM\n")
          << what;
    }
  }
}

// A model whose reader reaches the time or the memory limit is one line
// naming it and the limit, exit status 2; the batch goes on, the report
// tells why.  A reader's own messages never reach molv's output.
TEST_F(RunFiles, TheReaderHasLimitsAndKeepsItsMessages) {
#if defined(__SANITIZE_ADDRESS__)
  // Its allocator reports an address-space limit as a finding of its own.
  GTEST_SKIP() << "the address sanitizer takes no address-space limit";
#endif
  write("spin.ply", kEndlessPly);
  write("big.off", "OFF\n353535235358 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  write("box.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write("odd.ogex", "Metric {float {1.0}} }}");
  auto r = run({"spin.ply", "big.off", "box.obj", "odd.ogex", "-o", "out/", "--defaults",
                "--timeout", "0.5", "--max-memory", "64M", "--report", "r.jsonl", "--quiet",
                "--jobs", "1"});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "molv: spin.ply: the model's reader took longer than its time limit of 0.5 s "
            "(--timeout)\n"
            "molv: big.off: the model's reader needs more than its memory limit of 64 MiB "
            "(--max-memory)\n"
            "molv: odd.ogex: the file holds no scene\n");
  std::string statuses;
  for (const std::string &line : qel_test::text_lines(read("r.jsonl")))
    statuses += json::parse(line).value("status", "") + " ";
  EXPECT_EQ(statuses, "time-limit memory-limit done refused  ");  // then the total
  r = qel_test::run_molv({"info", path("big.off"), "--max-memory", "1G", "--timeout", "60"});
  EXPECT_EQ(r.err, "molv: " + path("big.off") +
                       ": the model's reader needs more than its memory limit of 1 GiB "
                       "(--max-memory)\n");
  EXPECT_EQ(r.exit_status, 2);
}

}  // namespace

namespace {

// ---- pipes and devices -----------------------------------------------------------

// --jobs copies the remembered options for its workers by the plug-in's own
// rules: a FIFO, a device or a folder in the place of the options file is
// no options file, never waited for or read without end, and the private
// folders go.
TEST_F(RunFiles, JobsTakeTheOptionsFileAsThePluginDoes) {
  write("a.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write("b.obj", read("a.obj"));
  ASSERT_EQ(::mkdir(path("tmp").c_str(), 0700), 0);
  const std::string opt = plugin_.options_file();
  const std::vector<std::pair<std::string, std::function<int()>>> kinds = {
      {"a FIFO", [&] { return ::mkfifo(opt.c_str(), 0600); }},
      {"a device", [&] { return ::symlink("/dev/zero", opt.c_str()); }},
      {"a folder", [&] { return ::mkdir(opt.c_str(), 0700); }},
  };
  for (const auto &kind : kinds) {
    ASSERT_EQ(kind.second(), 0) << kind.first;
    qel_test::RunOptions options;
    options.timeout_seconds = 20;
    options.env = {{"TMPDIR", path("tmp")}};
    const auto r = run({"a.obj", "b.obj", "-o", "out/", "-j", "2"}, options);
    EXPECT_FALSE(r.timed_out) << kind.first;
    EXPECT_EQ(r.exit_status, 0) << kind.first << ": " << r.err;
    EXPECT_EQ(qel_test::text_lines(read("out/a.x")).size() > 10, true) << kind.first;
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(path("tmp")))
      left.push_back(entry.path().string());
    EXPECT_EQ(left, std::vector<std::string>{}) << kind.first;
    qel_test::remove_tree(opt);
    qel_test::remove_tree(path("out"));
  }
}

// As another user.  "-o /" names the root folder: the line says what keeps
// the file from being written there, not that "" is no folder.  A texture
// the user may write but not replace (root's, in a shared or a sticky
// folder) is written in place and keeps its owner, as the .x does.
TEST_F(RunFiles, AsAnotherUser) {
  qel_test::RunOptions options;
  if (!as_nobody(&options)) return;
  auto r = run({"-o", "/", "--defaults"}, options);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.err.find("'/sample.x'"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("not a folder"), std::string::npos) << r.err;

  write("box.gltf", triangles({embedded()}).dump());
  for (const mode_t folder : {mode_t{01777}, mode_t{0777}}) {
    write("box_0.png", "an earlier texture");
    ASSERT_EQ(::chmod(path("box_0.png").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(work_.c_str(), folder), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path("box_0.png").c_str(), &before), 0);
    r = run({"box.gltf", "--defaults", "--extract-textures"}, options);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read("box_0.png"), kPng);
    ASSERT_EQ(::stat(path("box_0.png").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << std::oct << folder;
    EXPECT_EQ(after.st_uid, 0u) << std::oct << folder;
    EXPECT_EQ(after.st_mode & 0777, 0666u) << std::oct << folder;
  }
}

}  // namespace

namespace {

// ---- signals ---------------------------------------------------------------------

// A --defaults run killed outright cannot remove its private plug-in
// folder; the next run does, and leaves a living run's folder alone.  The
// killed run cannot end first: its .x goes to a small pipe never read.
TEST_F(RunFiles, APrivatePluginFolderDoesNotOutliveItsRun) {
  std::string obj;  // 1000 triangles: 76 kB in the .x
  for (int i = 0; i < 1000; ++i)
    obj += "v 0 0 " + std::to_string(i) + "\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\n";
  write("a.obj", obj);
  ASSERT_EQ(::mkdir(path("tmp").c_str(), 0700), 0);
  const std::string living = path("tmp/molv-plugin-" + std::to_string(::getpid()) + "-keep00");
  ASSERT_EQ(::mkdir(living.c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(path("a.x").c_str(), 0600), 0);
  const int unread = ::open(path("a.x").c_str(), O_RDONLY | O_NONBLOCK);
  ::fcntl(unread, F_SETPIPE_SZ, 4096);
  qel_test::RunOptions options;
  options.env = {{"TMPDIR", path("tmp")}};
  options.interrupt_on = "Export X File ...\n";
  options.interrupt_signals = {SIGKILL};
  auto r = run({"a.obj", "--defaults", "--verbose"}, options);
  ::close(unread);
  ::unlink(path("a.x").c_str());
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.signal, SIGKILL);
  auto left = [&] {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path("tmp")))
      names.push_back(entry.path().string());
    return names;
  };
  EXPECT_EQ(left().size(), 2u);
  options.interrupt_on.clear();
  r = run({"a.obj", "--defaults"}, options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(left(), std::vector<std::string>{living});
}

}  // namespace
