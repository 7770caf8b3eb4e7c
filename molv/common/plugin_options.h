/*
 * The plug-in's option string as the front ends name it: 50 characters,
 * character N is option N ('1' set, '0' clear), character 49 the digit of
 * decimal places.  The host hands the string to the plug-in unchanged; this
 * table only lets a user say `--set triangulate=1` instead of `--set 9=1`,
 * checks what the command line gives, and explains the options in --help.
 * The rows are those of the plug-in's own option table.
 */
#ifndef MOLV_COMMON_PLUGIN_OPTIONS_H
#define MOLV_COMMON_PLUGIN_OPTIONS_H

#include <string>
#include <vector>

namespace molv {

constexpr int kOptionLength = 50;
constexpr int kDecimalsIndex = 49;

struct PluginOption {
  int index;
  const char *name;     // without "opt_"
  char default_value;   // in the plug-in's default string
  const char *meaning;  // one line, for --help
};

// Every option that has an effect, by index.
const std::vector<PluginOption> &plugin_options();

// The plug-in's built-in default string (what a first run, or --defaults,
// starts from).
const char *default_option_string();

// The index of a name of the table, or of a number 0..49 written as
// digits; -1 when TEXT is neither.
int option_index(const std::string &text);

// Whether C may stand at INDEX: a digit at 49, '0' or '1' everywhere else
// (also at the indices without effect, which the plug-in stores as they are).
bool option_value_ok(int index, char c);

// Checks an option string given on the command line: at most 50
// characters, each one that option_value_ok allows.  False with a one-line
// *why ("character 1 is 'x'; ...").
bool option_string_ok(const std::string &options, std::string *why);

// Whether the option at INDEX is set in OPTIONS, the string a run hands the
// plug-in (read over the default, as the plug-in reads it).
bool option_is_set(const std::string &options, int index);

}  // namespace molv

#endif  // MOLV_COMMON_PLUGIN_OPTIONS_H
