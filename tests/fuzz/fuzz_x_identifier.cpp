/*
 * The identifier of an object name on arbitrary bytes.
 *
 * Input: the first byte's lowest bit sets opt_digit_prefix (the '_' before a
 * leading digit); the rest is the name, which ends at its first NUL byte as
 * a host name does.
 *
 * The identifier never holds a character that ends a name in the file
 * ({ } , ; " space, the GUID brackets < >, control bytes 0..31 and 127),
 * never starts with '#' or
 * '/', and is otherwise the name: the same length (one more with the
 * digit's '_'), each byte the name's own or a '_' where the name had a
 * breaking byte or (first byte only) a '#' or '/'.
 */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_host.h"
#include "xwriter/names.h"

namespace {

bool ends_a_name(unsigned char c) {
  return c < 32 || c == 127 || c == ' ' || c == '{' || c == '}' || c == ',' || c == ';' ||
         c == '"' || c == '<' || c == '>';
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
    if (ends_a_name(c)) fail("holds a byte that ends a name");
  if (!id.empty() && (id[0] == '#' || id[0] == '/')) fail("starts a comment");

  const bool prefixed = digit_prefix && !name.empty() && name[0] >= '0' && name[0] <= '9';
  if (id.size() != name.size() + (prefixed ? 1 : 0)) fail("length changed");
  if (prefixed && id[0] != '_') fail("the leading digit got no '_'");
  const std::size_t shift = prefixed ? 1 : 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool first = i + shift == 0;
    const bool replaced = ends_a_name(c) || (first && (c == '#' || c == '/'));
    const char expected = replaced ? '_' : name[i];
    if (id[i + shift] != expected) fail("byte " + std::to_string(i) + " changed");
  }

  // The same name again gives the same text (the buffer is reused).
  if (qel::x_identifier(name.c_str(), digit_prefix) != id) fail("a second call differs");
  return 0;
}
