/*
 * molv export in scripts and build systems: reproducible runs, the JSON
 * report, standard input and output as model and export, the depfile
 * that make reads, and errors that say what to do.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/depfile.h"
#include "core/options.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/molv_run_test.h"

namespace fs = std::filesystem;

namespace {

const char kQuad[] = R"({"world": {"children": [{"name": "quad",
    "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "surfaces": [{"verts": [0, 1, 2, 3]}]}]}})";
const char kTriangleObj[] = "mtllib tri.mtl\nusemtl red\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
const char kTriangleMtl[] = "newmtl red\nKd 1 0 0\nmap_Kd red.png\n";
const std::string kDefaults = qel::kDefaultOptions;

class Pipeline : public qel_test::MolvRunTest {
 protected:
  // A shell command line in the test's folder, with the build's molv
  // first on the path.
  qel_test::RunResult shell(const std::string &command) {
    qel_test::RunOptions options;
    options.args = {"-c", command};
    options.cwd = work_;
    const std::string bin = fs::path(MOLV_BINARY).parent_path().string();
    options.env = {{"PATH", bin + ":" + std::getenv("PATH")},
                   {"PLUGIN", plugin_.path()}};
    return qel_test::run_program("/bin/sh", options);
  }
};

// ---- the options a run starts from ---------------------------------------------

TEST_F(Pipeline, APlainRunIsTheDefaultsAndRememberedIsAskedFor) {
  write("quad.json", kQuad);
  std::string triangulate = kDefaults;
  triangulate[9] = '1';
  qel_test::write_file(plugin_.options_file(), triangulate);
  // A plain run neither sees nor changes what the plug-in remembers, and
  // its summary names the options it used.
  auto r = run({"quad.json", "-o", "plain"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(read("plain.x").find("\n1;\n4;"), std::string::npos);
  EXPECT_NE(r.err.find(", options " + kDefaults + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(qel_test::read_file(plugin_.options_file()), triangulate);
  // --remembered is the dialog's way: read, then written with this run's.
  r = run({"quad.json", "-o", "kept", "--remembered", "--set", "decimals=3"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(read("kept.x").find("\n2;\n3;"), std::string::npos);
  triangulate[49] = '3';
  EXPECT_EQ(qel_test::read_file(plugin_.options_file()), triangulate);
}

// ---- the report --------------------------------------------------------------------

TEST_F(Pipeline, ReportHasOneObjectPerModelMatchingTheSummary) {
  write("a.json", kQuad);
  write("bad.json", "{\"world\": {");
  write("tri.obj", kTriangleObj);
  write("tri.mtl", kTriangleMtl);
  write("red.png", "not really a png");
  for (const char *jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    const std::string out = std::string("out") + jobs + "/";
    const auto r = run({"a.json", "bad.json", "tri.obj", "-o", out, "--jobs", jobs,
                        "--report", out + "report.jsonl"});
    EXPECT_EQ(r.exit_status, 2) << r.err;
    // The total is the last line of standard error.
    const auto err = qel_test::text_lines(r.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back().rfind("molv: 3 models: 2 done, 0 failed, 1 refused, 1 warning in ", 0),
              0u) << r.err;
    auto lines = qel_test::text_lines(read(out + "report.jsonl"));
    ASSERT_EQ(lines.size(), 4u);
    // The report ends with the run's total.
    auto total = nlohmann::json::parse(lines.back()).at("total");
    EXPECT_GE(total.at("seconds").get<double>(), 0.0);
    total.erase("seconds");
    EXPECT_EQ(total, nlohmann::json::parse(R"({"models": 3, "done": 2, "failed": 0,
        "refused": 1, "cancelled": 0, "warnings": 1})"));
    lines.pop_back();
    int seen = 0;
    for (const std::string &line : lines) {
      const auto model = nlohmann::json::parse(line);
      const std::string input = model.at("input");
      if (input == "bad.json") {
        EXPECT_EQ(model.at("status"), "refused");
        EXPECT_EQ(model.at("exit"), 2);
        EXPECT_NE(model.at("reason").get<std::string>().find("bad.json"), std::string::npos);
        EXPECT_FALSE(model.contains("bytes"));
        seen += 1;
        continue;
      }
      // The counts are those the summary line gives for the same file.
      const std::string x = model.at("output");
      EXPECT_EQ(model.at("status"), "done");
      EXPECT_EQ(model.at("options"), kDefaults);
      // Each option by name, as the string has it.
      const auto &named = model.at("options_by_name");
      EXPECT_EQ(named.size(), 25u);
      EXPECT_EQ(named.at("triangulate"), kDefaults[9] == '1');
      EXPECT_EQ(named.at("strip_texture_path"), kDefaults[4] == '1');
      EXPECT_EQ(named.at("decimals"), kDefaults[49] - '0');
      EXPECT_EQ(model.at("bytes").get<std::uintmax_t>(), fs::file_size(path(x)));
      const std::string summary = "wrote " + x + " (" + std::to_string(fs::file_size(path(x))) +
                                  " bytes): 1 mesh, " +
                                  std::to_string(model.at("vertices").get<int>()) +
                                  " vertices, 1 face in ";
      EXPECT_NE(r.err.find(summary), std::string::npos) << summary << "\n" << r.err;
      if (input == "tri.obj") {
        EXPECT_EQ(model.at("vertices"), 3);
        EXPECT_EQ(model.at("textures"),
                  nlohmann::json::parse(R"([{"name": "red.png", "found": true,
                      "embedded": false, "extracted": false, "copied": false}])"));
        seen += 10;
      } else {
        EXPECT_EQ(model.at("vertices"), 4);
        seen += 100;
      }
    }
    EXPECT_EQ(seen, 111);
  }
  // "-": the lines go to standard output, with nothing else there.
  const auto r = run({"tri.obj", "-o", "one", "--report", "-"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const auto lines = qel_test::text_lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  const auto model = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(model.at("output"), "one.x");
  EXPECT_EQ(model.at("warnings"), nlohmann::json::array());
  EXPECT_EQ(nlohmann::json::parse(lines[1]).at("total").at("done"), 1);
}

// A warning fails its model under --strict, or under --fail-on when its
// code is named; the report says which warnings did, and the total still
// ends a --quiet run's report.
TEST_F(Pipeline, StrictAndFailOnTurnWarningsIntoFailures) {
  write("tri.obj", kTriangleObj);
  write("tri.mtl", kTriangleMtl);  // red.png is not there
  write("quad.json", kQuad);
  auto r = run({"tri.obj", "quad.json", "-o", "out/"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("molv: tri.obj: warning: the .x names 1 texture that is not beside it: "
                       "red.png"), std::string::npos) << r.err;
  for (const std::vector<std::string> &failing :
       {std::vector<std::string>{"--strict"}, {"--fail-on", "no-mesh,texture-missing"}}) {
    std::vector<std::string> words = {"tri.obj", "quad.json", "-o", "out/", "--report", "-",
                                      "--quiet"};
    words.insert(words.end(), failing.begin(), failing.end());
    r = run(words);
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_EQ(r.err, "molv: tri.obj: failed by its warnings (" +
                         std::string(failing.size() == 1 ? "--strict" : "--fail-on") +
                         "): texture-missing\n");
    const auto lines = qel_test::text_lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    for (const std::string &line : lines) {
      const auto json = nlohmann::json::parse(line);
      if (json.contains("total")) {
        EXPECT_EQ(json.at("total").at("failed"), 1);
        EXPECT_EQ(json.at("total").at("warnings"), 1);
      } else if (json.at("input") == "tri.obj") {
        EXPECT_EQ(json.at("status"), "failed");
        EXPECT_EQ(json.at("failed_by"), nlohmann::json::array({"texture-missing"}));
      } else {
        EXPECT_EQ(json.at("status"), "done");
      }
    }
  }
  r = run({"tri.obj", "--fail-on", "no-mesh"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  r = run({"tri.obj", "--fail-on", "texture-mising"});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find("(did you mean texture-missing?)"), std::string::npos) << r.err;
}

// The report and the depfile are files of the run like the .x: never
// over what the run reads (found once the model is read, too) nor over
// one another, put in place only when the run ends, and a write that
// fails is said.
TEST_F(Pipeline, TheRunsOwnFilesNeverTakeWhatItReads) {
  write("quad.json", kQuad);
  write("tri.obj", kTriangleObj);
  write("tri.mtl", kTriangleMtl);
  write("red.png", "png");
  const std::string so = plugin_.path() + "/qel_export.so";
  const struct {
    std::vector<std::string> words;
    std::string part;
  } clashes[] = {
      {{"tri.obj", "--report", "tri.mtl"}, "the report tri.mtl would write over the file "},
      {{"tri.obj", "--depfile", "red.png"}, "the depfile red.png would write over the texture "},
      // --jobs workers find it in their own models, and keep it out.
      {{"quad.json", "tri.obj", "-o", "j/", "-j", "2", "--report", "tri.mtl"},
       "the report tri.mtl would write over the file "},
      {{"quad.json", "tri.obj", "-o", "j/", "-j", "2", "--depfile", "red.png"},
       "the depfile red.png would write over the texture "},
      {{"tri.obj", "--debug-log", "tri.mtl"}, "the debug log tri.mtl would write over the file"},
      {{"quad.json", "--report", so}, "would write over the plug-in's qel_export.so"},
      {{"quad.json", "--report", "r", "--depfile", "r"}, "the depfile r would write over the report r"},
      {{"quad.json", "-o", "q", "--report", "q.x"}, "the report q.x would write over the export file"},
      {{"quad.json", "--report", "quad.json"}, "the report quad.json would write over the model"},
  };
  for (const auto &c : clashes) {
    const auto r = run(c.words);
    EXPECT_EQ(r.exit_status, 2) << c.part << "\n" << r.err;
    EXPECT_NE(r.err.find(c.part), std::string::npos) << r.err;
  }
  EXPECT_EQ(read("tri.mtl"), kTriangleMtl);
  EXPECT_EQ(read("red.png"), "png");
  EXPECT_EQ(read("quad.json"), kQuad);
  EXPECT_FALSE(fs::exists(path("r")));

  // A link at the .x's name leading to the model's .mtl.
  fs::create_symlink("tri.mtl", path("link.x"));
  auto r = run({"tri.obj", "-o", "link"});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_NE(r.err.find("would write over the file"), std::string::npos) << r.err;
  EXPECT_EQ(read("tri.mtl"), kTriangleMtl);

  // molv info writes nothing but its report, never over a model.
  r = qel_test::run_molv({"info", path("tri.obj"), "--report", path("tri.mtl")});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_EQ(read("tri.mtl"), kTriangleMtl);
  r = qel_test::run_molv({"info", path("quad.json"), "--report", path("quad.json")});
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_EQ(read("quad.json"), kQuad);

  // A report that cannot be written is said, and the run fails.
  r = run({"quad.json", "--report", "/dev/full"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.err.find("/dev/full: cannot write the report"), std::string::npos) << r.err;
  // A pipe nobody reads is refused at once, never waited for.
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  qel_test::RunOptions options;
  options.timeout_seconds = 30;
  r = run({"quad.json", "--report", "fifo"}, options);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find("fifo: cannot write the report: a pipe that nobody reads"),
            std::string::npos) << r.err;
  // Copies have no folder beside standard output.
  EXPECT_EQ(run({"tri.obj", "-o", "-", "--copy-textures"}).exit_status, 2);
}

// ---- standard input and output -------------------------------------------------

TEST_F(Pipeline, StreamsCarryTheFileAndNothingElse) {
  write("quad.json", kQuad);
  write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_EQ(run({"quad.json", "-o", "file"}).exit_status, 0);
  const std::string file = read("file.x");
  // The plug-in's own line goes to standard error with the status.
  auto r = run({"quad.json", "-o", "-", "--verbose"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, file);
  EXPECT_EQ(r.err.rfind("Export Direct X File\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("wrote standard output (" + std::to_string(file.size()) + " bytes)"),
            std::string::npos) << r.err;
  // A model from standard input, by the format --format names.
  r = shell("molv export - --format obj -o - --plugin-dir \"$PLUGIN\" < tri.obj > piped.x");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(run({"tri.obj", "-o", "tri"}).exit_status, 0);
  EXPECT_EQ(read("piped.x"), read("tri.x"));
  EXPECT_NE(shell("molv export - -o - --plugin-dir \"$PLUGIN\" < tri.obj").err.find(
                "needs --format EXT"),
            std::string::npos);
  // A model that cannot be read is named as the user gave it.
  r = shell("echo garbage | molv export - --format ply -o - --plugin-dir \"$PLUGIN\"");
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err.rfind("molv: -: ", 0), 0u) << r.err;
  // --quiet silences molv, never the file: a target that is standard
  // output still gets every byte.
  fs::create_symlink("/dev/stdout", path("link.x"));
  r = run({"quad.json", "-o", "link", "--quiet"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, file);
  EXPECT_EQ(r.err, "");
  // A FIFO target: the reader gets the file and the run ends, the summary
  // saying that it could not count it.
  ASSERT_EQ(mkfifo(path("fifo.x").c_str(), 0600), 0);
  r = shell("cat fifo.x > from_fifo & molv export quad.json -o fifo --plugin-dir \"$PLUGIN\"; "
            "status=$?; wait; exit $status");
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read("from_fifo"), file);
  EXPECT_NE(r.err.find("wrote fifo.x (not a regular file: not counted)"), std::string::npos)
      << r.err;
  // A model of another format, whose textures are looked for after the
  // export: the names are the run's, the FIFO is never read back.
  write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  r = shell("cat fifo.x > /dev/null & molv export tri.obj -o fifo --plugin-dir \"$PLUGIN\"; "
            "status=$?; wait; exit $status");
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0) << r.err;
}

// ---- folders ---------------------------------------------------------------------------

TEST_F(Pipeline, AFolderIsEveryModelBelowItInTheSameTree) {
  const char kTri[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  fs::create_directories(path("models/sub/deeper"));
  write("models/a.obj", kTri);
  write("models/b.json", kQuad);
  write("models/notes.txt", "not a model");
  write("models/sub/a.obj", kTri);
  write("models/sub/deeper/c.obj", kTri);
  // A link back up is not followed round.
  fs::create_directory_symlink("../..", path("models/sub/up"));
  auto r = run({"models", "-o", "out/", "--quiet"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  for (const char *x : {"out/a.x", "out/b.x", "out/sub/a.x", "out/sub/deeper/c.x"})
    EXPECT_TRUE(fs::exists(path(x))) << x;
  EXPECT_FALSE(fs::exists(path("out/notes.x")));
  // Patterns on the path below the folder or on the file name.
  r = run({"models/", "-o", "some/", "--quiet", "--exclude", "sub/*", "--include",
           "*.obj"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::vector<std::string> written;
  for (const auto &entry : fs::recursive_directory_iterator(path("some")))
    written.push_back(fs::relative(entry.path(), path("some")).string());
  EXPECT_EQ(written, std::vector<std::string>{"a.x"});

  // Every clash in one run and nothing written; --keep-extension avoids them.
  fs::create_directory(path("clash"));
  write("clash/a.obj", kTri);
  write("clash/a.json", kQuad);
  write("clash/b.obj", kTri);
  write("clash/b.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  r = run({"clash", "-o", "flat/"});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find("clash/a.json and clash/a.obj would both be written to flat/a.x"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("clash/b.obj and clash/b.off would both be written to flat/b.x"),
            std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("flat")));
  r = run({"clash", "-o", "flat/", "--keep-extension", "--quiet"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  for (const char *x : {"flat/a.obj.x", "flat/a.json.x", "flat/b.obj.x", "flat/b.off.x"})
    EXPECT_TRUE(fs::exists(path(x))) << x;

  // Several folders keep their own names; --relative-to mirrors any list.
  r = run({"models/sub", "clash", "-o", "two/", "--keep-extension", "--quiet"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  for (const char *x : {"two/sub/a.obj.x", "two/sub/deeper/c.obj.x", "two/clash/b.off.x"})
    EXPECT_TRUE(fs::exists(path(x))) << x;
  r = run({"models/sub/deeper/c.obj", "./models/a.obj", "models/sub/../b.json", "-o", "tree/",
           "--relative-to", "models/", "--quiet"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  for (const char *x : {"tree/sub/deeper/c.x", "tree/a.x", "tree/b.x"})
    EXPECT_TRUE(fs::exists(path(x))) << x;
  r = run({"clash/a.obj", "--relative-to", "models"});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find("clash/a.obj is not below --relative-to models"), std::string::npos);
  // --keep-going writes what does not clash; a hint taken is not given again.
  r = run({"models/a.obj", "models/sub/a.obj", "clash/b.obj", "-o", "kept/", "--keep-going",
           "--keep-extension", "--report", "-"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.err.find("molv: 2 models would be written to the same files; they are left out "
                       "(--relative-to DIR keeps each model's folders below DIR)\n"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(R"({"input":"models/a.obj","output":"kept/a.obj.x","status":"refused")"),
            0u) << r.out;
  EXPECT_TRUE(fs::exists(path("kept/b.obj.x")));
  EXPECT_FALSE(fs::exists(path("kept/a.obj.x")));
}

// ---- the depfile and make ------------------------------------------------------------

// The command line page's example of that kind: the block of the given language, or
// the command line that begins with the given text.
std::string readme_block(const std::string &fence) {
  const std::string readme =
      qel_test::read_file(std::string(QEL_SOURCE_DIR) + "/docs/command-line.md");
  const size_t from = readme.find("```" + fence + "\n");
  if (from == std::string::npos) return std::string();
  const size_t body = from + fence.size() + 4;
  return readme.substr(body, readme.find("```", body) - body);
}
std::string readme_command(const std::string &start) {
  const std::string readme =
      qel_test::read_file(std::string(QEL_SOURCE_DIR) + "/docs/command-line.md");
  const size_t from = readme.find("$ " + start);
  if (from == std::string::npos) return std::string();
  return readme.substr(from + 2, readme.find('\n', from) - from - 2);
}

TEST_F(Pipeline, TheDocumentedMakefileConvertsOnlyWhatChanged) {
  fs::create_directories(path("models/sub"));
  write("models/sub/tri.obj", kTriangleObj);
  write("models/sub/tri.mtl", kTriangleMtl);
  write("models/sub/red.png", "png");
  write("models/quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  const std::string makefile = readme_block("make");
  for (const char *part : {"--depfile", "--strict", "--relative-to"})
    ASSERT_NE(makefile.find(part), std::string::npos) << makefile;
  write("Makefile", makefile);
  auto r = shell("make -s");
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  // The model's tree, and a rule per file as compilers' -MD -MP write.
  EXPECT_EQ(read("out/sub/tri.x.d"),
            "out/sub/tri.x: \\\n  models/sub/tri.obj \\\n  models/sub/tri.mtl \\\n"
            "  models/sub/red.png\n\nmodels/sub/tri.mtl:\n\nmodels/sub/red.png:\n");
  EXPECT_EQ(nlohmann::json::parse(qel_test::text_lines(read("out/quad.x.json"))[0]).at("faces"),
            1);
  // Nothing changed: nothing is converted.
  r = shell("make");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "make: Nothing to be done for 'all'.\n");
  // A newer .mtl converts its model again, and only that one.
  fs::last_write_time(path("models/sub/tri.mtl"),
                      fs::file_time_type::clock::now() + std::chrono::hours(1));
  r = shell("make");
  EXPECT_NE(r.out.find("molv export models/sub/tri.obj"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("models/quad.obj"), std::string::npos) << r.out;
  // A file the model no longer has converts it again, where make without
  // the empty rules stops at "No rule to make target".
  fs::remove(path("models/sub/tri.mtl"));
  r = shell("make");
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(read("out/sub/tri.x.d"), "out/sub/tri.x: \\\n  models/sub/tri.obj\n");
  // A warning fails the build, and leaves no .x.
  write("models/wire.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nl 1 2\n");
  r = shell("make");
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("molv: models/wire.obj: failed by its warnings (--strict): lines-left-out"),
            std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("out/wire.x")));
}

// The command line page's CI lines, run as a shell would: the report's
// total says what failed, the exit status fails the job.
TEST_F(Pipeline, TheDocumentedCiLinesFailOnAWarning) {
  fs::create_directories(path("models/cars"));
  write("models/cars/quad.json", kQuad);
  write("models/tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  std::string lines;
  for (const std::string start :
       {"molv export models/", "tail -1 report.jsonl | grep", "exit $status"})
    lines += readme_command(start) + "\n";
  ASSERT_NE(lines.find("--strict"), std::string::npos) << lines;
  auto r = shell(lines);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "\"failed\":0\n");
  EXPECT_TRUE(fs::exists(path("out/cars/quad.x")));
  write("models/wire.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nl 1 2\n");
  r = shell(lines);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(r.out, "\"failed\":1\n");
}

// The command line page's GNU parallel line, where Debian's parallel and the test
// models are installed.
TEST_F(Pipeline, TheDocumentedParallelLineReportsEveryModel) {
  const std::string folder = "/usr/share/assimp/models/OBJ";
  if (access("/usr/bin/parallel", X_OK) != 0 || !fs::is_directory(folder))
    GTEST_SKIP() << "needs Debian's parallel and assimp-testmodels";
  const std::string command = readme_command("find " + folder);
  ASSERT_NE(command.find("| parallel"), std::string::npos) << command;
  const auto r = shell(command);
  EXPECT_FALSE(r.timed_out);
  size_t models = 0;
  for (const auto &entry : fs::directory_iterator(folder))
    models += entry.path().extension() == ".obj";
  // One valid object per model, each done one with its file, and a total
  // per job.
  const auto lines = qel_test::text_lines(read("report.jsonl"));
  EXPECT_EQ(lines.size(), 2 * models);
  // --strict fails the models that warn, each with the codes that did.
  size_t done = 0;
  for (const std::string &line : lines) {
    const auto model = nlohmann::json::parse(line);
    if (model.contains("total")) continue;
    if (model.at("status") != "done") {
      EXPECT_FALSE(model.at("reason").get<std::string>().empty()) << line;
      EXPECT_TRUE(model.contains("failed_by") || !model.contains("bytes")) << line;
      continue;
    }
    ++done;
    EXPECT_EQ(model.at("bytes").get<std::uintmax_t>(),
              fs::file_size(path(model.at("output").get<std::string>())));
  }
  EXPECT_GT(done, 0u);
}

// GNU make itself reads the rules: each model's name, however odd, is
// the file make watches; a name make cannot hold is refused before
// anything is written.
TEST_F(Pipeline, DepfileNamesAreTheFilesMakeWatches) {
  // Each name once and normal; an empty rule for each file but the model.
  EXPECT_EQ(molv::cli::make_rule("./out/a b.x",
                                 {"m/a b.obj", "m/./$x#1.obj", "m//a b.obj", "n/../c:d"}),
            "out/a\\ b.x: \\\n  m/a\\ b.obj \\\n  m/$$x\\#1.obj \\\n  c\\:d\n"
            "\nm/$$x\\#1.obj:\n\nc\\:d:\n");
  write("Makefile", "out.x:\n\ttrue\ninclude deps.d\n");
  for (const std::string name : {"a b", "h#x", "c:d", "d$x", "b\\s", "st*r", "q?", "v|w", "p%q"}) {
    write(name + ".obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    auto r = run({name + ".obj", "-o", "out.x", "--depfile", "deps.d"});
    ASSERT_EQ(r.exit_status, 0) << name << "\n" << r.err;
    qel_test::RunOptions make;
    make.args = {"-q", "out.x"};
    make.cwd = work_;
    EXPECT_EQ(qel_test::run_program("/usr/bin/make", make).exit_status, 0) << name << read("deps.d");
    const auto earlier = fs::last_write_time(path(name + ".obj")) - std::chrono::seconds(5);
    fs::last_write_time(path("out.x"), earlier);
    r = qel_test::run_program("/usr/bin/make", make);
    EXPECT_EQ(r.exit_status, 1) << name << ": make does not see the model\n" << r.err;
    fs::remove(path(name + ".obj"));
  }
  const std::string rules = read("deps.d");
  for (const std::string name : {"e=f", "s;t", "x\\ y"}) {
    write(name + ".obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const auto r = run({name + ".obj", "-o", "refused.x", "--depfile", "deps.d"});
    EXPECT_EQ(r.exit_status, 2) << name << "\n" << r.err;
    EXPECT_NE(r.err.find("the depfile cannot name"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(path("refused.x")));
  EXPECT_EQ(read("deps.d"), rules);
  EXPECT_EQ(run({"-", "--format", "obj", "--depfile", "deps.d"}).exit_status, 2);
}

// ---- molv info --------------------------------------------------------------------------

TEST_F(Pipeline, InfoTellsWhatTheModelAndItsXHoldAndWritesNothing) {
  write("wire.obj", "mtllib wire.mtl\nusemtl red\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                    "f 1 2 3\nl 1 4\n");
  write("wire.mtl", "newmtl red\nKd 1 0 0\nmap_Kd missing.png\n");
  write("quad.json", kQuad);
  const auto before = entries();
  qel_test::RunOptions options;
  options.args = {"info", "wire.obj", "quad.json"};
  options.cwd = work_;
  auto r = qel_test::run_molv(options);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("wire.obj\n  the model: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 face, 1 line, 0 points, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  texture missing.png: not found\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  warning: 1 line segment left out"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("quad.json\n  for the .x: 1 object, 1 mesh, 4 vertices, 1 face"),
            std::string::npos) << r.out;
  options.args = {"info", "wire.obj", "--report", "-"};
  r = qel_test::run_molv(options);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const auto info = nlohmann::json::parse(r.out);
  EXPECT_EQ(info.at("model").at("lines"), 1);
  EXPECT_EQ(info.at("x").at("faces"), 1);
  EXPECT_EQ(info.at("x").at("textures").at(0).at("found"), false);
  EXPECT_EQ(info.at("warnings").at(0).at("code"), "lines-left-out");
  EXPECT_EQ(entries(), before);
  options.args = {"info", "none.obj"};
  EXPECT_EQ(qel_test::run_molv(options).exit_status, 2);

  // A folder, read side by side and shown in its order, with what the
  // meshes hold beside what the .x keeps.
  fs::create_directory(path("more"));
  write("more/colours.obj", "v 0 0 0 1 0 0\nv 2 0 0 0 1 0\nv 0 3 0 0 0 1\nv 0 1 1\n"
                            "v -1 0 0\nf 1 2 3\nf 1 3 4 5\n");
  write("more/wire.obj", read("wire.obj"));
  write("more/wire.mtl", read("wire.mtl"));
  options.args = {"info", "more", "--jobs", "1"};
  const auto one = qel_test::run_molv(options);
  options.args = {"info", "more", "--jobs", "2"};
  r = qel_test::run_molv(options);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, one.out);
  EXPECT_EQ(r.out.find("more/colours.obj\n"), 0u) << r.out;
  EXPECT_NE(r.out.find("  in its meshes: 1 triangle, 1 polygon, 0 bones, 1 mesh with vertex "
                       "colours; bounding box -1 0 0 to 2 3 1\n  the .x keeps: 1 triangle, 1 "
                       "polygon, 0 bones, 0 animations, 0 meshes with vertex colours"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nmore/wire.obj\n"), std::string::npos) << r.out;
  options.args = {"info", "more/colours.obj", "--report", "-"};
  const auto colours = nlohmann::json::parse(qel_test::run_molv(options).out);
  EXPECT_EQ(colours.at("model").at("vertex_colour_meshes"), 1);
  EXPECT_EQ(colours.at("model").at("bounding_box"),
            nlohmann::json::parse(R"({"min": [-1, 0, 0], "max": [2, 3, 1]})"));
  EXPECT_EQ(colours.at("x").at("bones"), 0);
}

// ---- errors that say what to do ------------------------------------------------------

TEST(PipelineArgs, MistakesGetTheNearestValidWordAndWhatIsAllowed) {
  struct Case {
    std::vector<std::string> words;
    std::string part;
  } cases[] = {
      {{"export", "--default"}, "(did you mean --defaults?)"},
      {{"export", "--extract-texture"}, "(did you mean --extract-textures?)"},
      {{"export", "--remembred"}, "(did you mean --remembered?)"},
      {{"export", "--set", "triangluate=1"}, "(did you mean triangulate?)"},
      {{"export", "--set", "decimals=10"}, "decimals is a digit 0-9"},
      {{"export", "--set", "normals=2"}, "normals is a switch: 0 or 1"},
      {{"export", "--defaults", "--remembered"}, "exclude each other"},
  };
  for (const auto &c : cases) {
    molv::cli::Args args;
    std::string error;
    EXPECT_FALSE(molv::cli::parse_args(c.words, &args, &error)) << c.words.back();
    EXPECT_NE(error.find(c.part), std::string::npos) << error;
  }
  molv::cli::Args args;
  std::string error;
  ASSERT_FALSE(molv::cli::parse_args({"export", "--frobnicate"}, &args, &error));
  EXPECT_EQ(error.find("did you mean"), std::string::npos) << error;
}

TEST_F(Pipeline, FailuresSayWhyInTheNamesTheUserGave) {
  write("quad.json", kQuad);
  auto r = run({"quad.json", "-o", "out.fbx"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("molv: warning: -o out.fbx writes out.fbx.x"), std::string::npos)
      << r.err;
  // The plug-in's words stay; the host adds the system's reason.
  r = run({"quad.json", "-o", "no/such/quad"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("Can not open file 'no/such/quad.x' for writing ! (no such folder "
                       "'no/such')"),
            std::string::npos)
      << r.err;
  fs::create_directory(path("locked"));
  chmod(path("locked").c_str(), 0555);
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  r = run({"quad.json", "-o", "locked/quad"}, nobody);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("for writing ! (Permission denied in 'locked')"), std::string::npos)
      << r.err;
  // A plug-in folder without the plug-in is named as given.
  fs::create_directory(path("empty"));
  qel_test::RunOptions in_work;
  in_work.args = {"export", "quad.json", "--plugin-dir", "empty"};
  in_work.cwd = work_;
  r = qel_test::run_molv(in_work);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("molv: empty/qel_export.so: ", 0), 0u) << r.err;
}

}  // namespace
