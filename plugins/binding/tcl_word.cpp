/*
 * One Tcl word from any text: every character that means something to the
 * Tcl parser is escaped with a backslash; control characters are written as
 * three-digit octal escapes (a backslash before a real line end would join
 * lines, and a hex escape could swallow the digits after it).
 */
#include "binding/tcl_word.h"

namespace qel {

std::string tcl_word(const std::string &text) {
  if (text.empty()) return "{}";
  std::string word;
  word.reserve(text.size() + 8);
  for (unsigned char c : text) {
    if (c < 32 || c == 127) {
      static const char digits[] = "01234567";
      word += '\\';
      word += digits[(c >> 6) & 7];
      word += digits[(c >> 3) & 7];
      word += digits[c & 7];
      continue;
    }
    switch (c) {
      case '\\': case '[': case ']': case '{': case '}': case '$': case '"':
      case ';': case ' ': case '#':
        word += '\\';
        break;
      default:
        break;
    }
    word += static_cast<char>(c);
  }
  return word;
}

}  // namespace qel
