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

#include "cli/paths.h"
#include "cli/run_output.h"

namespace molv {
namespace cli {
namespace {

RunOutput g_file;

}  // namespace

const char *make_cannot_name(const std::string &name, bool target) {
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '\n' || c == '\r' || c == '\t') return "a line end or tab";
    if (c == '=') return "'=' (a variable of the target)";
    if (c == ';') return "';' (a recipe)";
    if (target && c == '%') return "'%' (a pattern rule)";
    // A backslash is a backslash, but for the one before a character that
    // is escaped, or the last one (which would escape what follows).
    if (c == '\\' && (i + 1 == name.size() || std::strchr(" #:*?[|$", name[i + 1]) != nullptr))
      return "a backslash before a special character";
  }
  return nullptr;
}

std::string make_escaped(const std::string &name) {
  std::string escaped;
  for (char c : name) {
    if (c == '$')
      escaped += '$';
    else if (std::strchr(" #:*?[|", c) != nullptr)
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool depfile_can_name(const std::string &target, const std::vector<std::string> &deps,
                      std::string *error) {
  if (!g_file.is_open()) return true;
  for (size_t i = 0; i <= deps.size(); ++i) {
    const std::string &name = i == 0 ? target : deps[i - 1];
    const char *why = make_cannot_name(name, i == 0);
    if (why == nullptr) continue;
    *error = "the depfile cannot name " + name + " for make: it holds " + why;
    return false;
  }
  return true;
}

std::string make_rule(const std::string &target, const std::vector<std::string> &deps) {
  std::string rule = make_escaped(normal_path(target)) + ":";
  std::vector<std::string> seen;
  for (const std::string &dep : deps) {
    if (dep.empty()) continue;
    const std::string name = normal_path(dep);
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
    seen.push_back(name);
    rule += " \\\n  " + make_escaped(name);
  }
  rule += "\n";
  // A rule without a recipe per file but the model (as compilers' -MP):
  // make then takes a file that was removed as changed, instead of
  // stopping at "no rule to make" it.
  for (size_t i = 1; i < seen.size(); ++i) rule += "\n" + make_escaped(seen[i]) + ":\n";
  return rule;
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
