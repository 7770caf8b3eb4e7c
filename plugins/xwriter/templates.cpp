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
 * in one formatted write.
 */
#include "xwriter/templates.h"

#include <cstring>
#include <string>

#include "core/export_run.h"
#include "core/output.h"
#include "host/molv_host.h"
#include "xwriter/numbers.h"

namespace qel {

namespace {

// The eleven numbers of a template, in the order of the X format's Material
// template: faceColor (r, g, b, alpha), power, specularColor, emissiveColor.
struct TemplateNumbers {
  NumberText text[11];
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
MaterialValues read_material(const ExportRun &run, int index) {
  MaterialValues m;
  mo_material *material = mo_palette_get_material(index);
  mo_entity_get_rgb_value(material, "diffuse", m.diffuse);
  mo_entity_get_rgb_value(material, "specular", m.specular);
  mo_entity_get_rgb_value(material, "emissive", m.emissive);
  mo_entity_get_float_value(material, "shininess", &m.shininess);
  mo_entity_get_float_value(material, "transparency", &m.transparency);
  if (run.options.is_set(opt_no_specular)) {
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

TemplateNumbers template_numbers(const MaterialValues &m, const NumberForm &form) {
  // Alpha in single precision, as the host holds transparency.
  const float alpha = 1.0f - m.transparency;
  const float values[11] = {m.diffuse[0],  m.diffuse[1],  m.diffuse[2],  alpha,
                            m.shininess,   m.specular[0], m.specular[1], m.specular[2],
                            m.emissive[0], m.emissive[1], m.emissive[2]};
  TemplateNumbers n;
  for (int i = 0; i < 11; ++i) n.text[i] = format_number(values[i], form);
  return n;
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
void write_template(ExportRun &run, const std::string &name, const MaterialValues &m,
                    const std::string &inside) {
  const TemplateNumbers t = template_numbers(m, NumberForm(run.options));
  const auto n = [&](int i) { return t.text[i].c_str(); };
  run.out.printf("Material %s {\n  %s; %s; %s; %s;;\n  %s;\n  %s; %s; %s;;\n  %s; %s; %s;;\n%s}\n",
                 name.c_str(), n(0), n(1), n(2), n(3), n(4), n(5), n(6), n(7), n(8), n(9), n(10),
                 inside.c_str());
  run.out.puts("\n");
}

}  // namespace

void write_template_declarations(ExportRun &run) {
  // Every polygon of 3 or more corners that pass 1 counted is in a written
  // mesh, and every written mesh holds one.
  if (!run.options.is_set(opt_duplication_indices) || run.surface_vertex_total == 0) return;
  // As the format's documentation declares it.
  run.out.puts(
      "template VertexDuplicationIndices {\n"
      "  <B8D65549-D7C9-4995-89CF-53A9A8B031E3>\n"
      "  DWORD nIndices;\n"
      "  DWORD nOriginalVertices;\n"
      "  array DWORD indices[nIndices];\n"
      "}\n\n");
}

void write_materials(ExportRun &run) {
  const int palette = mo_get_num_palette();
  for (int i = 0; i < palette; ++i) {
    // Beyond the map (a palette that grew since pass 1) nothing was used.
    if (run.maps.material_number(i) < 0) continue;
    write_template(run, "Mat_" + std::to_string(i), read_material(run, i), std::string());
  }
}

void write_texture_materials(ExportRun &run) {
  const Options &options = run.options;
  const int textures = mo_get_num_textures();
  for (int t = 0; t < textures; ++t) {
    if (run.maps.texture_number(t) < 0) continue;

    const char *name = texture_id_to_name(t);
    if (name == nullptr) name = "";
    if (options.is_set(opt_strip_texture_path)) name = strip_directory(name);
    const std::string line = options.is_set(opt_textures) ? texture_line(name) : std::string();

    const std::string template_name = "Tex_" + std::to_string(t);
    if (options.is_set(opt_texture_material)) {
      // The colours and the palette index of the material the texture was
      // first used with (an index beyond the palette counts as 0, as in
      // the material lists); with no palette at all the template stays
      // white but keeps that name.
      const int palette = mo_get_num_palette();
      const int index = palette_index(run.maps.texture_material(t), palette);
      write_template(run, template_name + "_" + std::to_string(index),
                     palette > 0 ? read_material(run, index) : white_material(), line);
    } else {
      write_template(run, template_name, white_material(), line);
    }
  }
}

}  // namespace qel
