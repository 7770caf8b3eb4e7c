/*
 * The table of the plug-in's options for the command line.
 */
#include "plugin_options.h"

namespace molv {

const std::vector<PluginOption> &plugin_options() {
  // The meanings fit one line of --help: at most 50 characters.
  static const std::vector<PluginOption> table = {
      {1, "model_info", "model information and vertex totals in the header"},
      {2, "data_comments", "object data texts as comments"},
      {3, "z_axis", "z as the modeller holds it (0: z becomes -z)"},
      {4, "strip_texture_path", "texture names without their folder"},
      {5, "textures", "texture names and coordinates (with materials)"},
      {6, "materials", "materials and a material list per mesh"},
      {7, "normals", "a MeshNormals block per mesh"},
      {8, "flip_normals", "every normal turned to the other side"},
      {9, "triangulate", "polygons become triangles"},
      {10, "no_frames", "no frames; meshes keep the modeller's positions"},
      {11, "winding", "faces in the modeller's corner order (0: reversed)"},
      {12, "surface_shading", "flat surfaces take their surface normal"},
      {13, "duplication_indices", "a VertexDuplicationIndices block per mesh"},
      {14, "object_names", "frame and mesh names carry the object's name"},
      {15, "index_names", "names carry the object's place (FRM_..., MSH_...)"},
      {17, "fixed_numbers", "fixed form, six significant digits (0: %g form)"},
      {18, "no_specular", "power and specular colour 0 in every material"},
      {19, "texture_material", "textures take the colours of their first material"},
      {20, "no_leaf_frames", "no frame for a polygon object without children"},
      {21, "line_comments", "line surfaces as comments with their positions"},
      {22, "two_sided", "two-sided polygons twice, the copy facing back"},
      {23, "optimize_vertices", "equal vertices of a mesh written once"},
      {28, "subdivision", "subdivided objects in their subdivided form"},
      {29, "digit_prefix", "'_' before a name that begins with a digit"},
      {kDecimalsIndex, "decimals", "fixed form's decimal places below 1 (0: no limit)"},
  };
  return table;
}

const char *default_option_string() { return "00001111000010100101001111101100000000000000000006"; }

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

}  // namespace molv
