/*
 * How the import of a model fails: an ImportError with the reason, which
 * the load turns into the one line "FILE: reason".
 */
#ifndef MOLV_IMPORT_IMPORT_ERROR_H
#define MOLV_IMPORT_IMPORT_ERROR_H

#include <string>

namespace molv {

struct ImportError {
  std::string what;
};

// Error and warning lines are one line, whatever the file's texts hold.
inline std::string one_line(std::string text) {
  for (char &c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace molv

#endif  // MOLV_IMPORT_IMPORT_ERROR_H
