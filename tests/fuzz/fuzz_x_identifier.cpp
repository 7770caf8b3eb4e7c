/*
 * The identifier of an object name on arbitrary bytes.
 *
 * Input: the first byte's lowest bit sets opt_digit_prefix (the '_' before a
 * leading digit); the rest is the name, which ends at its first NUL byte as
 * a host name does.
 *
 * The identifier holds only what a .x name may (ASCII letters, digits, '_'
 * and '-'), never starts like a number ('-', or a digit under the option)
 * nor is a reserved word, grows by at most the one '_' in front, and is the
 * name itself when the name needed nothing.
 */
#include <strings.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_host.h"
#include "xwriter/names.h"

namespace {

bool name_char(unsigned char c) {
  return (c < 128 && std::isalnum(c) != 0) || c == '_' || c == '-';
}

bool reserved(const std::string &text) {
  static const char *const words[] = {
      "array", "binary", "binary_resource", "char",      "cstring", "double",
      "dword", "float",  "sdword",          "string",    "sword",   "template",
      "uchar", "ulonglong", "unicode",      "word"};
  for (const char *word : words)
    if (strcasecmp(text.c_str(), word) == 0) return true;
  return false;
}

std::string shown(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const bool digit_prefix = (data[0] & 1) != 0;
  std::string name(reinterpret_cast<const char *>(data + 1), size - 1);
  name.resize(std::strlen(name.c_str()));  // a host name ends at NUL

  const std::string id = qel::x_identifier(name.c_str(), digit_prefix);
  auto fail = [&](const std::string &what) {
    qel_fuzz::finding("x_identifier('" + shown(name) + "') = '" + shown(id) + "': " + what);
  };

  for (unsigned char c : id)
    if (!name_char(c)) fail("holds a byte a .x name cannot hold");
  if (!id.empty() && id[0] == '-') fail("starts like a number");
  if (digit_prefix && !id.empty() && id[0] >= '0' && id[0] <= '9') fail("starts with a digit");
  if (reserved(id)) fail("is a reserved word");
  // Each character gives at most one byte; only a '_' in front is added.
  if (id.size() > name.size() + 1) fail("grew by more than one");

  // A name the format takes as it is stays as it is.
  bool fine = !name.empty() && name[0] != '-' && !reserved(name) &&
              !(digit_prefix && name[0] >= '0' && name[0] <= '9');
  for (unsigned char c : name) fine = fine && name_char(c);
  if (fine && id != name) fail("a name that needed nothing changed");

  // The same name again gives the same text (the buffer is reused).
  if (qel::x_identifier(name.c_str(), digit_prefix) != id) fail("a second call differs");
  return 0;
}
