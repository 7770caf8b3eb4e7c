/*
 * printf into a std::string, for the host's printf-style functions
 * (tcl_command, display_message and the rest).
 */
#ifndef MOLV_API_VFORMAT_H
#define MOLV_API_VFORMAT_H

#include <cstdarg>
#include <cstdio>
#include <string>

namespace molv {

// printf into a string of any length.
inline std::string vformat(const char *format, va_list args) {
  if (format == nullptr) return std::string();
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small)
    return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

}  // namespace molv

#endif  // MOLV_API_VFORMAT_H
