/*
 * Every line molv writes of its own (an error, a warning, a status line)
 * is one line, whatever the texts it quotes hold: a file name, a reader's
 * message of several lines, a plug-in's status.  On the floor, for every
 * layer.
 */
#ifndef MOLV_FILES_ONE_LINE_H
#define MOLV_FILES_ONE_LINE_H

#include <string>

namespace molv {

// TEXT as one line: a line break or a tab becomes a space, any other
// control character '?' (as a listing of files shows one in a name), and
// the spaces at either end go.
inline std::string one_line(std::string text) {
  for (char &c : text) {
    if (c == '\n' || c == '\r' || c == '\t') {
      c = ' ';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      c = '?';
    }
  }
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(' ') - start + 1);
}

}  // namespace molv

#endif  // MOLV_FILES_ONE_LINE_H
