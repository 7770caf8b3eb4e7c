/*
 * The host's Tcl side as a plug-in sees it: tcl_command, the molv command
 * with registered subcommands, the export menu, the texts a plug-in shows,
 * the counted "update" with its cancel points, and the quiet window
 * commands without a display.
 */
#include <gtest/gtest.h>
#include <tcl.h>
#include <tk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/display.h"
#include "api/model.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "import/scene_file.h"

namespace {

class TclBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    molv::tcl_start(false);
    molv::clear_recording();
  }
  void TearDown() override {
    molv::tcl_stop();
    molv::hooks() = molv::Hooks();
    molv::set_debug_file(nullptr);
    molv::set_record_debug(false);
    molv::clear_recording();
  }
  static std::string eval(const std::string &script, int expected = TCL_OK) {
    std::string result;
    EXPECT_EQ(molv::tcl_eval(script, &result), expected) << script << " -> " << result;
    return result;
  }
  static std::string global(const char *name) {
    const char *value = Tcl_GetVar(molv::tcl_interp(), name, TCL_GLOBAL_ONLY);
    return value ? value : "<unset>";
  }
};

// Handlers record how they were called.
std::vector<std::string> g_words;
int g_calls = 0;

const char *record_words(int argc, const char *const *argv) {
  ++g_calls;
  g_words.assign(argv, argv + argc);
  static std::string joined;
  joined.clear();
  for (int i = 0; i < argc; ++i) joined += (i ? "|" : "") + std::string(argv[i]);
  return joined.c_str();
}

const char *return_null(int, const char *const *) { return nullptr; }

const char *return_other(int, const char *const *) { return "other"; }

// ---- tcl_command ------------------------------------------------------------

TEST_F(TclBridge, TclCommandFormatsAndReturnsTheResult) {
  EXPECT_STREQ(tcl_command("expr {%d + %d}", 40, 2), "42");
  EXPECT_STREQ(tcl_command("set name %s", "{box 1}"), "box 1");
  EXPECT_EQ(global("name"), "box 1");
  // A "%" reaching Tcl through an argument stays text.
  EXPECT_STREQ(tcl_command("set pct {%s}", "50 %d %%"), "50 %d %%");
}

TEST_F(TclBridge, TclCommandReturnsTheErrorTextAfterAnError) {
  EXPECT_STREQ(tcl_command("error %s", "{went wrong}"), "went wrong");
  EXPECT_STREQ(tcl_command("set %s", "a b c"),
               "wrong # args: should be \"set varName ?newValue?\"");
  EXPECT_STREQ(tcl_command("no_such_command_%d", 7), "invalid command name \"no_such_command_7\"");
  // The interpreter goes on after an error.
  EXPECT_STREQ(tcl_command("set ok %d", 1), "1");
}

TEST_F(TclBridge, TclCommandHandlesTextsOfAnyLength) {
  const std::string word(100000, 'w');
  EXPECT_STREQ(tcl_command("string length %s", word.c_str()), "100000");
  std::string expected;
  for (int i = 0; i < 40000; ++i) expected += "ab";
  EXPECT_EQ(std::string(tcl_command("string repeat ab %d", 40000)), expected);
}

// A handler that runs Tcl itself, as the plug-in's qel_main does.
const char *probe_level(int, const char *const *) {
  tcl_command("set ::probe_level [info level]");
  // Longer than the outer script, so that a shared format buffer would
  // overwrite what the outer evaluation still has to read.
  tcl_command("set ::probe_inner {%s}", std::string(4000, 'i').c_str());
  return "probed";
}

TEST_F(TclBridge, TclCommandRunsAtGlobalLevelAlsoWhenNested) {
  mo_add_command("probe", probe_level);
  eval("proc deep {} { molv probe }");
  eval("deep");
  EXPECT_EQ(global("probe_level"), "0");
  // The outer script goes on with its own words after the nested calls.
  EXPECT_STREQ(tcl_command("set r [molv probe]; set after_probe %s", "outer-ok"), "outer-ok");
  EXPECT_EQ(global("r"), "probed");
  EXPECT_EQ(global("probe_inner").size(), 4000u);
}

// Fixed texts (no format argument) are kept compiled between calls: each
// call still runs the script anew, against the interpreter as it is then.
const char *evict_and_read(int, const char *const *) {
  // More distinct fixed texts than the host keeps, while the outer fixed
  // text is still running.
  for (int i = 0; i < 12; ++i) {
    const std::string text = "set ::evict" + std::to_string(i) + " " + std::to_string(i);
    tcl_command(text.c_str());
  }
  return tcl_command("set ::counter");
}

TEST_F(TclBridge, FixedTextsRunAfreshEachTimeAndSurviveEviction) {
  eval("set counter 1");
  EXPECT_STREQ(tcl_command("global counter \n set counter"), "1");
  eval("set counter 2");
  EXPECT_STREQ(tcl_command("global counter \n set counter"), "2");
  eval("unset counter");
  EXPECT_STREQ(tcl_command("global counter \n set counter"),
               "can't read \"counter\": no such variable");
  // A redefined command is seen by the next call of the same text.
  eval("proc greet {} { return hello }");
  EXPECT_STREQ(tcl_command("greet"), "hello");
  eval("proc greet {} { return again }");
  EXPECT_STREQ(tcl_command("greet"), "again");
  // The running text is evicted by the texts a nested call sends.
  mo_add_command("evict", evict_and_read);
  eval("set counter 7");
  EXPECT_STREQ(tcl_command("set ::r [molv evict]; incr ::counter; set ::r"), "7");
  EXPECT_EQ(global("counter"), "8");
  EXPECT_EQ(global("evict11"), "11");
  // The same text again, after its entry went.
  EXPECT_STREQ(tcl_command("set ::r [molv evict]; incr ::counter; set ::r"), "8");
}

TEST_F(TclBridge, StatusTextsWithoutFormattingKeepEveryCharacter) {
  display_message("%s", "Export X File - Optimize Vertices ( 40 % ) ...");
  display_message("plain %s and %d", "text", 5);
  EXPECT_EQ(molv::recording().status_lines,
            (std::vector<std::string>{"Export X File - Optimize Vertices ( 40 % ) ...",
                                      "plain text and 5"}));
}

TEST_F(TclBridge, TclCommandWithoutInterpreterGivesAnEmptyText) {
  molv::tcl_stop();
  EXPECT_STREQ(tcl_command("expr 1"), "");
  std::string result;
  EXPECT_EQ(molv::tcl_eval("expr 1", &result), TCL_ERROR);
  molv::tcl_start(false);
  EXPECT_STREQ(tcl_command("expr 1"), "1");
}

// ---- the molv command ----------------------------------------------------------

TEST_F(TclBridge, MolvCommandGivesTheHostTexts) {
  EXPECT_EQ(eval("molv get_version_string"), molv::host_version_string());
  EXPECT_EQ(eval("molv get_info"), molv::host_info_text());
  std::string error;
  ASSERT_TRUE(molv::load_scene_text(
      R"({"host": {"version_string": "molv 7.2 [x]", "info": "line 1\nline $2\n"},
          "world": {}})",
      "scene", &error))
      << error;
  EXPECT_EQ(eval("molv get_version_string"), "molv 7.2 [x]");
  EXPECT_EQ(eval("molv get_info"), "line 1\nline $2\n");
  EXPECT_EQ(eval("molv get_info extra", TCL_ERROR), "wrong # args: should be \"molv get_info\"");
}

TEST_F(TclBridge, RegisteredCommandGetsTheWordsAfterItsName) {
  mo_add_command("echo", record_words);
  g_calls = 0;
  EXPECT_EQ(eval("molv echo a {b c} [expr {1 + 1}] {}"), "a|b c|2|");
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_words, (std::vector<std::string>{"a", "b c", "2", ""}));
  EXPECT_EQ(eval("molv echo"), "");
  EXPECT_TRUE(g_words.empty());

  mo_add_command("quiet", return_null);
  EXPECT_EQ(eval("set x before; set x [molv quiet]"), "");
}

TEST_F(TclBridge, FullRegistrationChecksTheNumberOfWords) {
  mo_add_command_full("qel_save", record_words, 3, "sss",
                      "<cmd string>  <name string>  <opt string>", "Save X-File");
  g_calls = 0;
  EXPECT_EQ(eval("molv qel_save export name", TCL_ERROR),
            "wrong # args: should be \"molv qel_save <cmd string>  <name string>  <opt string>\"");
  EXPECT_EQ(eval("molv qel_save a b c d", TCL_ERROR),
            "wrong # args: should be \"molv qel_save <cmd string>  <name string>  <opt string>\"");
  EXPECT_EQ(g_calls, 0);
  EXPECT_EQ(eval("molv qel_save export {my file} 0101"), "export|my file|0101");
  EXPECT_EQ(g_calls, 1);
}

TEST_F(TclBridge, UnknownOrMissingSubcommandIsAnError) {
  mo_add_command("qel_main", return_null);
  const std::string unknown = eval("molv frobnicate", TCL_ERROR);
  EXPECT_EQ(unknown,
            "unknown molv subcommand \"frobnicate\": must be get_info, "
            "get_version_string, qel_main");
  EXPECT_EQ(eval("molv", TCL_ERROR), "wrong # args: should be \"molv subcommand ?arg ...?\"");
}

TEST_F(TclBridge, RegisteringANameAgainReplacesItsHandler) {
  mo_add_command("twice", record_words);
  mo_add_command("twice", return_other);
  EXPECT_EQ(eval("molv twice a"), "other");
  // Null names or handlers register nothing.
  mo_add_command(nullptr, return_other);
  mo_add_command("nothing", nullptr);
  eval("molv nothing", TCL_ERROR);
}

TEST_F(TclBridge, CommandsAndMenuEndWithTheInterpreter) {
  mo_add_command("gone", return_other);
  mo_add_export_menu_item("Direct X ...", "molv qel_main");
  molv::tcl_stop();
  molv::tcl_start(false);
  EXPECT_TRUE(molv::export_menu().empty());
  eval("molv gone", TCL_ERROR);
}

TEST_F(TclBridge, ExportMenuKeepsEntriesInOrder) {
  mo_add_export_menu_item("Direct X ...", "molv qel_main");
  mo_add_export_menu_item("Other ...", "set other 1");
  const auto &menu = molv::export_menu();
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].label, "Direct X ...");
  EXPECT_EQ(menu[0].tcl_text, "molv qel_main");
  EXPECT_EQ(menu[1].label, "Other ...");
  eval(menu[1].tcl_text);
  EXPECT_EQ(global("other"), "1");
}

// ---- what the plug-in shows -----------------------------------------------

TEST_F(TclBridge, StatusMessagesAndProgressAreRecordedAndHandedOn) {
  std::vector<std::string> statuses, messages;
  std::vector<int> bars;
  molv::hooks().status = [&](const std::string &t) { statuses.push_back(t); };
  molv::hooks().message = [&](const std::string &t) { messages.push_back(t); };
  molv::hooks().progress = [&](int p) { bars.push_back(p); };

  display_message("%s", "Export X File ( 5 % ) ...");
  display_message("Mesh %d of %d", 2, 3);
  message_dialog("Can not write file '%s' !", "a%sb.x");
  set_progress_bar(40);
  set_progress_bar(0);

  const molv::Recording &seen = molv::recording();
  const std::vector<std::string> want_status = {"Export X File ( 5 % ) ...", "Mesh 2 of 3"};
  EXPECT_EQ(seen.status_lines, want_status);
  EXPECT_EQ(statuses, want_status);
  EXPECT_EQ(seen.messages, std::vector<std::string>{"Can not write file 'a%sb.x' !"});
  EXPECT_EQ(messages, seen.messages);
  EXPECT_EQ(seen.progress, (std::vector<int>{40, 0}));
  EXPECT_EQ(bars, seen.progress);

  molv::clear_recording();
  EXPECT_TRUE(molv::recording().status_lines.empty());
  EXPECT_TRUE(molv::recording().messages.empty());
  EXPECT_TRUE(molv::recording().progress.empty());
}

TEST_F(TclBridge, DebugOutputGoesToTheFileAndOnlyOnRequestToTheRecording) {
  std::FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  molv::set_debug_file(file);
  debugf("Objekt %d : '%s'\n", 3, "box");
  EXPECT_EQ(molv::recording().debug, "");
  molv::set_record_debug(true);
  const std::string long_text(5000, 'd');
  debugf("%s|", long_text.c_str());
  EXPECT_EQ(molv::recording().debug, long_text + "|");
  molv::set_debug_file(nullptr);
  debugf("only recorded\n");

  std::rewind(file);
  std::string written;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) written.append(buffer, got);
  std::fclose(file);
  EXPECT_EQ(written, "Objekt 3 : 'box'\n" + long_text + "|");
  EXPECT_EQ(molv::recording().debug, long_text + "|only recorded\n");
}

TEST_F(TclBridge, FileChooserIsCancelledWithoutAHook) {
  const char *filters[] = {"X Files", ".x", "All Files", "*", nullptr};
  EXPECT_EQ(mo_get_export_filename("Save X File", filters), nullptr);

  std::string title;
  std::vector<std::string> seen_filters;
  molv::hooks().choose_file = [&](const char *t, const char *const *f) -> const char * {
    title = t;
    for (; *f != nullptr; ++f) seen_filters.emplace_back(*f);
    return "/tmp/chosen.x";
  };
  EXPECT_STREQ(mo_get_export_filename("Save X File", filters), "/tmp/chosen.x");
  EXPECT_EQ(title, "Save X File");
  EXPECT_EQ(seen_filters, (std::vector<std::string>{"X Files", ".x", "All Files", "*"}));
}

TEST_F(TclBridge, VersionNumberAndUnbackslash) {
  molv::set_host_version(4.9);
  EXPECT_EQ(mo_get_version_number(), 4.9);
  molv::set_host_version(6.25);
  EXPECT_EQ(mo_get_version_number(), 6.25);

  char path[] = "D:\\tools\\plug ins\\\\x/y";
  mo_unbackslash_string(path);
  EXPECT_STREQ(path, "D:/tools/plug ins//x/y");
  mo_unbackslash_string(nullptr);  // nothing to do, no crash
}

// ---- update, counted, and the cancel points ------------------------------------

TEST_F(TclBridge, EveryUpdateIsCountedAndStillProcessesEvents) {
  const long before = molv::update_count();
  eval("update");
  eval("update idletasks");
  eval("proc poll {} { update }; poll; poll");
  EXPECT_EQ(molv::update_count(), before + 4);
  tcl_command("wm deiconify .x_export_save\ngrab set -global .x_export_save\nupdate");
  EXPECT_EQ(molv::update_count(), before + 5);

  eval("set fired 0; after 0 {set fired 1}; update");
  EXPECT_EQ(global("fired"), "1");
  EXPECT_EQ(eval("update bogus", TCL_ERROR), "bad option \"bogus\": must be idletasks");
}

TEST_F(TclBridge, PluginPollsAreCountedExactlyAndScriptUpdatesStayReal) {
  // A plug-in's plain "update" may leave events for a moment later, but is
  // always counted, and cancels on the exact poll.
  eval("set qel_cancel 0");
  const long before = molv::update_count();
  molv::set_cancel_at_poll(50);
  for (int i = 0; i < 49; ++i) tcl_command("update");
  EXPECT_EQ(global("qel_cancel"), "0");
  tcl_command("update");
  EXPECT_EQ(global("qel_cancel"), "1");
  EXPECT_EQ(molv::update_count(), before + 50);
  eval("set fired 0; after 0 {set fired 1}");
  tcl_command("update");
  eval("update");
  EXPECT_EQ(global("fired"), "1");
}

TEST_F(TclBridge, CancelAtPollSetsQelCancelOnTheNthUpdateFromNow) {
  eval("update; update");  // earlier passes do not count
  eval("set qel_cancel 0");
  molv::set_cancel_at_poll(3);
  eval("update");
  EXPECT_EQ(global("qel_cancel"), "0");
  eval("update");
  EXPECT_EQ(global("qel_cancel"), "0");
  eval("update");
  EXPECT_EQ(global("qel_cancel"), "1");
  // Once only: after the plug-in clears it, it stays clear.
  eval("set qel_cancel 0; update; update; update");
  EXPECT_EQ(global("qel_cancel"), "0");

  molv::set_cancel_at_poll(1);
  molv::set_cancel_at_poll(0);  // switched off again
  eval("update");
  EXPECT_EQ(global("qel_cancel"), "0");
}

TEST_F(TclBridge, CancelPollInsideAProcSeesTheGlobalVariable) {
  molv::set_cancel_at_poll(1);
  eval("proc poll {} { update; global qel_cancel; return $qel_cancel }");
  EXPECT_EQ(eval("poll"), "1");
}

// Ctrl-C reaches the host through a signal handler.
extern "C" void cancel_on_signal(int) { molv::request_cancel(); }

TEST_F(TclBridge, RequestedCancelSetsQelCancelOnTheNextUpdateOnly) {
  eval("set qel_cancel 0");
  auto previous = std::signal(SIGUSR1, cancel_on_signal);
  std::raise(SIGUSR1);
  std::signal(SIGUSR1, previous);
  EXPECT_EQ(global("qel_cancel"), "0");  // nothing happens until update
  eval("update");
  EXPECT_EQ(global("qel_cancel"), "1");
  eval("set qel_cancel 0; update");
  EXPECT_EQ(global("qel_cancel"), "0");
}

// ---- without a display -------------------------------------------------------

TEST_F(TclBridge, WindowCommandsAreQuietWithoutADisplay) {
  EXPECT_EQ(eval("wm deiconify .x_export_save"), "");
  EXPECT_EQ(eval("grab set -global .x_export_save"), "");
  EXPECT_EQ(eval("destroy .x_export_save"), "");
  EXPECT_EQ(eval("global qel_cancel\nset qel_cancel 0\ndestroy .x_export_save\nupdate"), "");
  EXPECT_EQ(global("qel_cancel"), "0");
}

TEST_F(TclBridge, WindowModeWithoutADisplayFallsBackToQuietCommands) {
  const char *display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  ::unsetenv("DISPLAY");
  molv::tcl_start(true);
  if (display) ::setenv("DISPLAY", saved.c_str(), 1);

  // Tk's reason is left for the caller to show.
  const std::string reason = Tcl_GetStringResult(molv::tcl_interp());
  EXPECT_EQ(reason, "no display name and no $DISPLAY environment variable");
  EXPECT_EQ(Tk_MainWindow(molv::tcl_interp()), nullptr);
  EXPECT_EQ(eval("wm withdraw .; destroy .x"), "");
  EXPECT_EQ(eval("molv get_version_string"), molv::host_version_string());
}

}  // namespace
