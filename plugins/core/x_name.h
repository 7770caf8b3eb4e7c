/*
 * What a name in a .x file may hold, for the plug-in that writes names and
 * for a host that has to keep the names of its objects apart.
 *
 * A .x name is letters, digits and '_' (the format's documentation); the
 * DirectX runtime's parser also takes '-' after the first character.  Any
 * other character ends the name or breaks the file: { } , ; and white space
 * end it, '"' opens a string, '#' or "//" a comment, '<' a GUID, and the
 * runtime's parser refuses '.', '$', '[', ':', '(' and letters outside
 * ASCII outright.  A name that begins with '-' or a digit is read as a
 * number, and the format's reserved words (ARRAY, FLOAT, TEMPLATE, ...,
 * in any letter case) are keywords, not names.
 *
 * On the floor: pure text, it includes only the standard library.
 */
#ifndef QEL_CORE_X_NAME_H
#define QEL_CORE_X_NAME_H

#include <cstddef>
#include <string>

namespace qel {

inline bool is_x_name_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-';
}

// The bytes of the character that starts at p: a UTF-8 lead byte with the
// continuation bytes that follow it (as many as it announces, fewer where
// the sequence is cut short), or one byte.
inline std::size_t x_name_char_bytes(const char *p) {
  const auto lead = static_cast<unsigned char>(p[0]);
  const std::size_t n = lead >= 0xF0 && lead <= 0xF4   ? 4
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                                                       : 1;
  std::size_t i = 1;
  while (i < n && (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80) ++i;
  return i;
}

// Whether `name` (already mended) is one of the format's reserved words.
inline bool is_x_reserved_word(const std::string &name) {
  static const char *const kReserved[] = {
      "ARRAY",  "BINARY", "BINARY_RESOURCE", "CHAR",    "CSTRING", "DOUBLE",
      "DWORD",  "FLOAT",  "SDWORD",          "STRING",  "SWORD",   "TEMPLATE",
      "UCHAR",  "ULONGLONG", "UNICODE",      "WORD"};
  if (name.size() < 4 || name.size() > 15) return false;
  for (const char *word : kReserved) {
    std::size_t i = 0;
    for (; word[i] != '\0' && i < name.size(); ++i) {
      char c = name[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != word[i]) break;
    }
    if (word[i] == '\0' && i == name.size()) return true;
  }
  return false;
}

// `name` as a .x name, into `out` (cleared first): every character a name
// cannot hold becomes one '_' (a UTF-8 sequence is one character); with
// `digit_prefix` a name that begins with a digit gets a '_' in front; a
// leading '-' becomes '_'; a reserved word gets a '_' in front.  A name
// that needs none of this comes out byte for byte.
inline void mend_x_name(const char *name, bool digit_prefix, std::string *out) {
  out->clear();
  if (name == nullptr) return;
  if (digit_prefix && name[0] >= '0' && name[0] <= '9') out->push_back('_');
  for (const char *p = name; *p != '\0';) {
    const auto c = static_cast<unsigned char>(*p);
    if (is_x_name_char(c)) {
      out->push_back(*p++);
    } else {
      out->push_back('_');
      p += x_name_char_bytes(p);
    }
  }
  if (!out->empty() && (*out)[0] == '-') (*out)[0] = '_';
  if (is_x_reserved_word(*out)) out->insert(out->begin(), '_');
}

}  // namespace qel

#endif  // QEL_CORE_X_NAME_H
