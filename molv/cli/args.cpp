/*
 * Reading the molv command line.
 */
#include "cli/args.h"

#include <sys/stat.h>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/plugin_options.h"
#include "cli/report.h"
#include "cli/suggest.h"
#include "import/load.h"

namespace molv {
namespace cli {
namespace {

bool parse_long(const std::string &text, long min, long *value) {
  if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
  errno = 0;
  char *end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min) return false;
  *value = parsed;
  return true;
}

bool parse_double(const std::string &text, double *value) {
  if (text.empty() || text[0] == ' ') return false;
  errno = 0;
  char *end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// A size in bytes: digits, then K, M, G or T (powers of 1024; "MiB" and
// "MB" read alike).
bool parse_size(const std::string &text, std::uint64_t *value) {
  size_t at = 0;
  std::uint64_t number = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    if (number > (UINT64_MAX - 9) / 10) return false;
    number = number * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  if (at == 0) return false;
  std::string unit = text.substr(at);
  for (char &c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char kUnits[] = "KMGT";
  int shift = 0;
  if (!unit.empty() && unit != "B") {
    const char *found = std::strchr(kUnits, unit[0]);
    if (found == nullptr || *found == '\0' || (unit.size() > 1 && unit.substr(1) != "B" &&
                                                 unit.substr(1) != "IB"))
      return false;
    shift = 10 * static_cast<int>(found - kUnits + 1);
  }
  if (number > (UINT64_MAX >> shift)) return false;
  *value = number << shift;
  return true;
}

bool fail(std::string *error, const std::string &why) {
  *error = why + kHelpHint;
  return false;
}

// molv --version: only the plug-in folder may follow (whose plug-in to show).
bool parse_version(const std::vector<std::string> &words, Args *args, std::string *error) {
  args->mode = Mode::kVersion;
  for (size_t i = 1; i < words.size(); ++i) {
    std::string value;
    if (words[i].rfind("--plugin-dir=", 0) == 0)
      value = words[i].substr(13);
    else if (words[i] == "--plugin-dir" && i + 1 < words.size())
      value = words[++i];
    else
      return fail(error, "molv --version takes only --plugin-dir, not '" + words[i] + "'");
    if (value.empty()) return fail(error, "--plugin-dir: empty folder name");
    args->plugin_dir = value;
  }
  return true;
}

// Every option of the command line, once: which command it belongs to,
// whether it takes a value, and the switch it sets when it takes none.  In
// the order the suggestions weigh them when two are as near.
struct OptionWord {
  const char *name;
  bool export_only;  // belongs to molv export (molv info takes --report too)
  bool takes_value;
  bool Args::*flag;  // the switch an option without a value sets, or null
};

constexpr OptionWord kOptionWords[] = {
    {"-o", true, true, nullptr},
    {"--output", true, true, nullptr},
    {"--options", true, true, nullptr},
    {"--set", true, true, nullptr},
    {"--defaults", true, false, &Args::defaults},
    {"--remembered", true, false, &Args::remembered},
    {"--extract-textures", true, false, &Args::extract_textures},
    {"--copy-textures", true, false, &Args::copy_textures},
    {"--verify", true, false, &Args::verify},
    {"-j", true, true, nullptr},
    {"--jobs", true, true, nullptr},
    {"--quiet", true, false, &Args::quiet},
    {"--verbose", true, false, &Args::verbose},
    {"--plugin-dir", false, true, nullptr},
    {"--debug-log", false, true, nullptr},
    {"--host-version", false, true, nullptr},
    {"--report", true, true, nullptr},
    {"--depfile", true, true, nullptr},
    {"--format", true, true, nullptr},
    {"--script", false, true, nullptr},
    {"--cancel-at-poll", true, true, nullptr},
    {"--fail-alloc-after", true, true, nullptr},
    {"--help", false, false, nullptr},
    {"--include", true, true, nullptr},
    {"--exclude", true, true, nullptr},
    {"--keep-extension", true, false, &Args::keep_extension},
    {"--timeout", true, true, nullptr},
    {"--max-memory", true, true, nullptr},
    {"--strict", true, false, &Args::strict},
    {"--fail-on", true, true, nullptr},
    {"--keep-going", true, false, &Args::keep_going},
    {"--relative-to", true, true, nullptr},
};

const OptionWord *option_word(const std::string &name) {
  for (const OptionWord &word : kOptionWords)
    if (name == word.name) return &word;
  return nullptr;
}

bool is_export_only(const std::string &name) {
  const OptionWord *word = option_word(name);
  return word != nullptr && word->export_only;
}

// Every long option, for the nearest one to a mistyped word.
const std::vector<std::string> &known_options() {
  static const std::vector<std::string> known = [] {
    std::vector<std::string> names;
    for (const OptionWord &word : kOptionWords)
      if (word.name[1] == '-') names.push_back(word.name);
    return names;
  }();
  return known;
}

// The switch an option without a value sets; null for any other option.
bool *flag_of(const std::string &name, Args *args) {
  const OptionWord *word = option_word(name);
  return word != nullptr && word->flag != nullptr ? &(args->*(word->flag)) : nullptr;
}

bool takes_value(const std::string &name) {
  const OptionWord *word = option_word(name);
  return word != nullptr && word->takes_value;
}

// --set NAME=C or N=C.
bool parse_set(const std::string &value, Args *args, std::string *error) {
  const size_t at = value.find('=');
  if (at == std::string::npos || at + 1 == value.size())
    return fail(error, "--set '" + value + "': expected NAME=C or N=C (one character)");
  const std::string key = value.substr(0, at);
  const int index = option_index(key);
  if (index < 0) {
    std::vector<std::string> names;
    for (const PluginOption &option : plugin_options()) names.emplace_back(option.name);
    return fail(error, "--set '" + value + "': no option '" + key +
                           "' (a name of the list or a number 0 to 49)" +
                           did_you_mean(key, names));
  }
  if (at + 2 != value.size() || !option_value_ok(index, value[at + 1]))
    return fail(error, "--set '" + value + "': " +
                           (index == kDecimalsIndex ? "decimals is a digit 0-9"
                                                    : (std::isdigit(static_cast<unsigned char>(key[0])) ? "option " : "") +
                                                          key + " is a switch: 0 or 1"));
  args->sets.emplace_back(index, value[at + 1]);
  return true;
}

// --fail-on CODE,CODE...: each a code of the report's warnings.
bool parse_fail_on(const std::string &value, Args *args, std::string *error) {
  size_t from = 0;
  for (;;) {
    const size_t comma = value.find(',', from);
    const std::string code = value.substr(from, comma - from);
    const std::vector<std::string> &codes = warning_codes();
    if (std::find(codes.begin(), codes.end(), code) == codes.end())
      return fail(error, "--fail-on '" + code + "': no warning code of that name" +
                             did_you_mean(code, codes));
    args->fail_on.push_back(code);
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

// A name given a file or folder that may not be empty.
bool set_name(const std::string &value, const char *what, std::string *to, std::string *error) {
  if (value.empty()) return fail(error, what);
  *to = value;
  return true;
}

// The option NAME (one that takes_value) given VALUE.
bool set_value(const std::string &name, const std::string &value, Args *args,
               std::string *error) {
  if (name == "--jobs" || name == "-j") {
    if (!parse_long(value, 1, &args->jobs) || args->jobs > 256)
      return fail(error, "--jobs '" + value + "': expected a count of 1 to 256");
  } else if (name == "--fail-on") {
    return parse_fail_on(value, args, error);
  } else if (name == "--relative-to") {
    return set_name(value, "--relative-to: empty folder name", &args->relative_to, error);
  } else if (name == "-o" || name == "--output") {
    args->has_out = true;
    args->out = value;
  } else if (name == "--options") {
    std::string why;
    if (!option_string_ok(value, &why)) return fail(error, "--options '" + value + "': " + why);
    args->has_options = true;
    args->options = value;
  } else if (name == "--set") {
    return parse_set(value, args, error);
  } else if (name == "--plugin-dir") {
    return set_name(value, "--plugin-dir: empty folder name", &args->plugin_dir, error);
  } else if (name == "--report") {
    return set_name(value, "--report: empty file name (- for standard output)", &args->report,
                    error);
  } else if (name == "--include" || name == "--exclude") {
    if (value.empty()) return fail(error, name + ": empty pattern");
    (name == "--include" ? args->include : args->exclude).push_back(value);
  } else if (name == "--depfile") {
    return set_name(value, "--depfile: empty file name", &args->depfile, error);
  } else if (name == "--format") {
    std::string ext = value.empty() || value[0] == '.' ? value : "." + value;
    if (ext.size() < 2 || ext.find('/') != std::string::npos)
      return fail(error, "--format '" + value + "': expected an extension (obj, gltf, ply, ...)");
    args->format = ext;
  } else if (name == "--debug-log") {
    return set_name(value, "--debug-log: empty file name", &args->debug_log, error);
  } else if (name == "--host-version") {
    if (!parse_double(value, &args->host_version))
      return fail(error, "--host-version '" + value + "': not a number");
    args->has_host_version = true;
  } else if (name == "--timeout") {
    if (!parse_double(value, &args->limits.seconds) || args->limits.seconds < 0)
      return fail(error, "--timeout '" + value + "': expected seconds (0: no limit)");
  } else if (name == "--max-memory") {
    if (!parse_size(value, &args->limits.bytes))
      return fail(error, "--max-memory '" + value + "': expected a size such as 512M or 4G (0: no limit)");
  } else if (name == "--cancel-at-poll") {
    if (!parse_long(value, 1, &args->test.cancel_at_poll))
      return fail(error, "--cancel-at-poll '" + value + "': expected a count of 1 or more");
  } else if (name == "--fail-alloc-after") {
    if (!parse_long(value, 0, &args->test.fail_alloc_after))
      return fail(error, "--fail-alloc-after '" + value + "': expected a count of 0 or more");
  } else {
    return set_name(value, "--script: empty file name", &args->script, error);
  }
  return true;
}

// The option at words[*i], "--name=value" or "--name value" (which moves
// *i past the value).
bool parse_option(const std::vector<std::string> &words, size_t *i, Args *args,
                  std::string *error) {
  const std::string &word = words[*i];
  std::string name = word;
  std::string value;
  bool inline_value = false;
  const size_t equals = word.find('=');
  if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
    name = word.substr(0, equals);
    value = word.substr(equals + 1);
    inline_value = true;
  }
  const bool is_export = args->mode == Mode::kExport;
  const bool info_takes = name == "--report" || name == "--timeout" ||
                          name == "--max-memory" || name == "--jobs" || name == "-j";
  if (!is_export && is_export_only(name) && !(args->mode == Mode::kInfo && info_takes))
    return fail(error, "option '" + name + "' belongs to molv export");
  if (args->mode == Mode::kInfo && !info_takes)
    return fail(error,
                "molv info takes only --report, --jobs, --timeout and --max-memory, not '" +
                    name + "'");
  if (is_export && name == "--script") return fail(error, "option '--script' belongs to molv gui");
  if (bool *flag = flag_of(name, args)) {
    if (inline_value) return fail(error, "option '" + name + "' takes no value");
    *flag = true;
    return true;
  }
  if (!takes_value(name))
    return fail(error, "unknown option '" + name + "'" + did_you_mean(name, known_options()));
  if (!inline_value) {
    if (*i + 1 >= words.size()) return fail(error, "option '" + name + "' needs a value");
    value = words[++*i];
  }
  return set_value(name, value, args, error);
}

}  // namespace

bool parse_args(const std::vector<std::string> &words, Args *args, std::string *error) {
  *args = Args();
  if (words.empty()) return fail(error, "no command given");
  const std::string &command = words[0];
  if (command == "--help" || command == "-h" || command == "help") {
    args->mode = Mode::kHelp;
    return true;
  }
  if (command == "--version") return parse_version(words, args, error);
  if (command == "export")
    args->mode = Mode::kExport;
  else if (command == "gui")
    args->mode = Mode::kGui;
  else if (command == "info")
    args->mode = Mode::kInfo;
  else
    return fail(error, "unknown command '" + command + "'" +
                           did_you_mean(command, {"export", "gui", "info"}));

  bool options_done = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (options_done || word.empty() || word[0] != '-' || word == "-") {
      if (args->mode == Mode::kGui && !args->scenes.empty())
        return fail(error, "molv gui takes one scene, not also '" + word + "'");
      if (word.empty()) return fail(error, "empty scene file name");
      args->scenes.push_back(word);
    } else if (word == "--") {
      options_done = true;
    } else if (word == "--help" || word == "-h") {
      args->mode = Mode::kHelp;
      return true;
    } else if (!parse_option(words, &i, args, error)) {
      return false;
    }
  }
  if (args->mode == Mode::kExport) {
    if (args->remembered && args->defaults)
      return fail(error, "--remembered and --defaults exclude each other");
    // A plain run is reproducible: the plug-in's defaults, nothing remembered.
    args->defaults = !args->remembered;
  }
  return true;
}

long usable_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  // The cores this process may run on (a container or taskset may give
  // fewer than the machine has).
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
}

long job_count(const Args &args, size_t count) {
  long jobs = args.jobs;
  // The faults a test sets off count the passes of one process.
  const bool one = !args.debug_log.empty() || args.test.cancel_at_poll != 0 ||
                   args.test.fail_alloc_after >= 0;
  if (jobs == 0) jobs = one ? 1 : usable_cores();
  return std::max(1L, std::min({jobs, static_cast<long>(count), 256L}));
}

std::string plugin_folder(const Args &args) {
  return args.plugin_dir.empty() ? MOLV_DEFAULT_PLUGIN_DIR : args.plugin_dir;
}

bool is_folder(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool names_folder(const std::string &out) {
  return (!out.empty() && out.back() == '/') || is_folder(out);
}

std::string export_name(const Args &args, const std::string &scene) {
  std::string stem = "sample";
  if (!scene.empty()) {
    const size_t slash = scene.find_last_of('/');
    stem = slash == std::string::npos ? scene : scene.substr(slash + 1);
    if (!args.keep_extension) stem.resize(stem.size() - file_extension(scene).size());
  }
  if (!args.has_out) return stem;
  const std::string &out = args.out;
  if (names_folder(out)) return out + (out.back() == '/' ? "" : "/") + stem;
  if (out.size() >= 2 && out.compare(out.size() - 2, 2, ".x") == 0)
    return out.substr(0, out.size() - 2);
  return out;
}

std::string output_name_warning(const Args &args) {
  if (!args.has_out || args.out == "-" || names_folder(args.out)) return std::string();
  const std::string ext = file_extension(args.out);
  if (ext.empty() || ext == ".x") return std::string();
  return "warning: -o " + args.out + " writes " + args.out +
         ".x (molv writes .x files only; -o NAME or NAME.x)";
}

bool apply_options(const Args &args, std::string *options, std::string *error) {
  if (args.has_options) {
    if (args.options.size() > options->size()) options->resize(args.options.size());
    options->replace(0, args.options.size(), args.options);
  }
  for (const auto &set : args.sets) {
    if (set.first < 0 || static_cast<size_t>(set.first) >= options->size()) {
      *error = "--set " + std::to_string(set.first) + "=" + set.second +
               ": the options have only " + std::to_string(options->size()) + " characters";
      return false;
    }
    (*options)[static_cast<size_t>(set.first)] = set.second;
  }
  return true;
}

}  // namespace cli
}  // namespace molv
