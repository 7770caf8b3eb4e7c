/*
 * The molv command line: how it reads its words (in-process), and what the
 * built executable does with usage errors, bad scenes and bad plug-in
 * folders (one clear line, the right exit status, nothing written).  Full
 * exports are checked by the export's own end-to-end tests, the window by
 * gui_test.cpp.
 */
#include "cli.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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
  EXPECT_EQ(args.scene, "scene.json");
  EXPECT_TRUE(args.has_out);
  EXPECT_EQ(args.out, "out/box.x");
  EXPECT_TRUE(args.has_options);
  EXPECT_EQ(args.options, "0101");
  EXPECT_EQ(args.sets, (std::vector<std::pair<long, char>>{{17, '0'}, {49, '2'}}));
  EXPECT_EQ(args.plugin_dir, "plug");
  EXPECT_EQ(args.debug_log, "trace.txt");
  EXPECT_TRUE(args.has_host_version);
  EXPECT_EQ(args.host_version, 5.5);
  EXPECT_EQ(args.cancel_at_poll, 3);
  EXPECT_EQ(args.fail_alloc_after, 0);
  EXPECT_TRUE(args.quiet);
}

TEST(CliArgs, DefaultsAndSpecialWords) {
  const Args plain = parse_ok({"export"});
  EXPECT_EQ(plain.scene, "");
  EXPECT_FALSE(plain.has_out);
  EXPECT_FALSE(plain.has_options);
  EXPECT_EQ(plain.cancel_at_poll, 0);
  EXPECT_LT(plain.fail_alloc_after, 0);
  EXPECT_FALSE(plain.quiet);
  // "--" lets a scene name begin with '-'; an empty option string is allowed.
  EXPECT_EQ(parse_ok({"export", "--", "-odd.json"}).scene, "-odd.json");
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
      {{"export", "--set", "7=ab"}, "--set '7=ab': expected NAME=C or N=C"},
      {{"export", "--cancel-at-poll", "0"}, "--cancel-at-poll '0'"},
      {{"export", "--cancel-at-poll", "2x"}, "--cancel-at-poll '2x'"},
      {{"export", "--fail-alloc-after", "-1"}, "--fail-alloc-after '-1'"},
      {{"export", "--host-version", "five"}, "--host-version 'five': not a number"},
      {{"export", "--host-version", "nan"}, "--host-version 'nan': not a number"},
      {{"export", "a.json", "b.json"}, "molv export takes one scene, not also 'b.json'"},
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

TEST(CliArgs, ExportNameDropsOneTrailingDotX) {
  auto name = [](const std::vector<std::string> &words) {
    return molv::cli::export_name(parse_ok(words));
  };
  EXPECT_EQ(name({"export"}), "sample");
  EXPECT_EQ(name({"export", "scenes/box.json"}), "box");
  EXPECT_EQ(name({"export", "scenes/two.parts.JSON"}), "two.parts");
  EXPECT_EQ(name({"export", "-o", "out/box.x"}), "out/box");
  EXPECT_EQ(name({"export", "-o", "box.x.x"}), "box.x");
  EXPECT_EQ(name({"export", "-o", "box.X"}), "box.X");
  EXPECT_EQ(name({"export", "-o", "my file"}), "my file");
  EXPECT_EQ(name({"export", "scene.json", "-o", "other"}), "other");
}

TEST(CliArgs, OptionsAreCopiedOverTheStartThenEachSetApplies) {
  const std::string dialog = "00001111000010100101001111101100000000000000000006";
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
  EXPECT_FALSE(parse_ok({"export"}).defaults);

  // Each refusal names what was given and why, on one line.
  struct Case {
    std::vector<std::string> words;
    std::string error;
  } cases[] = {
      {{"export", "--set", "13=2"}, "--set '13=2': a switch is 0 or 1"},
      {{"export", "--set", "triangulate=y"}, "--set 'triangulate=y': a switch is 0 or 1"},
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
    EXPECT_NE(r.out.find("molv export [SCENE]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("molv gui [SCENE]"), std::string::npos);
    EXPECT_NE(r.out.find("--cancel-at-poll N"), std::string::npos);
  }
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
      {"export", "a.json", "b.json"},
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
  EXPECT_EQ(line.rfind("molv: " + work_ + "/empty/qel_export.so: ", 0), 0u) << line;
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
  EXPECT_EQ(one_failure_line(r, 2), "molv: --set '13=2': a switch is 0 or 1 (try 'molv --help')");
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
const std::string kDefaultOptions = "00001111000010100101001111101100000000000000000006";

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

  // A plain run uses what was remembered.
  ASSERT_EQ(export_quad(plugin.path(), {"-o", "plain"}).exit_status, 0);
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

using qel_test::grid_scene;

TEST_F(Cli, CtrlCCancelsTheExportThroughThePlugin) {
  qel_test::PluginDir plugin;
  const std::string scene = write("grid.json", grid_scene(400));
  qel_test::RunOptions options;
  options.args = {"export", scene, "-o", "grid", "--plugin-dir", plugin.path()};
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
