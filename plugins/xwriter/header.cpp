/*
 * The file header.
 */
#include "xwriter/header.h"

#include <charconv>
#include <string>

#include "core/export_run.h"
#include "core/output.h"
#include "host/molv_host.h"

namespace qel {

namespace {
const char kMakerAddress[] = "http://www.molv.example";

int digits_of(int value) {
  char text[16];
  return static_cast<int>(std::to_chars(text, text + sizeof text, value).ptr - text);
}
}  // namespace

void write_header(ExportRun &run) {
  Output &out = run.out;
  out.puts("xof 0302txt 0064\n\n");

  // The result text of tcl_command lives only until the next call.
  const char *version = tcl_command("molv get_version_string");
  out.puts("// Created by ");
  // One comment line: a line end or other control character in the host's
  // text would end the comment and break the file.
  for (const char *p = version != nullptr ? version : ""; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    out.put(c < 32 || c == 127 ? ' ' : *p);
  }
  out.puts(" ( ");
  out.puts(kMakerAddress);
  out.puts(" )\n");
  out.puts("// Export Plugin : 'qel_export.p' v");
  out.puts(run.plugin_version);
  out.puts(" by Quorrin Talv\n\n\n");

  if (!run.options.is_set(opt_model_info)) return;

  out.puts("\n//\n// ***** Model Information ( MOLV model ) *****\n//\n// ");
  const char *info = tcl_command("molv get_info");
  for (const char *p = info != nullptr ? info : ""; *p != '\0'; ++p) {
    // Every further line of the text becomes a comment line.  Readers also
    // end a comment at a carriage return, so a lone one starts a comment
    // line of its own as well.
    if (*p == '\n' && p[1] != '\0') {
      out.puts("\n// ");
    } else if (*p == '\r' && p[1] != '\0' && p[1] != '\n') {
      out.puts("\r// ");
    } else {
      out.put(*p);
    }
  }
  out.puts("//\n//\n//\n// ***** Model Information ( X file ) *****\n//\n");
  out.puts("// Total number of vertices : ");
  run.placeholder_pos = out.tell();
  run.placeholder_digits = digits_of(run.surface_vertex_total);
  out.printf("%d      \n", run.surface_vertex_total);
  out.printf("// Number of vertices used by surfaces : %d\n", run.surface_vertex_total);
  out.puts("//\n\n\n\n");
}

void patch_header(ExportRun &run, int written) {
  if (run.placeholder_pos < 0) return;
  // The field is the old number and its six spaces.  Padding to its whole
  // width also clears old digits when the new number is much shorter.
  int width = run.placeholder_digits + 6;
  char text[32];
  int n = static_cast<int>(std::to_chars(text, text + sizeof text, written).ptr - text);
  if (n > width) return;
  std::string field(text, static_cast<std::size_t>(n));
  field.append(static_cast<std::size_t>(width - n), ' ');
  run.out.patch(run.placeholder_pos, field.data(), field.size());
}

}  // namespace qel
