/*
 * The host the fuzz targets share, the in-process export and the structure
 * check of a written file.
 */
#include "fuzz_host.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>

#include "api/host_memory.h"
#include "api/plugin_loader.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "binding/options.h"
#include "binding/plugin.h"
#include "binding/version.h"
#include "core/export_run.h"
#include "core/output.h"
#include "export/save_command.h"

namespace qel_fuzz {

namespace {

std::string g_plugin_dir;

std::string read_whole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The temporary plug-in folder goes with the process; a target may have
// left an options file and an exported file in it.
void remove_plugin_dir() {
  if (g_plugin_dir.empty()) return;
  for (const char *name : {"qel_export.tcl", "qel_export.opt", "out.x"})
    ::unlink((g_plugin_dir + "/" + name).c_str());
  ::rmdir(g_plugin_dir.c_str());
}

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '{' || c == '}' || c == ',' ||
         c == ';' || c == '"';
}

// "nan", "-inf", "+INF" and the like: what a reader cannot take as a number.
bool non_finite_word(const std::string &word) {
  std::string w;
  for (char c : word) w += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (!w.empty() && (w[0] == '-' || w[0] == '+')) w.erase(0, 1);
  return w.compare(0, 3, "nan") == 0 || w.compare(0, 3, "inf") == 0;
}

}  // namespace

void finding(const std::string &what) {
  std::fprintf(stderr, "\n*** fuzz finding: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void start_host() {
  static bool started = false;
  if (started) return;
  started = true;
  // The plug-in notes every export on standard output; the fuzzer's own
  // report goes to standard error.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) finding("no /dev/null");
  char folder[] = "/tmp/qel_fuzz_XXXXXX";
  if (::mkdtemp(folder) == nullptr) finding("no temporary plug-in folder");
  g_plugin_dir = folder;
  std::atexit(remove_plugin_dir);
  {
    std::ofstream script(g_plugin_dir + "/qel_export.tcl", std::ios::binary);
    script << read_whole(std::string(QEL_SOURCE_DIR) + "/plugins/script/qel_export.tcl");
  }
  molv::tcl_start(false);
  molv::set_record_debug(false);
  if (molv::plugin_start(MOLVPluginInit, g_plugin_dir) != 0) finding("the plug-in did not start");
  molv::install_headless_dialog();
}

const std::string &plugin_dir() { return g_plugin_dir; }

std::string export_text(const std::string &option_text, long fail_alloc_after,
                        qel::RunStatus *status) {
  start_host();
  // One output context for the process: its buffer is a megabyte.
  static qel::Output *out = new qel::Output;
  const long before = molv::live_allocations();

  molv::clear_recording();
  std::string text;
  out->attach_string(&text);
  {
    qel::ExportRun run(*out, qel::Options(option_text.c_str()), qel::kPluginVersion);
    run.file_name = "fuzz.x";
    molv::set_fail_alloc_after(fail_alloc_after);
    try {
      qel::export_to(run);
    } catch (const std::bad_alloc &) {
      // As the save command: the plug-in's own texts come from the C++ heap.
      run.fail_out_of_memory();
    }
    molv::set_fail_alloc_after(-1);
    out->flush();
    // As the save command: a run that went through is complete.
    run.complete();
    *status = run.status();
  }  // the run gives its maps back
  out->attach_string(nullptr);
  molv::clear_recording();

  const long after = molv::live_allocations();
  if (after != before) {
    finding("the export kept " + std::to_string(after - before) +
            " blocks of host memory (status " + std::to_string(static_cast<int>(*status)) + ")");
  }
  return text;
}

const char *structure_fault(const std::string &text) {
  static const std::string kMagic = "xof 0302txt 0064\n";
  if (text.compare(0, kMagic.size(), kMagic) != 0) return "the magic line is missing";
  if (text.find('\0') != std::string::npos) return "a NUL byte in the text";
  long depth = 0;
  std::size_t i = kMagic.size();
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ';') {
      ++i;
    } else if (c == '#' || (c == '/' && i + 1 < n && text[i + 1] == '/')) {
      // A comment at the start of a token runs to the line end.
      while (i < n && text[i] != '\n') ++i;
    } else if (c == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string::npos) return "a string does not close";
      i = close + 1;
    } else if (c == '{') {
      ++depth;
      ++i;
    } else if (c == '}') {
      if (--depth < 0) return "a '}' without its '{'";
      ++i;
    } else {
      const std::size_t start = i;
      while (i < n && !is_separator(text[i])) ++i;
      // Numbers are the words right before a ',' or ';'.
      if (i < n && (text[i] == ',' || text[i] == ';') &&
          non_finite_word(text.substr(start, i - start)))
        return "a number that is not finite";
    }
  }
  if (depth != 0) return "a '{' without its '}'";
  return nullptr;
}

}  // namespace qel_fuzz
