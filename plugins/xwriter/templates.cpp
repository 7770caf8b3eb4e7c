/*
 * Material and texture templates.
 *
 * Ahead of the object tree the file carries one Material template per
 * palette material and per texture that pass 1 found in use; the material
 * lists of the meshes refer to them as {Mat_<palette index>} and
 * {Tex_<texture id><suffix>}.  Which ones are used comes from the maps of
 * pass 1 (only the sign of an entry matters here).
 *
 * All eleven number texts of a template are produced first and then written
 * in one formatted write; the ring of format_number holds 20 results, so the
 * eleven stay valid until then.
 */
#include "xwriter/templates.h"

#include <cstring>
#include <string>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"
#include "host/molv_host.h"
#include "xwriter/numbers.h"

namespace qel {

namespace {

// The eleven numbers of a template, in the order of the X format's Material
// template: faceColor (r, g, b, alpha), power, specularColor, emissiveColor.
struct TemplateNumbers {
  const char *text[11];
};

struct MaterialValues {
  float diffuse[3] = {0.0f, 0.0f, 0.0f};
  float specular[3] = {0.0f, 0.0f, 0.0f};
  float emissive[3] = {0.0f, 0.0f, 0.0f};
  float shininess = 0.0f;
  float transparency = 0.0f;
};

// The five properties of palette material `index` (a valid index), without
// the specular part under opt_no_specular.
MaterialValues read_material(int index) {
  MaterialValues m;
  mo_material *material = mo_palette_get_material(index);
  mo_entity_get_rgb_value(material, "diffuse", m.diffuse);
  mo_entity_get_rgb_value(material, "specular", m.specular);
  mo_entity_get_rgb_value(material, "emissive", m.emissive);
  mo_entity_get_float_value(material, "shininess", &m.shininess);
  mo_entity_get_float_value(material, "transparency", &m.transparency);
  if (option_is_set(opt_no_specular)) {
    m.shininess = 0.0f;
    m.specular[0] = m.specular[1] = m.specular[2] = 0.0f;
  }
  return m;
}

// White and opaque, no power, no specular, no emission.
MaterialValues white_material() {
  MaterialValues m;
  m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 1.0f;
  return m;
}

TemplateNumbers template_numbers(const MaterialValues &m) {
  // Alpha in single precision, as the host holds transparency.
  const float alpha = 1.0f - m.transparency;
  return TemplateNumbers{{
      format_number(m.diffuse[0]),
      format_number(m.diffuse[1]),
      format_number(m.diffuse[2]),
      format_number(alpha),
      format_number(m.shininess),
      format_number(m.specular[0]),
      format_number(m.specular[1]),
      format_number(m.specular[2]),
      format_number(m.emissive[0]),
      format_number(m.emissive[1]),
      format_number(m.emissive[2]),
  }};
}

bool is_path_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

// Under opt_strip_texture_path: the name from the character behind the
// last separator that is not the name's last character.  The empty name stays empty.
const char *strip_directory(const char *name) {
  std::size_t start = std::strlen(name);
  if (start == 0) return name;
  --start;  // the last character itself is never taken for a separator
  while (start > 0 && !is_path_separator(name[start - 1])) --start;
  return name + start;
}

// The line that names the texture's file, inside the template.  A .x
// string has no escape, so each '"' of the name becomes '_'.
std::string texture_line(const char *name) {
  std::string line = "  TextureFileName { \"";
  for (const char *p = name; *p != '\0'; ++p) line += *p == '"' ? '_' : *p;
  line += "\"; }\n";
  return line;
}

// One Material template: its name, the eleven numbers and the lines inside
// it after them (the texture's file), then a blank line.
void write_template(Output &out, const std::string &name, const MaterialValues &m,
                    const std::string &inside) {
  const TemplateNumbers n = template_numbers(m);
  out.printf("Material %s {\n  %s; %s; %s; %s;;\n  %s;\n  %s; %s; %s;;\n  %s; %s; %s;;\n%s}\n",
             name.c_str(), n.text[0], n.text[1], n.text[2], n.text[3], n.text[4], n.text[5],
             n.text[6], n.text[7], n.text[8], n.text[9], n.text[10], inside.c_str());
  out.puts("\n");
}

}  // namespace

void write_materials(Output &out) {
  const ExportState &s = export_state();
  const int palette = mo_get_num_palette();
  for (int i = 0; i < palette; ++i) {
    // Beyond the map (a palette that grew since pass 1) nothing was used.
    if (s.maps.material_number(i) < 0) continue;
    write_template(out, "Mat_" + std::to_string(i), read_material(i), std::string());
  }
}

void write_texture_materials(Output &out) {
  const ExportState &s = export_state();
  const int textures = mo_get_num_textures();
  for (int t = 0; t < textures; ++t) {
    if (s.maps.texture_number(t) < 0) continue;

    const char *name = texture_id_to_name(t);
    if (name == nullptr) name = "";
    if (option_is_set(opt_strip_texture_path)) name = strip_directory(name);
    const std::string line = option_is_set(opt_textures) ? texture_line(name) : std::string();

    const std::string template_name = "Tex_" + std::to_string(t);
    if (option_is_set(opt_texture_material)) {
      // The colours and the palette index of the material the texture was
      // first used with (an index beyond the palette counts as 0, as in
      // the material lists); with no palette at all the template stays
      // white but keeps that name.
      const int palette = mo_get_num_palette();
      const int index = palette_index(s.maps.texture_material(t), palette);
      write_template(out, template_name + "_" + std::to_string(index),
                     palette > 0 ? read_material(index) : white_material(), line);
    } else {
      write_template(out, template_name, white_material(), line);
    }
  }
}

}  // namespace qel
