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

namespace qel {

constexpr int kOptionCount = 50;

enum OptionIndex : int {
  opt_model_info = 1,
  opt_data_comments = 2,
  opt_z_axis = 3,
  opt_strip_texture_path = 4,
  opt_textures = 5,
  opt_materials = 6,
  opt_normals = 7,
  opt_flip_normals = 8,
  opt_triangulate = 9,
  opt_no_frames = 10,
  opt_winding = 11,
  opt_surface_shading = 12,
  opt_duplication_indices = 13,
  opt_object_names = 14,
  opt_index_names = 15,
  opt_fixed_numbers = 17,
  opt_no_specular = 18,
  opt_texture_material = 19,
  opt_no_leaf_frames = 20,
  opt_line_comments = 21,
  opt_two_sided = 22,
  opt_optimize_vertices = 23,
  opt_subdivision = 28,
  opt_digit_prefix = 29,
  opt_decimals = 49
};

// The built-in default, used until an options file or a qel_save changes it.
inline constexpr char kDefaultOptions[kOptionCount + 1] =
    "00001111000010100101001111101100000000000000000006";

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
