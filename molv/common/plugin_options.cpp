/*
 * The plug-in's option table as the front ends use it.
 */
#include "common/plugin_options.h"

#include "core/options.h"

namespace molv {

const std::vector<PluginOption> &plugin_options() {
  static const std::vector<PluginOption> table = {
#define MOLV_OPTION_ROW(number, name, value, meaning) {number, #name, value, meaning},
      QEL_OPTION_TABLE(MOLV_OPTION_ROW)
#undef MOLV_OPTION_ROW
  };
  return table;
}

const char *default_option_string() { return qel::kDefaultOptions; }

int option_index(const std::string &text) {
  for (const PluginOption &option : plugin_options())
    if (text == option.name) return option.index;
  // A number as the options table counts: plain digits, no sign, no
  // leading zero but "0" itself.
  if (text.empty() || text.size() > 2 || (text.size() == 2 && text[0] == '0')) return -1;
  int index = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
  }
  return index < kOptionLength ? index : -1;
}

bool option_value_ok(int index, char c) {
  if (index == kDecimalsIndex) return c >= '0' && c <= '9';
  return c == '0' || c == '1';
}

bool option_string_ok(const std::string &options, std::string *why) {
  if (options.size() > static_cast<size_t>(kOptionLength)) {
    *why = "has " + std::to_string(options.size()) + " characters, the options only " +
           std::to_string(kOptionLength);
    return false;
  }
  for (size_t i = 0; i < options.size(); ++i) {
    const int index = static_cast<int>(i);
    if (!option_value_ok(index, options[i])) {
      *why = "character " + std::to_string(index) + " is '" + std::string(1, options[i]) + "'; " +
             (index == kDecimalsIndex ? "character 49 is a digit" : "a switch is 0 or 1");
      return false;
    }
  }
  return true;
}

bool option_is_set(const std::string &options, int index) {
  return qel::Options(options.c_str()).is_set(static_cast<qel::OptionIndex>(index));
}

}  // namespace molv
