/*
 * The run's depfile.
 */
#include "cli/depfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/run_output.h"

namespace molv {
namespace cli {
namespace {

RunOutput g_file;

}  // namespace

std::string make_escaped(const std::string &name) {
  std::string escaped;
  for (char c : name) {
    if (c == '$')
      escaped += '$';
    else if (c == ' ' || c == '#' || c == ':' || c == '\\')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string make_rule(const std::string &target, const std::vector<std::string> &deps) {
  std::string rule = make_escaped(target) + ":";
  std::vector<std::string> seen;
  for (const std::string &dep : deps) {
    if (dep.empty() || std::find(seen.begin(), seen.end(), dep) != seen.end()) continue;
    seen.push_back(dep);
    rule += " \\\n  " + make_escaped(dep);
  }
  return rule + "\n";
}

bool open_depfile(const Args &args, std::string *error) {
  if (args.depfile.empty()) return true;
  return g_file.open(args.depfile, "depfile", error);
}

void depfile_rule(const std::string &target, const std::vector<std::string> &deps) {
  // A file that stops taking bytes (a full disk) is said at the end.
  if (g_file.is_open()) g_file.write(make_rule(target, deps));
}

bool *depfile_taken() { return g_file.taken(); }

bool close_depfile(bool keep, std::string *error) { return g_file.finish(keep, error); }

}  // namespace cli
}  // namespace molv
