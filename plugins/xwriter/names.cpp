/*
 * The identifier of a host object name and the trace indentation.
 */
#include "xwriter/names.h"

#include <string>

namespace qel {

namespace {

// Characters that would end a name token (, ; { } and white space), open a
// string (") or a GUID (<, which may follow a data object's name: a strict
// reader takes `Frame <Root> {` for a nameless frame with a broken GUID),
// or be read as anything but part of the name.
bool breaks_token(unsigned char c) {
  return c < 32 || c == 127 || c == ' ' || c == '{' || c == '}' || c == ',' || c == ';' ||
         c == '"' || c == '<' || c == '>';
}

constexpr int kIndentWidth = 3;
constexpr int kIndentMax = 255;

}  // namespace

const char *x_identifier(const char *name, bool digit_prefix) {
  // Grows with the name: no name is cut, nothing is written past it.
  static std::string identifier;
  if (name == nullptr) name = "";
  identifier.clear();

  // A leading digit gets a '_' in front under opt_digit_prefix.
  if (digit_prefix && name[0] >= '0' && name[0] <= '9') {
    identifier.push_back('_');
  }

  // The name, each breaking character as '_'.
  for (const char *p = name; *p != '\0'; ++p) {
    identifier.push_back(breaks_token(static_cast<unsigned char>(*p)) ? '_' : *p);
  }

  // '#' and '/' open a comment at the start of a token.
  if (!identifier.empty() && (identifier[0] == '#' || identifier[0] == '/')) {
    identifier[0] = '_';
  }
  return identifier.c_str();
}

const char *indent_text(int level) {
  // Every indentation is a tail of the longest one.
  static const std::string spaces(kIndentMax, ' ');
  int n = 0;
  if (level > kIndentMax / kIndentWidth) {
    n = kIndentMax;
  } else if (level > 0) {
    n = kIndentWidth * level;
  }
  return spaces.c_str() + (kIndentMax - n);
}

}  // namespace qel
