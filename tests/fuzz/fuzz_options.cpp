/*
 * The options file and the option text of qel_save with arbitrary bytes.
 *
 * Input: the first byte is the length of the options file's bytes that
 * follow (255: no options file at all); the rest is the option text of a
 * qel_save, taken as Latin-1 text into Tcl, as a user's dialog could send it.
 *
 * qel_main reads the file and hands the option string to the dialog as
 * one word: the string in memory must be the file's first 50 bytes over
 * the built-in string (a NUL read as '0'); the dialog must get exactly two
 * words, the second "1.8", the first the string itself byte for byte; and
 * the interpreter must run exactly as many commands as with the
 * built-in options, so that nothing of the file ever runs as Tcl code.
 *
 * qel_save then exports the sample scene: the option text's first 50 bytes
 * (up to its end) go over the string, the run ends "Ready !", the options
 * file holds the 50 characters, the written file is sound and the host's
 * allocation counter is back where it was.
 */
#include <tcl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "api/host_memory.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "binding/options.h"
#include "fuzz_host.h"
#include "import/scene_file.h"

namespace {

std::string read_whole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string tcl(const std::string &script) {
  std::string result;
  molv::tcl_eval(script, &result);
  return result;
}

long command_count() { return std::stol(tcl("info cmdcount")); }

// Commands the interpreter runs for one qel_main with harmless options.
long g_main_commands = -1;

long run_main(std::string *result) {
  tcl("unset -nocomplain ::qel_fuzz_seen");
  const long before = command_count();
  molv::tcl_eval("molv qel_main", result);
  return command_count() - before;
}

void start() {
  static bool started = false;
  if (started) return;
  started = true;
  qel_fuzz::start_host();
  std::string error;
  if (!molv::load_scene_text(molv::sample_scene_json(), "sample", &error))
    qel_fuzz::finding("the sample scene does not load: " + error);
  // A dialog that keeps what it was given.
  tcl("proc ::qel_export_dialog {args} {set ::qel_fuzz_seen $args; return [lindex $args 0]}");
  ::unlink((qel_fuzz::plugin_dir() + "/qel_export.opt").c_str());
  qel::options_take_over(qel::kDefaultOptions);
  std::string result;
  g_main_commands = run_main(&result);
}

std::string shown(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

void check_main(const std::string &file_bytes, bool have_file) {
  const std::string options_file = qel_fuzz::plugin_dir() + "/qel_export.opt";
  if (have_file) {
    std::ofstream(options_file, std::ios::binary) << file_bytes;
  } else {
    ::unlink(options_file.c_str());
  }
  qel::options_take_over(qel::kDefaultOptions);
  std::string expected = qel::kDefaultOptions;
  for (std::size_t i = 0; have_file && i < file_bytes.size() && i < 50; ++i)
    expected[i] = file_bytes[i] == '\0' ? '0' : file_bytes[i];

  std::string result;
  const long commands = run_main(&result);
  const std::string context = " (options file '" + shown(file_bytes) + "')";
  if (std::string(qel::option_string()) != expected)
    qel_fuzz::finding("option string after qel_main is '" + shown(qel::option_string()) + "'" +
                      context);
  if (commands != g_main_commands)
    qel_fuzz::finding("qel_main ran " + std::to_string(commands) + " Tcl commands instead of " +
                      std::to_string(g_main_commands) + context);
  if (tcl("llength $::qel_fuzz_seen") != "2" || tcl("lindex $::qel_fuzz_seen 1") != "1.8")
    qel_fuzz::finding("the dialog got '" + shown(tcl("set ::qel_fuzz_seen")) + "'" + context);
  // Every byte arrives as it was, also bytes that are not UTF-8.
  if (tcl("lindex $::qel_fuzz_seen 0") != expected || result != expected)
    qel_fuzz::finding("the dialog got '" + shown(tcl("lindex $::qel_fuzz_seen 0")) + "'" +
                      context);
}

void check_save(const std::string &text_bytes) {
  Tcl_Interp *interp = molv::tcl_interp();
  // The bytes as Latin-1 characters: what the plug-in sees is their UTF-8.
  Tcl_DString utf;
  Tcl_Encoding latin1 = Tcl_GetEncoding(interp, "iso8859-1");
  Tcl_ExternalToUtfDString(latin1, text_bytes.data(), static_cast<int>(text_bytes.size()), &utf);
  Tcl_FreeEncoding(latin1);
  Tcl_Obj *words[5] = {
      Tcl_NewStringObj("molv", -1), Tcl_NewStringObj("qel_save", -1),
      Tcl_NewStringObj("export", -1),
      Tcl_NewStringObj((qel_fuzz::plugin_dir() + "/out").c_str(), -1),
      Tcl_NewStringObj(Tcl_DStringValue(&utf), Tcl_DStringLength(&utf))};
  Tcl_DStringFree(&utf);
  for (Tcl_Obj *word : words) Tcl_IncrRefCount(word);
  const std::string seen = Tcl_GetString(words[4]);  // the C text the handler gets

  std::string expected = qel::option_string();
  for (std::size_t i = 0; i < seen.size() && i < 50; ++i) expected[i] = seen[i];

  const long before = molv::live_allocations();
  molv::clear_recording();
  const int code = Tcl_EvalObjv(interp, 5, words, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *word : words) Tcl_DecrRefCount(word);

  const std::string context = " (option text '" + shown(seen) + "')";
  if (code != TCL_OK)
    qel_fuzz::finding(std::string("qel_save failed: ") + Tcl_GetStringResult(interp) + context);
  if (molv::live_allocations() != before)
    qel_fuzz::finding("qel_save kept host memory" + context);
  const auto &status = molv::recording().status_lines;
  if (status.empty() || status.back() != "Ready !" || !molv::recording().messages.empty())
    qel_fuzz::finding("qel_save did not end 'Ready !'" + context);
  if (std::string(qel::option_string()) != expected)
    qel_fuzz::finding("option string after qel_save is '" + shown(qel::option_string()) + "'" +
                      context);
  if (read_whole(qel_fuzz::plugin_dir() + "/qel_export.opt") != expected)
    qel_fuzz::finding("the options file does not hold the 50 characters" + context);
  const std::string out = qel_fuzz::plugin_dir() + "/out.x";
  if (const char *fault = qel_fuzz::structure_fault(read_whole(out)))
    qel_fuzz::finding(std::string("written file: ") + fault + context);
  ::unlink(out.c_str());
  molv::clear_recording();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  start();
  if (size < 1) return 0;
  const std::size_t rest = size - 1;
  const bool have_file = data[0] != 255;
  const std::size_t file_size = have_file ? (data[0] < rest ? data[0] : rest) : 0;
  const std::string file_bytes(reinterpret_cast<const char *>(data + 1), file_size);
  const std::string text_bytes(reinterpret_cast<const char *>(data + 1 + file_size),
                               rest - file_size);
  check_main(file_bytes, have_file);
  check_save(text_bytes);
  return 0;
}
