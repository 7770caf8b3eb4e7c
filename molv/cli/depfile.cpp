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

#include "cli/report.h"
#include "files/write_all.h"

namespace molv {
namespace cli {
namespace {

int g_fd = -1;

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
  g_fd = open_run_output(args.depfile, "depfile", error);
  return g_fd >= 0;
}

void depfile_rule(const std::string &target, const std::vector<std::string> &deps) {
  if (g_fd < 0) return;
  const std::string rule = make_rule(target, deps);
  // A file that stops taking bytes (a full disk) loses the rest: the
  // export itself goes on.
  (void)write_all(g_fd, rule.data(), rule.size());
}

void close_depfile() {
  if (g_fd >= 0) close(g_fd);
  g_fd = -1;
}

}  // namespace cli
}  // namespace molv
