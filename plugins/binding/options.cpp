/*
 * The option string in memory and in its file qel_export.opt.
 */
#include "binding/options.h"

#include <cstdio>
#include <cstring>

namespace qel {

namespace {

struct OptionText {
  char chars[kOptionCount + 1];
};

constexpr OptionText default_text() {
  OptionText text{};
  for (int i = 0; i <= kOptionCount; ++i) text.chars[i] = kDefaultOptions[i];
  return text;
}

// A new process starts with the default, set before any code runs.
OptionText g_text = default_text();
char *const g_options = g_text.chars;
std::string g_options_path;

}  // namespace

char *option_string() { return g_options; }

bool option_is_set(int index) {
  return index >= 0 && index < kOptionCount && g_options[index] == '1';
}

void options_take_over(const char *text) {
  if (text == nullptr) return;
  // Only the first 50 characters count: the string never grows.
  for (int i = 0; i < kOptionCount && text[i] != '\0'; ++i) g_options[i] = text[i];
}

void options_reset() { g_text = default_text(); }

const std::string &options_path() { return g_options_path; }

void set_options_path(const std::string &plugin_dir) {
  // Separators stay as they are: on this system a backslash is an ordinary
  // character of a file name, and "/" is already the native separator.
  g_options_path = plugin_dir + "/qel_export.opt";
}

int options_load() {
  std::FILE *file = std::fopen(g_options_path.c_str(), "rb");
  if (file == nullptr) return 1;
  // A short file replaces only the leading characters; a NUL byte read from
  // the file must not shorten the string, so it is taken as a clear option.
  char bytes[kOptionCount];
  std::size_t got = std::fread(bytes, 1, kOptionCount, file);
  std::fclose(file);
  for (std::size_t i = 0; i < got; ++i) g_options[i] = bytes[i] == '\0' ? '0' : bytes[i];
  return 0;
}

int options_save() {
  std::FILE *file = std::fopen(g_options_path.c_str(), "wb");
  if (file == nullptr) return 1;
  bool ok = std::fwrite(g_options, 1, kOptionCount, file) == kOptionCount;
  ok = (std::fclose(file) == 0) && ok;
  return ok ? 0 : 1;
}

}  // namespace qel
