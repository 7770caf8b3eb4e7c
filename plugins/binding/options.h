/*
 * The option string the host and the dialog share: 50 characters, one per
 * choice the user can make about an export (see core/options.h for what
 * they mean).  It lives once per process, is handed to the dialog, taken
 * back from every qel_save and kept between runs in qel_export.opt in the
 * plug-in folder.  Only the entry points read and change it: a run works
 * on a copy (Options) taken when it starts.
 */
#ifndef QEL_BINDING_OPTIONS_H
#define QEL_BINDING_OPTIONS_H

#include <string>

#include "core/options.h"

namespace qel {

// The string in memory: 50 characters and a terminator.
char *option_string();

// Copies the characters of `text` over the start of the string: a shorter
// text replaces only the leading options, a longer one only its first 50.
void options_take_over(const char *text);

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
