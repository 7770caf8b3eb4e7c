/*
 * The molv command line: how it reads its words (in-process), and what the
 * built executable does with usage errors, bad scenes and bad plug-in
 * folders (one clear line, the right exit status, nothing written).  Full
 * exports are checked by the export's own end-to-end tests, the window by
 * gui_test.cpp.
 */
#include "cli/args.h"
#include "cli/usage.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/options.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/grid_scene.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"

namespace fs = std::filesystem;
using molv::cli::Args;
using molv::cli::Mode;

namespace {

Args parse_ok(const std::vector<std::string> &words) {
  Args args;
  std::string error;
  EXPECT_TRUE(molv::cli::parse_args(words, &args, &error)) << error;
  return args;
}

std::string parse_error(const std::vector<std::string> &words) {
  Args args;
  std::string error;
  EXPECT_FALSE(molv::cli::parse_args(words, &args, &error));
  return error;
}

// ---- reading the words --------------------------------------------------------

TEST(CliArgs, ExportTakesEveryOptionInBothSpellings) {
  const Args args =
      parse_ok({"export", "scene.json", "-o", "out/box.x", "--options=0101", "--set", "17=0",
                "--set=49=2", "--plugin-dir", "plug", "--debug-log=trace.txt", "--host-version",
                "5.5", "--cancel-at-poll", "3", "--fail-alloc-after=0", "--quiet"});
  EXPECT_EQ(args.mode, Mode::kExport);
  EXPECT_EQ(args.scenes, std::vector<std::string>{"scene.json"});
  EXPECT_TRUE(args.has_out);
  EXPECT_EQ(args.out, "out/box.x");
  EXPECT_TRUE(args.has_options);
  EXPECT_EQ(args.options, "0101");
  EXPECT_EQ(args.sets, (std::vector<std::pair<long, char>>{{17, '0'}, {49, '2'}}));
  EXPECT_EQ(args.plugin_dir, "plug");
  EXPECT_EQ(args.debug_log, "trace.txt");
  EXPECT_TRUE(args.has_host_version);
  EXPECT_EQ(args.host_version, 5.5);
  EXPECT_EQ(args.test.cancel_at_poll, 3);
  EXPECT_EQ(args.test.fail_alloc_after, 0);
  EXPECT_TRUE(args.quiet);
}

TEST(CliArgs, DefaultsAndSpecialWords) {
  const Args plain = parse_ok({"export"});
  EXPECT_TRUE(plain.scenes.empty());
  EXPECT_EQ(plain.jobs, 0);  // one per core
  EXPECT_FALSE(plain.has_out);
  EXPECT_FALSE(plain.has_options);
  EXPECT_EQ(plain.test.cancel_at_poll, 0);
  EXPECT_LT(plain.test.fail_alloc_after, 0);
  EXPECT_FALSE(plain.quiet);
  // "--" lets a scene name begin with '-'; an empty option string is allowed.
  EXPECT_EQ(parse_ok({"export", "--", "-odd.json"}).scenes, std::vector<std::string>{"-odd.json"});
  const Args batch = parse_ok({"export", "a.obj", "b.gltf", "-j", "3", "c.json", "--verbose",
                               "--extract-textures", "-o", "out/"});
  EXPECT_EQ(batch.scenes, (std::vector<std::string>{"a.obj", "b.gltf", "c.json"}));
  EXPECT_EQ(batch.jobs, 3);
  EXPECT_TRUE(batch.verbose);
  EXPECT_TRUE(batch.extract_textures);
  EXPECT_TRUE(parse_ok({"export", "--options", ""}).has_options);
  EXPECT_EQ(parse_ok({"--help"}).mode, Mode::kHelp);
  EXPECT_EQ(parse_ok({"export", "scene.json", "--help"}).mode, Mode::kHelp);
  const Args gui = parse_ok({"gui", "s.json", "--script", "run.tcl", "--plugin-dir", "p"});
  EXPECT_EQ(gui.mode, Mode::kGui);
  EXPECT_EQ(gui.script, "run.tcl");
  EXPECT_EQ(gui.plugin_dir, "p");
}

TEST(CliArgs, UsageErrorsSayWhatIsWrongOnOneLine) {
  struct Case {
    std::vector<std::string> words;
    std::string start;
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"export", "--bogus"}, "unknown option '--bogus'"},
      {{"export", "-o"}, "option '-o' needs a value"},
      {{"export", "--set", "7"}, "--set '7': expected NAME=C or N=C"},
      {{"export", "--set", "7=ab"}, "--set '7=ab': option 7 is a switch: 0 or 1"},
      {{"export", "--cancel-at-poll", "0"}, "--cancel-at-poll '0'"},
      {{"export", "--cancel-at-poll", "2x"}, "--cancel-at-poll '2x'"},
      {{"export", "--fail-alloc-after", "-1"}, "--fail-alloc-after '-1'"},
      {{"export", "--host-version", "five"}, "--host-version 'five': not a number"},
      {{"export", "--host-version", "nan"}, "--host-version 'nan': not a number"},
      {{"gui", "a.json", "b.json"}, "molv gui takes one scene, not also 'b.json'"},
      {{"export", "--jobs", "0"}, "--jobs '0': expected a count of 1 to 256"},
      {{"export", "-j", "many"}, "--jobs 'many': expected a count"},
      {{"export", "--quiet=yes"}, "option '--quiet' takes no value"},
      {{"export", "--script", "s.tcl"}, "option '--script' belongs to molv gui"},
      {{"gui", "-o", "x"}, "option '-o' belongs to molv export"},
      {{"export", "--plugin-dir", ""}, "--plugin-dir: empty folder name"},
  };
  for (const Case &c : cases) {
    const std::string error = parse_error(c.words);
    EXPECT_EQ(error.rfind(c.start, 0), 0u) << error;
    EXPECT_NE(error.find("molv --help"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(CliArgs, ExportNameDropsOneTrailingDotXOrGoesIntoAFolder) {
  auto name = [](const std::vector<std::string> &words) {
    const Args args = parse_ok(words);
    return molv::cli::export_name(args, args.scenes.empty() ? "" : args.scenes[0]);
  };
  EXPECT_EQ(name({"export"}), "sample");
  EXPECT_EQ(name({"export", "scenes/box.json"}), "box");
  EXPECT_EQ(name({"export", "scenes/two.parts.JSON"}), "two.parts");
  EXPECT_EQ(name({"export", "-o", "out/box.x"}), "out/box");
  EXPECT_EQ(name({"export", "-o", "box.x.x"}), "box.x");
  EXPECT_EQ(name({"export", "-o", "box.X"}), "box.X");
  EXPECT_EQ(name({"export", "-o", "my file"}), "my file");
  EXPECT_EQ(name({"export", "scene.json", "-o", "other"}), "other");
  // A folder: named so by its slash, or one that exists.
  EXPECT_EQ(name({"export", "a/box.obj", "-o", "out/"}), "out/box");
  EXPECT_EQ(name({"export", "-o", "out/"}), "out/sample");
  const std::string here = fs::temp_directory_path().string();
  EXPECT_EQ(name({"export", "box.glb", "-o", here}), here + "/box");
}

TEST(CliArgs, OptionsAreCopiedOverTheStartThenEachSetApplies) {
  const std::string dialog = qel::kDefaultOptions;
  std::string options = dialog;
  std::string error;
  Args args =
      parse_ok({"export", "--set", "1=1", "--options", "111", "--set", "49=2", "--set", "0=0"});
  ASSERT_TRUE(molv::cli::apply_options(args, &options, &error)) << error;
  EXPECT_EQ(options, "01101111000010100101001111101100000000000000000002");

  // The index is checked again where the string is, whatever its length.
  options = "0101";
  args = Args();
  args.sets = {{4, '1'}};
  EXPECT_FALSE(molv::cli::apply_options(args, &options, &error));
  EXPECT_EQ(error, "--set 4=1: the options have only 4 characters");
}

TEST(CliArgs, OptionsByNameOrNumberWithTheirValuesChecked) {
  const Args named = parse_ok({"export", "--set", "triangulate=1", "--set=duplication_indices=1",
                               "--set", "decimals=3", "--set", "0=1", "--set", "49=0", "--options",
                               std::string(49, '0') + "9", "--defaults"});
  EXPECT_EQ(named.sets, (std::vector<std::pair<long, char>>{
                            {9, '1'}, {13, '1'}, {49, '3'}, {0, '1'}, {49, '0'}}));
  EXPECT_TRUE(named.defaults);
  // A plain run starts from the defaults too; --remembered asks otherwise.
  EXPECT_TRUE(parse_ok({"export"}).defaults);
  EXPECT_FALSE(parse_ok({"export", "--remembered"}).defaults);

  // Each refusal names what was given and why, on one line.
  struct Case {
    std::vector<std::string> words;
    std::string error;
  } cases[] = {
      {{"export", "--set", "13=2"}, "--set '13=2': option 13 is a switch: 0 or 1"},
      {{"export", "--set", "triangulate=y"}, "--set 'triangulate=y': triangulate is a switch"},
      {{"export", "--set", "decimals=x"}, "--set 'decimals=x': decimals is a digit"},
      {{"export", "--set", "49=-"}, "--set '49=-': decimals is a digit"},
      {{"export", "--set", "triangle=1"}, "--set 'triangle=1': no option 'triangle'"},
      {{"export", "--set", "opt_triangulate=1"}, "--set 'opt_triangulate=1': no option"},
      {{"export", "--set", "50=1"}, "--set '50=1': no option '50'"},
      {{"export", "--set", "-1=1"}, "--set '-1=1': no option '-1'"},
      {{"export", "--set", "09=1"}, "--set '09=1': no option '09'"},
      {{"export", "--options", "1x1"}, "--options '1x1': character 1 is 'x'; a switch is 0 or 1"},
      {{"export", "--options", std::string(49, '0') + "a"},
       "--options '" + std::string(49, '0') + "a': character 49 is 'a'; character 49 is a digit"},
      {{"export", "--options", std::string(51, '0')},
       "--options '" + std::string(51, '0') + "': has 51 characters, the options only 50"},
      {{"export", "--defaults=1"}, "option '--defaults' takes no value"},
      {{"gui", "--defaults"}, "option '--defaults' belongs to molv export"},
  };
  for (const Case &c : cases) {
    const std::string error = parse_error(c.words);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// The command line's page shows the whole help as the program prints it
// (with the build's plug-in folder as "build/plugin").
TEST(CliArgs, TheCommandLinePageShowsTheHelpAsItIs) {
  const std::string readme =
      qel_test::read_file(std::string(QEL_SOURCE_DIR) + "/docs/command-line.md");
  const std::string start = "$ molv --help\n";
  const size_t from = readme.find(start);
  ASSERT_NE(from, std::string::npos);
  const size_t to = readme.find("```", from);
  ASSERT_NE(to, std::string::npos);
  std::string help = molv::cli::usage_text();
  const std::string folder = QEL_PLUGIN_BUILD_DIR;
  help.replace(help.find(folder), folder.size(), "build/plugin");
  EXPECT_EQ(readme.substr(from + start.size(), to - from - start.size()), help);
}

// ---- the executable --------------------------------------------------------------

class Cli : public ::testing::Test {
 protected:
  void SetUp() override { work_ = qel_test::make_temp_dir("cli"); }
  void TearDown() override { qel_test::remove_tree(work_); }

  qel_test::RunResult run(const std::vector<std::string> &args) {
    qel_test::RunOptions options;
    options.args = args;
    options.cwd = work_;
    return qel_test::run_molv(options);
  }
  // The run failed with exactly one line on stderr, which is returned.
  std::string one_failure_line(const qel_test::RunResult &r, int status) {
    EXPECT_EQ(r.exit_status, status) << r.err;
    EXPECT_EQ(r.signal, 0);
    const auto lines = qel_test::text_lines(r.err);
    EXPECT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    return lines.empty() ? std::string() : lines[0];
  }
  std::vector<std::string> files_left() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(work_))
      names.push_back(entry.path().filename().string());
    return names;
  }
  std::string write(const std::string &name, const std::string &text) const {
    const std::string path = work_ + "/" + name;
    qel_test::write_file(path, text);
    return path;
  }

  std::string work_;
};

TEST_F(Cli, HelpShowsBothCommandsOnStandardOutput) {
  for (const char *word : {"--help", "-h", "help"}) {
    const auto r = run({word});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("molv export [SCENE...]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("molv gui [SCENE] [--script FILE] [--plugin-dir DIR]"), std::string::npos);
  }
  // Every option the command line takes is explained.
  const std::string help = run({"--help"}).out;
  for (const char *option :
       {"-o, --output OUT", "-o DIR/", "--set NAME=C", "--options STRING", "--defaults",
        "--extract-textures", "-j, --jobs N", "--quiet", "--verbose", "--plugin-dir DIR",
        "--debug-log FILE", "--host-version V", "--script FILE", "--cancel-at-poll N",
        "--fail-alloc-after N", "molv --version"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  EXPECT_EQ(run({"export", "--help"}).out, run({"--help"}).out);
}

TEST_F(Cli, UsageErrorsExitWithTwoAndOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"export", "--bogus"},
      {"export", "--set", "3=ab"},
      {"export", "--cancel-at-poll", "-4"},
      {"export", "--host-version", "five"},
      {"gui", "a.json", "b.json"},
      {"gui", "--options", "0101"},
  };
  for (const auto &words : cases) {
    const auto r = run(words);
    const std::string line = one_failure_line(r, 2);
    EXPECT_EQ(line.rfind("molv: ", 0), 0u) << line;
    EXPECT_NE(line.find("(try 'molv --help')"), std::string::npos) << line;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(files_left().empty());
}

TEST_F(Cli, ModelOfAnUnknownFormatIsRefusedWithAssimpsReason) {
  write("model.xyz", "no model in here\n");
  const auto r = run({"export", "model.xyz", "-o", "out"});
  const std::string line = one_failure_line(r, 2);
  EXPECT_EQ(line.rfind("molv: model.xyz: ", 0), 0u) << line;
  EXPECT_NE(line.find("No suitable reader found"), std::string::npos) << line;
  EXPECT_EQ(files_left(), std::vector<std::string>{"model.xyz"});
}

TEST_F(Cli, BadSceneNamesTheFileAndThePlaceInIt) {
  const std::string scene = write("bad.json", R"({"world": {
      "vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]],
      "surfaces": [{"verts": [0, 1, 7]}]}})");
  const auto r = run({"export", scene, "-o", "out"});
  const std::string line = one_failure_line(r, 2);
  EXPECT_EQ(line.rfind("molv: " + scene + ": world.surfaces[0].verts[2]: ", 0), 0u) << line;

  const std::string broken = write("broken.json", "{\"world\": {");
  const std::string broken_line = one_failure_line(run({"export", broken}), 2);
  EXPECT_EQ(broken_line.rfind("molv: " + broken + ": ", 0), 0u) << broken_line;

  const std::string missing = work_ + "/missing.json";
  const std::string missing_line = one_failure_line(run({"export", missing}), 2);
  EXPECT_EQ(missing_line.rfind("molv: " + missing + ": ", 0), 0u) << missing_line;

  EXPECT_EQ(files_left().size(), 2u);  // nothing but the two scenes
}

TEST_F(Cli, MissingPluginFolderIsNamed) {
  const auto r = run({"export", "--plugin-dir", "no/such/folder", "--quiet"});
  EXPECT_EQ(one_failure_line(r, 2), "molv: no/such/folder: no such plug-in folder");
}

TEST_F(Cli, FolderWithoutThePluginNamesTheLibrary) {
  fs::create_directory(work_ + "/empty");
  const auto r = run({"export", "--plugin-dir", "empty"});
  const std::string line = one_failure_line(r, 1);
  EXPECT_EQ(line.rfind("molv: empty/qel_export.so: ", 0), 0u) << line;
}

TEST_F(Cli, UnwritableDebugLogIsAUsageError) {
  const auto r = run({"export", "--debug-log", "no/such/folder/trace.txt"});
  const std::string line = one_failure_line(r, 2);
  EXPECT_EQ(line.rfind("molv: no/such/folder/trace.txt: cannot write the debug log: ", 0), 0u)
      << line;
}

TEST_F(Cli, BadOptionValueIsRefusedBeforeTheModelIsRead) {
  qel_test::PluginDir plugin;
  write("box.json", R"({"world": {"vertices": [[0,0,0],[1,0,0],[0,1,0]],
                                   "surfaces": [{"verts": [0, 1, 2]}]}})");
  const auto r = run({"export", "box.json", "--plugin-dir", plugin.path(), "--set", "13=2"});
  EXPECT_EQ(one_failure_line(r, 2), "molv: --set '13=2': option 13 is a switch: 0 or 1 (try 'molv --help')");
  EXPECT_EQ(files_left(), std::vector<std::string>{"box.json"});
  EXPECT_FALSE(fs::exists(plugin.options_file()));
}

TEST_F(Cli, OldHostIsRefusedWithExitOne) {
  qel_test::PluginDir plugin;
  const auto r = run({"export", "--plugin-dir", plugin.path(), "--host-version", "4.9"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_TRUE(files_left().empty());
}

TEST_F(Cli, VersionNamesTheHostAndThePlugin) {
  const auto r = run({"--version"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto lines = qel_test::text_lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].rfind("molv 6.0 ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("qel_export.p v1.8 ", 0), 0u) << lines[1];

  fs::create_directory(work_ + "/empty");
  const auto missing = run({"--version", "--plugin-dir", "empty"});
  const std::string line = one_failure_line(missing, 1);
  EXPECT_EQ(line.rfind("molv: " + work_ + "/empty/qel_export.so: ", 0), 0u) << line;
}

// One quad: the remembered options triangulate it, the defaults do not.
const char kQuad[] = R"({"world": {"children": [{"name": "quad",
    "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "surfaces": [{"verts": [0, 1, 2, 3]}]}]}})";
const std::string kDefaultOptions = qel::kDefaultOptions;

TEST_F(Cli, DefaultsNeitherReadNorChangeTheRememberedOptions) {
  qel_test::PluginDir plugin;
  std::string remembered = kDefaultOptions;
  remembered[9] = '1';  // triangulate
  qel_test::write_file(plugin.options_file(), remembered);
  write("quad.json", kQuad);
  // The private plug-in folder of a --defaults run goes where TMPDIR says.
  const std::string tmp = work_ + "/tmp";
  fs::create_directory(tmp);
  auto export_quad = [&](const std::string &dir, std::vector<std::string> more) {
    qel_test::RunOptions options;
    options.args = {"export", "quad.json", "--plugin-dir", dir, "--quiet"};
    options.args.insert(options.args.end(), more.begin(), more.end());
    options.cwd = work_;
    options.env = {{"TMPDIR", tmp}};
    return qel_test::run_molv(options);
  };

  // --remembered uses what was remembered.
  ASSERT_EQ(export_quad(plugin.path(), {"-o", "plain", "--remembered"}).exit_status, 0);
  EXPECT_NE(qel_test::read_file(work_ + "/plain.x").find("\n2;\n3;"), std::string::npos);

  // --defaults writes what a plug-in that never ran writes, and leaves the
  // remembered options and TMPDIR as they were, also when --set is given
  // and when the export fails.
  qel_test::PluginDir fresh;
  ASSERT_EQ(export_quad(fresh.path(), {"-o", "fresh"}).exit_status, 0);
  const auto defaults = export_quad(plugin.path(), {"-o", "defaults", "--defaults"});
  ASSERT_EQ(defaults.exit_status, 0) << defaults.err;
  EXPECT_EQ(defaults.out + defaults.err, "");
  const std::string written = qel_test::read_file(work_ + "/defaults.x");
  EXPECT_EQ(written, qel_test::read_file(work_ + "/fresh.x"));
  EXPECT_NE(written.find("\n1;\n4;"), std::string::npos) << written;
  EXPECT_EQ(
      export_quad(plugin.path(), {"-o", "set", "--defaults", "--set", "decimals=2"}).exit_status,
      0);
  EXPECT_EQ(export_quad(plugin.path(), {"-o", "no/such/folder/x", "--defaults"}).exit_status, 1);
  EXPECT_EQ(qel_test::read_file(plugin.options_file()), remembered);
  EXPECT_TRUE(fs::is_empty(tmp));
}

// ---- what a run says -------------------------------------------------------

// "wrote FILE (SIZE): COUNTS in T s, options STRING", with the time and
// the options taken out.
std::string without_time(const std::string &line) {
  const size_t in = line.rfind(" in ");
  return in == std::string::npos || line.find(" s, options ", in) == std::string::npos
             ? line
             : line.substr(0, in);
}

TEST_F(Cli, CompleteExportEndsWithItsSummaryAndWarnings) {
  qel_test::PluginDir plugin;
  write("quad.json", kQuad);
  // A model of lines only gives a file without a mesh.
  write("empty.json", R"({"world": {"children": [{"name": "outline",
      "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0, 1, 2], "type": "line"}]}]}})");
  const std::vector<std::string> plain = {"--plugin-dir", plugin.path(), "--options",
                                          kDefaultOptions};
  auto export_of = [&](const std::string &scene, std::vector<std::string> more) {
    std::vector<std::string> words = {"export", scene};
    words.insert(words.end(), plain.begin(), plain.end());
    words.insert(words.end(), more.begin(), more.end());
    return run(words);
  };

  // Standard error is no terminal here: the summary alone, nothing of the
  // plug-in's; standard output stays empty.
  auto r = export_of("quad.json", {});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  auto lines = qel_test::text_lines(r.err);
  ASSERT_EQ(lines.size(), 1u) << r.err;
  const std::string size = std::to_string(fs::file_size(work_ + "/quad.x")) + " bytes";
  EXPECT_EQ(without_time(lines[0]), "wrote quad.x (" + size + "): 1 mesh, 4 vertices, 1 face");

  r = export_of("empty.json", {});
  lines = qel_test::text_lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_NE(lines[0].find("): 0 meshes, 0 vertices, 0 faces in "), std::string::npos);
  EXPECT_EQ(lines[1], "molv: empty.x: warning: the file holds no mesh");

  // --verbose: the plug-in's own line and every status line as it comes;
  // --quiet: not a word.
  r = export_of("quad.json", {"--verbose"});
  lines = qel_test::text_lines(r.err);
  EXPECT_GT(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Export Direct X File");
  EXPECT_EQ(lines[1], "Export X File ...");
  EXPECT_EQ(qel_test::final_status(r.err), "Ready !");
  r = export_of("empty.json", {"--quiet"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out + r.err, "");
}

// Small models of what a .x leaves out: a mesh with a bone, an animation,
// vertex colours and two texture coordinate sets (a .x read by Assimp); an
// MD2 without a skin name (header, texture places, triangle, frame), an MD5
// mesh whose texture has no name; two nodes "poly" of one parent (AC3D).
std::vector<std::pair<std::string, std::string>> left_out_models() {
  auto raw = [](const auto &d) {
    return std::string(reinterpret_cast<const char *>(&d), sizeof d);
  };
  const int32_t header[17] = {0x32504449, 8, 64, 64, 52, 0,  3,   3,  1,
                              1,          1, 68, 68, 80, 92, 144, 148};
  const int16_t places[12] = {0, 0, 64, 0, 0, 64, 0, 1, 2, 0, 1, 2};
  const float placement[6] = {1, 1, 1, 0, 0, 0};
  std::string poly =
      "OBJECT poly\nname \"poly\"\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 1\nSURF 0x10\nmat 0\n"
      "refs 3\n0 0 0\n1 0 0\n2 0 0\nkids 0\n";
  return {
      {"s.x", R"(xof 0302txt 0032
Frame Root { Mesh m { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;;
MeshTextureCoords { 3; 0.0;0.0;, 1.0;0.0;, 0.0;1.0;; }
MeshTextureCoords { 3; 0.0;0.0;, 1.0;0.0;, 0.0;1.0;; }
MeshVertexColors { 3; 0;1.0;0.0;0.0;1.0;;, 1;0.0;1.0;0.0;1.0;;, 2;0.0;0.0;1.0;1.0;;; }
SkinWeights { "Bone"; 1; 0; 1.0; 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;; } }
Frame Bone { } } AnimationSet Walk { Animation { {Bone} AnimationKey { 0; 1; 0;4;1.0,0.0,0.0,0.0;;; } } })"},
      {"faerie.md2", raw(header) + raw(places) + raw(placement) +
                         std::string("frame0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x0a\0\0\0\0\x0a\0\0", 28) +
                         std::string(8, '\0')},
      {"faerie2.bmp", ""},
      {"e.md5mesh",
       "MD5Version 10\nnumJoints 1\nnumMeshes 1\njoints {\n\"root\" -1 ( 0 0 0 ) "
       "( 0 0 0 )\n}\nmesh {\nshader \"\"\nnumverts 3\nvert 0 ( 0 0 ) 0 1\n"
       "vert 1 ( 1 0 ) 1 1\nvert 2 ( 0 1 ) 2 1\nnumtris 1\ntri 0 0 1 2\n"
       "numweights 3\nweight 0 0 1 ( 0 0 0 )\nweight 1 0 1 ( 1 0 0 )\n"
       "weight 2 0 1 ( 0 1 0 )\n}\n"},
      {"p.ac",
       // The material line's colours in the order the format reads them:
       // diffuse, ambient, emissive, specular, then shininess.
       "AC3Db\nMATERIAL \"\" rgb 1 1 1 amb 0 0 0 emis 0 0 0 sp" "ec 0 0 0 shi 0 trans 0\n"
       "OBJECT world\nkids 2\n" +
           poly + poly}};
}

TEST_F(Cli, ModelWarningsNameTheModelAndQuietSilencesThem) {
  qel_test::PluginDir plugin;
  write("wire.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nl 1 2\n");
  auto r = run({"export", "wire.obj", "--plugin-dir", plugin.path(), "--set", "normals=0"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const auto lines = qel_test::text_lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0].rfind("molv: wire.obj: warning: 1 line segment", 0), 0u) << lines[0];
  EXPECT_EQ(without_time(lines[1]).rfind("wrote wire.x (", 0), 0u) << lines[1];
  r = run({"export", "wire.obj", "--plugin-dir", plugin.path(), "--quiet"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out + r.err, "");
  // Every warning, each drawn by a small model: its code in the report,
  // and not a word of it (nor of the one for -o NAME.ext) under --quiet.
  write("a.mtl", "newmtl gone\nmap_Kd gone.png\nnewmtl case\nmap_Kd CASE.png\n");
  write("case.png", "");
  write("a.obj", "mtllib a.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1e39\nvt 0 0\nusemtl gone\n"
                 "f 1/1 2/1 3/1\nusemtl case\nf 1/1 3/1 2/1\nf 1 2 4\nl 1 2\n");
  write("e.stl", "solid e\nendsolid e\nsolid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                 "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n");
  write("l.obj", "v 0 0 0\nv 1 0 0\nl 1 2\n");
  write("g.gltf", R"({"asset": {"version": "2.0"}, "scenes": [{"nodes": [0, 1, 2, 3]}], "nodes": [
      {"mesh": 0}, {"extensions": {"KHR_lights_punctual": {"light": 0}}}, {"camera": 0}, {}],
      "extensionsUsed": ["KHR_lights_punctual"],
      "extensions": {"KHR_lights_punctual": {"lights": [{"type": "point"}]}},
      "cameras": [{"type": "perspective", "perspective": {"yfov": 1, "znear": 0.1}}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]}],
      "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
      "textures": [{"source": 0}], "images": [{"uri": "data:image/png;base64,iVBORw0KGgo="}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}], "buffers": [{"byteLength": 36, "uri":
      "data:;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}]})");
  const std::pair<std::vector<std::string>, std::vector<std::string>> warnings[] = {
      {{"a.obj", "--set", "fixed_numbers=0"},
       {"lines-left-out", "texture-missing", "texture-letter-case", "runtime-refuses"}},
      {{"a.obj", "-o", "b", "--copy-textures"}, {}},
      {{"e.stl"}, {"empty-meshes-left-out"}},
      {{"g.gltf"},
       {"lights-left-out", "cameras-left-out", "empty-nodes-left-out", "embedded-texture"}},
      {{"l.obj", "-o", "l.fbx"}, {"no-mesh"}},
      {{"a.obj", "-o", "t", "--set", "textures=0"}, {"texture-coords-left-out"}},
      {{"s.x", "-o", "sx"},
       {"skin-left-out", "animations-left-out", "vertex-colours-left-out", "texture-sets-left-out",
        "texture-coords-left-out"}},
      {{"faerie.md2"}, {"texture-placeholder"}},
      {{"e.md5mesh"}, {"texture-empty-name"}},
      {{"p.ac"}, {"frames-renamed"}},
  };
  for (const auto &[name, bytes] : left_out_models()) write(name, bytes);
  for (const auto &[words, codes] : warnings) {
    std::vector<std::string> all = {"export", "--plugin-dir", plugin.path(), "--quiet", "--report",
                                    "r"};
    all.insert(all.end(), words.begin(), words.end());
    r = run(all);
    EXPECT_EQ(r.exit_status, 0) << words[0] << r.err;
    EXPECT_EQ(r.out + r.err, "") << words[0];
    const std::string report = qel_test::read_file(work_ + "/r");
    for (const std::string &code : codes)
      EXPECT_NE(report.find(R"("code":")" + code + '"'), std::string::npos) << code;
    // Only the %g form draws the runtime's refusal.
    if (std::find(codes.begin(), codes.end(), "runtime-refuses") == codes.end()) {
      EXPECT_EQ(report.find("runtime-refuses"), std::string::npos) << words[0];
    }
  }
  // molv info says the same (default options), with the fix or the file meant.
  r = run({"info", "s.x", "faerie.md2", "e.md5mesh", "p.ac", "--report", "i"});
  const std::string info = qel_test::read_file(work_ + "/i");
  for (const char *part : {"skin-left-out", "animations-left-out", "vertex-colours-left-out",
                           "texture-sets-left-out", "texture-placeholder", "texture-empty-name",
                           "only for a textured material", "(faerie2.bmp beside the model",
                           "TextureFileName { \\\"\\\"; }", "name): poly as poly_1\""})
    EXPECT_NE(info.find(part), std::string::npos) << part << "\n" << info;
}

// What molv writes to a terminal of its own (standard output and error
// both), with its exit status; the pty turns each "\n" into "\r\n".
std::string run_on_terminal(const std::vector<std::string> &args, const std::string &cwd,
                            int *status) {
  int master = -1;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = 120;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    std::vector<char *> argv = {const_cast<char *>(MOLV_BINARY)};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    if (chdir(cwd.c_str()) == 0) execv(MOLV_BINARY, argv.data());
    _exit(127);
  }
  std::string seen;
  if (pid < 0) return seen;
  char buffer[4096];
  for (int waited = 0; waited < 120;) {
    struct pollfd ready = {master, POLLIN, 0};
    const int n = poll(&ready, 1, 1000);
    if (n == 0) {
      ++waited;
      continue;
    }
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO: the child has gone
    seen.append(buffer, static_cast<size_t>(got));
  }
  kill(pid, SIGKILL);
  waitpid(pid, status, 0);
  close(master);
  return seen;
}

TEST_F(Cli, OnATerminalTheStatusIsRedrawnInPlace) {
  qel_test::PluginDir plugin;
  std::string obj;
  for (int y = 0; y <= 150; ++y)
    for (int x = 0; x <= 150; ++x)
      obj += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 150; ++x) {
      const int a = y * 151 + x + 1;
      obj += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " +
             std::to_string(a + 152) + " " + std::to_string(a + 151) + "\n";
    }
  write("grid.obj", obj);
  int status = -1;
  const std::string seen =
      run_on_terminal({"export", "grid.obj", "--plugin-dir", plugin.path()}, work_, &status);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  // The model's loading, then the plug-in's phases with their bar, each
  // drawn over the last; the last status stays, the summary follows.
  EXPECT_EQ(seen.rfind("\r\033[KLoading grid.obj ...", 0), 0u) << seen;
  EXPECT_NE(seen.find("\r\033[KExport X File - Mesh Vertices ...  ["), std::string::npos);
  const size_t ready = seen.find("\r\033[KReady !\r\nwrote grid.x (");
  ASSERT_NE(ready, std::string::npos) << seen;
  EXPECT_NE(seen.find(": 1 mesh, 22801 vertices, 22500 faces in ", ready), std::string::npos);

  // Processes side by side never redraw a line they share: each model is
  // its summary.
  write("other.obj", obj);
  const std::string jobs = run_on_terminal(
      {"export", "grid.obj", "other.obj", "-o", "out/", "-j", "2", "--plugin-dir", plugin.path()},
      work_, &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << jobs;
  EXPECT_EQ(jobs.find('\033'), std::string::npos) << jobs;
  EXPECT_NE(jobs.find("wrote out/grid.x ("), std::string::npos) << jobs;
  EXPECT_NE(jobs.find("wrote out/other.x ("), std::string::npos) << jobs;
}

// ---- output names and several models ----------------------------------------

TEST_F(Cli, OutputNamesAFolderByItsSlashOrBecauseItIsOne) {
  qel_test::PluginDir plugin;
  write("quad.json", kQuad);
  // A folder that does not exist yet is made when the slash says so.
  auto r = run({"export", "quad.json", "-o", "out/deeper/", "--plugin-dir", plugin.path()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(fs::exists(work_ + "/out/deeper/quad.x"));
  // Without the slash an existing folder still takes the scene's name.
  r = run({"export", "quad.json", "-o", "out", "--plugin-dir", plugin.path()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(fs::exists(work_ + "/out/quad.x"));
  EXPECT_FALSE(fs::exists(work_ + "/out/.x"));

  // Several models need a folder, and no two of them may meet in one file.
  fs::create_directory(work_ + "/other");
  write("other/quad.json", kQuad);
  EXPECT_EQ(one_failure_line(run({"export", "quad.json", "other/quad.json", "-o", "one.x"}), 2),
            "molv: -o one.x names one file; for 2 models give a folder (-o DIR/) (try 'molv "
            "--help')");
  const auto clash = run({"export", "quad.json", "other/quad.json", "-o", "all/"});
  EXPECT_EQ(clash.exit_status, 2);
  EXPECT_EQ(clash.err,
            "molv: quad.json and other/quad.json would both be written to all/quad.x\n"
            "molv: 2 models would be written to the same files; nothing was written "
            "(--relative-to DIR keeps each model's folders below DIR; --keep-going writes the "
            "others) (try 'molv --help')\n");
  EXPECT_FALSE(fs::exists(work_ + "/all"));
  EXPECT_FALSE(fs::exists(work_ + "/one.x"));
}

TEST_F(Cli, ManyModelsInOneRunOrSideBySide) {
  write("a.json", kQuad);
  write("b.json", "{\"world\": {");
  write("c.json", R"({"world": {"children": [{"name": "tri",
      "vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0, 1, 2]}]}]}})");
  std::string used = kDefaultOptions;
  used[9] = '1';
  for (const char *jobs : {"1", "3"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    qel_test::PluginDir plugin;
    const std::string out = std::string("out") + jobs + "/";
    const auto r = run({"export", "a.json", "b.json", "c.json", "-o", out, "--jobs", jobs,
                        "--plugin-dir", plugin.path(), "--set", "triangulate=1",
                        "--remembered"});
    // The bad scene is named and the worst status wins; the others go.
    EXPECT_EQ(r.exit_status, 2) << r.err;
    const auto lines = qel_test::text_lines(r.err);
    // A line per model: two summaries, the failure; then the total.
    EXPECT_EQ(lines.size(), 4u) << r.err;
    int bad = 0, wrote = 0;
    for (const std::string &line : lines) {
      bad += line.rfind("molv: b.json: ", 0) == 0;
      wrote += line.rfind("wrote " + out + "a.x (", 0) == 0 ||
               line.rfind("wrote " + out + "c.x (", 0) == 0;
    }
    EXPECT_EQ(bad, 1) << r.err;
    EXPECT_EQ(wrote, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines.back().rfind("molv: 3 models: 2 done, 0 failed, 1 refused in ", 0), 0u)
        << r.err;
    EXPECT_NE(qel_test::read_file(work_ + "/" + out + "a.x").find("\n2;\n3;"), std::string::npos);
    EXPECT_FALSE(fs::exists(work_ + "/" + out + "b.x"));
    // The options of the complete exports are remembered, as by one run.
    EXPECT_EQ(qel_test::read_file(plugin.options_file()), used);
  }
  EXPECT_EQ(qel_test::read_file(work_ + "/out1/a.x"), qel_test::read_file(work_ + "/out3/a.x"));
  EXPECT_EQ(qel_test::read_file(work_ + "/out1/c.x"), qel_test::read_file(work_ + "/out3/c.x"));

  // Side by side with --defaults: the remembered options stay as they were
  // and no private folder is left behind.
  qel_test::PluginDir plugin;
  qel_test::write_file(plugin.options_file(), used);
  const std::string tmp = work_ + "/tmp";
  fs::create_directory(tmp);
  qel_test::RunOptions options;
  options.args = {"export", "a.json",     "c.json",       "-o",          "fresh/", "-j",
                  "2",      "--defaults", "--plugin-dir", plugin.path(), "--quiet"};
  options.cwd = work_;
  options.env = {{"TMPDIR", tmp}};
  const auto r = qel_test::run_molv(options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_NE(qel_test::read_file(work_ + "/fresh/a.x").find("\n1;\n4;"), std::string::npos);
  EXPECT_EQ(qel_test::read_file(plugin.options_file()), used);
  EXPECT_TRUE(fs::is_empty(tmp));
}

using qel_test::grid_scene;

TEST_F(Cli, CtrlCCancelsTheExportThroughThePlugin) {
  qel_test::PluginDir plugin;
  const std::string scene = write("grid.json", grid_scene(400));
  qel_test::RunOptions options;
  options.args = {"export", scene, "-o", "grid", "--plugin-dir", plugin.path(), "--verbose"};
  options.cwd = work_;
  // Status lines reach a pipe one per line: the first cancel poll of the
  // mesh is the moment to press Ctrl-C.
  options.interrupt_on = "Optimize Vertices";
  const auto r = qel_test::run_molv(options);
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.signal, 0) << "one Ctrl-C cancels, it does not end molv";
  EXPECT_EQ(r.exit_status, 1);
  const auto lines = qel_test::text_lines(r.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "*** Abort by User ! ***");
  EXPECT_FALSE(fs::exists(work_ + "/grid.x"));
  EXPECT_FALSE(fs::exists(plugin.options_file()));
}

}  // namespace
