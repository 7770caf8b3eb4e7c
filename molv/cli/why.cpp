/*
 * Why a file cannot be written.
 */
#include "cli/why.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace molv {
namespace cli {

std::string system_reason(const std::string &message) {
  const std::string head = "Can not open file '";
  const std::string tail = "' for writing !";
  if (message.rfind(head, 0) != 0 || message.size() < head.size() + tail.size() ||
      message.compare(message.size() - tail.size(), tail.size(), tail) != 0)
    return std::string();
  const std::string file = message.substr(head.size(), message.size() - head.size() - tail.size());
  const size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0)
    return (errno == ENOENT ? "no such folder '" : std::string(std::strerror(errno)) + ": '") +
           folder + "'";
  if (!S_ISDIR(info.st_mode)) return "'" + folder + "' is not a folder";
  if (stat(file.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    return "'" + file + "' is a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return std::string(std::strerror(errno)) + " in '" + folder + "'";
  if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0)
    return std::string(std::strerror(errno)) + ": '" + file + "'";
  return std::string();
}

}  // namespace cli
}  // namespace molv
