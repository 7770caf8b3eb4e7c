/*
 * The option string: 50 characters, one per choice the user can make about
 * an export.  Character N is option N and is set when it is '1'; character
 * 49 is the digit of decimal places.  The string lives once per process, is
 * handed to the dialog, taken back from every qel_save and kept between runs
 * in qel_export.opt in the plug-in folder.
 *
 * This file is part of the floor every layer of the plug-in may include; it
 * includes nothing of the plug-in above it.
 */
#ifndef QEL_BINDING_OPTIONS_H
#define QEL_BINDING_OPTIONS_H

#include <string>

#include "core/option_table.h"

namespace qel {

constexpr int kOptionCount = 50;

// opt_model_info = 1, ... opt_decimals = 49: the numbers of the table.
enum OptionIndex : int {
#define QEL_OPTION_ENUM(number, name, value, meaning) opt_##name = number,
  QEL_OPTION_TABLE(QEL_OPTION_ENUM)
#undef QEL_OPTION_ENUM
};

namespace detail {
struct DefaultOptions {
  char chars[kOptionCount + 1];
};
constexpr DefaultOptions make_default_options() {
  DefaultOptions text{};
  for (int i = 0; i < kOptionCount; ++i) text.chars[i] = '0';
#define QEL_OPTION_DEFAULT(number, name, value, meaning) text.chars[number] = value;
#define QEL_RESERVED_DEFAULT(number, value) text.chars[number] = value;
  QEL_OPTION_TABLE(QEL_OPTION_DEFAULT)
  QEL_OPTION_RESERVED(QEL_RESERVED_DEFAULT)
#undef QEL_OPTION_DEFAULT
#undef QEL_RESERVED_DEFAULT
  return text;
}
inline constexpr DefaultOptions kDefaultOptionText = make_default_options();
}  // namespace detail

// The built-in default, used until an options file or a qel_save changes
// it: every option's default from the table, '0' elsewhere.
inline constexpr const char *kDefaultOptions = detail::kDefaultOptionText.chars;

// The string in memory: 50 characters and a terminator.
char *option_string();

// True when character `index` is '1'.  Indices outside 0..49 are never set.
bool option_is_set(int index);

// Copies the characters of `text` over the start of the string: a shorter
// text replaces only the leading options, a longer one only its first 50.
void options_take_over(const char *text);

// Back to the built-in default (a new process starts with it).
void options_reset();

// Where the options file lies: "<plug-in folder>/qel_export.opt".
const std::string &options_path();
void set_options_path(const std::string &plugin_dir);

// 0 when the file was read (up to 50 bytes over the start of the string),
// 1 when it does not open or is not a regular file (a pipe, a device).
int options_load();
// 0 when the 50 characters were saved, 1 when not: they go into a new file
// in the folder that is renamed over the old one, so a symbolic link there
// is replaced (never written through) and a failed save leaves the old file.
int options_save();

}  // namespace qel

#endif  // QEL_BINDING_OPTIONS_H
