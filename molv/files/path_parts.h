/*
 * The parts of a file name the front ends take apart: its folder and its
 * last part, with '/' between folders.
 */
#ifndef MOLV_FILES_PATH_PARTS_H
#define MOLV_FILES_PATH_PARTS_H

#include <sys/stat.h>

#include <string>

namespace molv {

// The folder of PATH: "." for a bare name, "/" for a name in the root.
inline std::string folder_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder of PATH with its slash, to put another name behind: "" for a
// bare name.
inline std::string folder_prefix(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The last part of PATH.
inline std::string name_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether PATH leads to a regular file.
inline bool is_regular_file(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace molv

#endif  // MOLV_FILES_PATH_PARTS_H
