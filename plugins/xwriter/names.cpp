/*
 * The identifier of a host object name and the trace indentation.
 */
#include "xwriter/names.h"

#include <string>

#include "core/x_name.h"

namespace qel {

namespace {

constexpr int kIndentWidth = 3;
constexpr int kIndentMax = 255;

}  // namespace

const char *x_identifier(const char *name, bool digit_prefix) {
  // Grows with the name: no name is cut, nothing is written past it.
  static std::string identifier;
  mend_x_name(name, digit_prefix, &identifier);
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
