/*
 * The reader check: Assimp's .x importer against the host's model.
 *
 * Two halves.  The expectation walks the host's model through the plug-in
 * interface, deciding per object what the file must hold (a frame and its
 * name, a Mesh with its faces as the reader will show them) from the
 * behaviour the plug-in promises its users.  The comparison then walks the
 * reader's node tree beside the expected one.
 *
 * How the reader's view relates to the file, for the undoing:
 * - positions and normals: the reader negates z (its own handedness) and
 *   keeps x and y; the file holds z times the z sign (opt_z_axis clear: -1),
 *   normals also times the normal sign (opt_flip_normals and opt_winding);
 * - frames: the reader turns each matrix M into S M S (S mirrors z), which
 *   keeps a translation-only matrix a translation, z negated;
 * - faces: the reader reverses every face; the file lists a face backwards
 *   unless opt_winding is set, so without it the reader's order is the
 *   host's;
 * - texture coordinates: the reader gives 1 - v of the file's v;
 * - a Mesh is split per material of its material list, faces in file order
 *   within each, materials in list order.
 */
#include "support/x_check.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace qel_test {

namespace {

constexpr size_t kMaxFaults = 25;

// ---- options and precision ---------------------------------------------------

struct Options {
  std::string text;
  bool set(int index) const {
    return static_cast<size_t>(index) < text.size() && text[static_cast<size_t>(index)] == '1';
  }
  int decimals() const {
    const char c = text.size() > 49 ? text[49] : '6';
    if (c < '0') return 0;
    if (c > '9') return 9;
    return c - '0';
  }
  float z_sign() const { return set(3) ? 1.0f : -1.0f; }
  float normal_sign() const { return (set(8) ? -1.0f : 1.0f) * (set(11) ? -1.0f : 1.0f); }
};

// How far a number read back may lie from the value it was written for:
// six significant digits in both forms, in the fixed form no more decimal
// places than opt_decimals allows (cut, not rounded), and the reader's own
// single-precision conversion.
class Precision {
 public:
  explicit Precision(const Options &options) {
    const int decimals = options.decimals();
    if (options.set(17) && decimals > 0) limit_ = std::pow(10.0, -decimals);
  }
  double of(double value) const { return std::fabs(value) * 2.5e-5 + limit_ + 1e-30; }

 private:
  double limit_ = 0.0;
};

// ---- texts ----------------------------------------------------------------------

std::string printable(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 32 || c >= 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::string triple(const double v[3]) {
  return "(" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + ")";
}

// The identifier a name must become: ASCII letters, digits, '_' and '-'
// stay, every other character is one '_' (a UTF-8 lead byte takes the
// continuation bytes after it along); with opt_digit_prefix a '_' before a
// leading digit; a leading '-' as '_'; a reserved word of the format gets a
// '_' in front.
std::string identifier(const std::string &name, const Options &options) {
  std::string id;
  if (options.set(29) && !name.empty() && name[0] >= '0' && name[0] <= '9') id = "_";
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 128 && (std::isalnum(c) != 0 || c == '_' || c == '-')) {
      id += static_cast<char>(c);
      continue;
    }
    id += '_';
    const int more = c >= 0xF0 && c <= 0xF4   ? 3
                     : c >= 0xE0 && c <= 0xEF ? 2
                     : c >= 0xC2 && c <= 0xDF ? 1
                                              : 0;
    for (int k = 0; k < more && i + 1 < name.size() && (name[i + 1] & 0xC0) == 0x80; ++k) ++i;
  }
  if (!id.empty() && id[0] == '-') id[0] = '_';
  for (const char *word : {"array", "binary", "binary_resource", "char", "cstring", "double",
                           "dword", "float", "sdword", "string", "sword", "template", "uchar",
                           "ulonglong", "unicode", "word"}) {
    if (strcasecmp(id.c_str(), word) == 0) return "_" + id;
  }
  return id;
}

// The texture file name as the reader must give it back.
std::string texture_name_read(const char *host_name, const Options &options) {
  std::string name = host_name != nullptr ? host_name : "";
  if (options.set(4)) {
    // Behind the last separator that is not the last character.
    for (size_t i = name.size(); i-- > 1;) {
      const char before = name[i - 1];
      if (before == '/' || before == '\\' || before == ':') {
        name = name.substr(i);
        break;
      }
    }
  }
  for (char &c : name) {
    if (c == '"') c = '_';
  }
  // The reader's own habit: a pair of backslashes is one.
  for (size_t at = name.find("\\\\"); at != std::string::npos; at = name.find("\\\\")) {
    name.replace(at, 2, "\\");
  }
  return name;
}

std::string material_name(const aiMaterial &material) {
  aiString name;
  if (material.Get(AI_MATKEY_NAME, name) != AI_SUCCESS) return "";
  return name.C_Str();
}

// ---- the expectation ----------------------------------------------------------

struct ExpMaterial {
  std::string name;
  float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float power = 0.0f;
  float specular[3] = {0.0f, 0.0f, 0.0f};
  float emissive[3] = {0.0f, 0.0f, 0.0f};
  std::string texture;  // empty: no texture
};

struct ExpCorner {
  double position[3];  // the host's, world coordinates
  double normal[3];    // the host's frame, before any sign of the file
  double uv[2];        // as the file holds them: u, and v before the reader's 1 - v
};

struct ExpFace {
  int local = 0;                   // material number within the mesh
  std::vector<ExpCorner> corners;  // in the reader's order
};

struct ExpMesh {
  std::string label;  // for messages
  bool global = false;
  double offset[3] = {0.0, 0.0, 0.0};  // a global mesh's origin
  bool texture_coords = false;
  // What single precision may take from every position beyond the number
  // form: a Mesh without a frame of its own is placed at its centre
  // minus (its centre minus the enclosing frame's origin), which loses
  // the last bits of a centre far from that origin.
  double slack[3] = {0.0, 0.0, 0.0};
  std::vector<ExpFace> faces;
  std::vector<ExpMaterial> materials;  // by local number; empty: no list
};

struct ExpNode {
  std::string name;
  double translation[3] = {0.0, 0.0, 0.0};  // as written, in the host's frame
  // Translations the reader added up into this node's own (an unnamed
  // child folded in): their sum hides how large each was.
  double folded[3] = {0.0, 0.0, 0.0};
  std::vector<size_t> meshes;  // into Expectation::meshes
  std::vector<std::unique_ptr<ExpNode>> children;
};

// One polygon as the mesh writer takes it.
struct Piece {
  uint16_t material = 0;
  int shading = 1;
  bool twosided = false;
  float normal[3] = {0.0f, 0.0f, 0.0f};
  struct Corner {
    float position[3];
    float u, v;
    float normal[3];
  };
  std::vector<Corner> corners;
};

struct Contents {
  int vertices = 0;
  int surfaces_count = 0;
  int children_count = 0;
  mo_list surfaces = nullptr;
  mo_list children = nullptr;
};

Contents contents_of(mo_object *object) {
  Contents c;
  mo_list vertices = nullptr;
  mo_object_get_contents(object, &c.vertices, &c.surfaces_count, &c.children_count, &vertices,
                         &c.surfaces, &c.children);
  return c;
}

class Expectation {
 public:
  explicit Expectation(const Options &options) : o_(options) {}

  // The whole file: templates and the frame tree.
  void build_file() {
    claim_templates();
    const double origin[3] = {0.0, 0.0, 0.0};
    walk(mo_get_world(), nullptr, origin, 0, 0, 0);
    assemble_root();
  }

  // One mesh at the top of a file of its own.
  void build_lone_mesh(mo_object *object, const float offset[3]) {
    claim_templates();
    meshes.push_back(build_mesh(object, "mesh"));
    meshes.back().global = true;
    for (int i = 0; i < 3; ++i) meshes.back().offset[i] = offset[i];
    root = std::make_unique<ExpNode>();
    root->name = "$dummy_node";
    root->meshes.push_back(0);
  }

  std::unique_ptr<ExpNode> root;  // null: the file holds nothing to read
  std::vector<ExpMesh> meshes;
  std::vector<ExpMaterial> templates;  // in file order

 private:
  // Which palette materials and textures get a template, and the palette
  // material a texture's template takes its colours from: the first
  // qualifying surface, depth first, of a polygon object with the
  // texture (its subdivided form under opt_subdivision, and that form's
  // children).
  void claim_templates() {
    const int palette = mo_get_num_palette();
    const int textures = mo_get_num_textures();
    used_material_.assign(static_cast<size_t>(palette > 0 ? palette : 0), false);
    texture_material_.assign(static_cast<size_t>(textures > 0 ? textures : 0), -1);
    std::vector<mo_object *> stack{mo_get_world()};
    while (!stack.empty()) {
      mo_object *object = stack.back();
      stack.pop_back();
      if (object == nullptr) continue;
      object = mesh_source(object);
      const Contents c = contents_of(object);
      if (mo_object_get_type(object) == MO_OBJ_POLYGON) {
        const int texture = texture_of(object);
        for (mo_list node = c.surfaces; node != nullptr; node = node->next) {
          auto *surface = static_cast<mo_surface *>(node->item);
          if (surface_get_type(surface) != MO_SURF_POLYGON || surface->vertex_count < 3) continue;
          const int material = palette_slot(surface->material);
          if (texture >= 0) {
            int &entry = texture_material_[static_cast<size_t>(texture)];
            if (entry < 0) entry = material < 0 ? 0 : material;
          } else if (material >= 0) {
            used_material_[static_cast<size_t>(material)] = true;
          }
        }
      }
      std::vector<mo_object *> children;
      for (mo_list node = c.children; node != nullptr; node = node->next) {
        children.push_back(static_cast<mo_object *>(node->item));
      }
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
    if (!o_.set(6)) return;
    for (size_t i = 0; i < used_material_.size(); ++i) {
      if (used_material_[i]) templates.push_back(palette_material(static_cast<int>(i)));
    }
    for (size_t t = 0; t < texture_material_.size(); ++t) {
      if (texture_material_[t] >= 0) templates.push_back(texture_material(static_cast<int>(t)));
    }
  }

  int palette_slot(int index) const {
    const int size = static_cast<int>(used_material_.size());
    if (index >= 0 && index < size) return index;
    return size > 0 ? 0 : -1;
  }

  int texture_of(mo_object *object) const {
    if (!mo_object_has_texture(object)) return -1;
    const int id = mo_object_get_texture_index(object);
    return id >= 0 && static_cast<size_t>(id) < texture_material_.size() ? id : -1;
  }

  mo_object *mesh_source(mo_object *object) const {
    if (o_.set(28) && mo_object_is_subdivided(object)) {
      if (mo_object *form = mo_object_get_subdivision(object)) return form;
    }
    return object;
  }

  void colours_of(int palette_index, ExpMaterial *m) const {
    mo_material *material = mo_palette_get_material(palette_index);
    float rgb[3];
    mo_entity_get_rgb_value(material, "diffuse", rgb);
    float transparency = 0.0f;
    mo_entity_get_float_value(material, "transparency", &transparency);
    for (int i = 0; i < 3; ++i) m->diffuse[i] = rgb[i];
    m->diffuse[3] = 1.0f - transparency;
    mo_entity_get_float_value(material, "shininess", &m->power);
    mo_entity_get_rgb_value(material, "specular", m->specular);
    mo_entity_get_rgb_value(material, "emissive", m->emissive);
    if (o_.set(18)) {
      m->power = 0.0f;
      for (float &c : m->specular) c = 0.0f;
    }
  }

  ExpMaterial palette_material(int index) const {
    ExpMaterial m;
    m.name = "Mat_" + std::to_string(index);
    colours_of(index, &m);
    return m;
  }

  ExpMaterial texture_material(int id) const {
    ExpMaterial m;
    m.name = "Tex_" + std::to_string(id);
    if (o_.set(19)) {
      const int palette_index = texture_material_[static_cast<size_t>(id)];
      m.name += "_" + std::to_string(palette_index);
      colours_of(palette_index, &m);
    }
    if (o_.set(5)) m.texture = texture_name_read(texture_id_to_name(id), o_);
    return m;
  }

  std::string label(mo_object *object, int type, const char *index_prefix) const {
    std::string text;
    const bool names = o_.set(14);
    const bool index = o_.set(15);
    if (names) {
      const char *name = mo_object_get_name(object);
      text += type == MO_OBJ_WORLD ? "WORLD" : identifier(name != nullptr ? name : "", o_);
    }
    if (names && index) text += "__";
    if (index) text += index_prefix + code_;
    return text;
  }

  // Depth first as the frames are written: a frame for every object that
  // gets one, its Mesh in the innermost frame around it (or at the top of
  // the file), children after.
  void walk(mo_object *object, ExpNode *frame, const double frame_origin[3], int level,
            int parent_number, int own_number) {
    const int type = mo_object_get_type(object);
    const Contents c = contents_of(object);
    if (type != MO_OBJ_LIGHT) ++counter_;
    code_ = std::to_string(level) + "_" + std::to_string(parent_number) + "_" +
            std::to_string(own_number) + "_" + std::to_string(counter_);

    int polygons = 0;
    int lines = 0;
    for (mo_list node = c.surfaces; node != nullptr; node = node->next) {
      const int surface_type = surface_get_type(static_cast<mo_surface *>(node->item));
      if (surface_type == MO_SURF_POLYGON) ++polygons;
      if (surface_type == MO_SURF_LINE || surface_type == MO_SURF_CLOSED_LINE) ++lines;
    }
    bool has_frame = !o_.set(10) && type != MO_OBJ_LIGHT && !(lines > 0 && polygons == 0);
    if (o_.set(20) && type == MO_OBJ_POLYGON && c.children_count == 0) has_frame = false;

    const float *centre = mo_object_get_centre(object);
    ExpNode *here = frame;
    double here_origin[3] = {frame_origin[0], frame_origin[1], frame_origin[2]};
    if (has_frame) {
      auto node = std::make_unique<ExpNode>();
      node->name = label(object, type, "FRM_");
      for (int i = 0; i < 3; ++i) {
        here_origin[i] = centre[i];
        node->translation[i] = centre[i] - frame_origin[i];
      }
      here = node.get();
      (frame != nullptr ? frame->children : top_frames_).push_back(std::move(node));
    }

    if (type == MO_OBJ_POLYGON && c.vertices > 0 && polygons > 0 && has_loadable_face(object)) {
      meshes.push_back(build_mesh(object, label(object, type, "MSH_")));
      if (!has_frame && !o_.set(10)) {
        for (int i = 0; i < 3; ++i) {
          meshes.back().slack[i] = 2.4e-7 * (std::fabs(centre[i]) + std::fabs(frame_origin[i]));
        }
      }
      if (here != nullptr) {
        here->meshes.push_back(meshes.size() - 1);
      } else {
        meshes.back().global = true;  // at the top: in the host's coordinates
        global_meshes_.push_back(meshes.size() - 1);
      }
    }

    int number = 0;
    for (mo_list node = c.children; node != nullptr; node = node->next) {
      auto *child = static_cast<mo_object *>(node->item);
      walk(child, here, here_origin, level + 1, own_number, number);
      if (mo_object_get_type(child) != MO_OBJ_LIGHT) ++number;
    }
  }

  bool has_loadable_face(mo_object *object) const {
    const Contents c = contents_of(mesh_source(object));
    for (mo_list node = c.surfaces; node != nullptr; node = node->next) {
      auto *surface = static_cast<mo_surface *>(node->item);
      if (surface_get_type(surface) == MO_SURF_POLYGON && surface->vertex_count >= 3) return true;
    }
    return false;
  }

  // The reader's root: the one top frame, or a made-up root over several;
  // an unnamed only child with a mesh folded into its parent; the meshes
  // outside every frame put on the root in place of its own.
  void assemble_root() {
    if (top_frames_.size() == 1) {
      root = std::move(top_frames_.front());
    } else if (top_frames_.size() > 1) {
      root = std::make_unique<ExpNode>();
      root->name = "$dummy_root";
      root->children = std::move(top_frames_);
    }
    if (root != nullptr) fold_unnamed(*root);
    if (!global_meshes_.empty()) {
      if (root == nullptr) {
        root = std::make_unique<ExpNode>();
        root->name = "$dummy_node";
      }
      root->meshes = global_meshes_;
    }
  }

  static void fold_unnamed(ExpNode &node) {
    if (node.children.size() == 1 && node.meshes.empty()) {
      ExpNode &child = *node.children.front();
      if (child.name.empty() && !child.meshes.empty()) {
        for (int i = 0; i < 3; ++i) {
          node.folded[i] += std::fabs(node.translation[i]) + std::fabs(child.translation[i]);
        }
        node.meshes = child.meshes;
        node.children.clear();
      }
    }
    for (auto &child : node.children) fold_unnamed(*child);
  }

  static Piece piece_of(mo_surface *surface) {
    Piece p;
    p.material = surface->material;
    p.shading = surface_get_shading(surface);
    p.twosided = surface_get_twosided(surface) == 1;
    for (int i = 0; i < 3; ++i) p.normal[i] = surface->normal[i];
    for (int k = 0; k < surface->vertex_count; ++k) {
      const mo_svertex *sv = surface_get_svertex_at(surface, k);
      Piece::Corner corner{};
      if (sv != nullptr && sv->vertex != nullptr) {
        corner.position[0] = sv->vertex->x;
        corner.position[1] = sv->vertex->y;
        corner.position[2] = sv->vertex->z;
        corner.u = sv->u;
        corner.v = sv->v;
        for (int i = 0; i < 3; ++i) corner.normal[i] = sv->normal[i];
      }
      p.corners.push_back(corner);
    }
    return p;
  }

  static Piece flipped(const Piece &source) {
    Piece p = source;
    for (float &n : p.normal) n = -n;
    for (auto &corner : p.corners) {
      for (float &n : corner.normal) n = -n;
    }
    std::vector<Piece::Corner> reversed(p.corners.rbegin(), p.corners.rend());
    p.corners = std::move(reversed);
    return p;
  }

  // The faces of one Mesh in file order, as the mesh writer builds them:
  // polygons of three or more corners, triangulated under opt_triangulate, the
  // flipped copies of two-sided pieces ahead of their group under 22.
  ExpMesh build_mesh(mo_object *object, const std::string &mesh_label) {
    mo_object *source = mesh_source(object);
    object_calc_normals_force(source);
    const Contents c = contents_of(source);

    std::vector<Piece> pieces;
    for (mo_list node = c.surfaces; node != nullptr; node = node->next) {
      auto *surface = static_cast<mo_surface *>(node->item);
      if (surface_get_type(surface) != MO_SURF_POLYGON || surface->vertex_count < 3) continue;
      std::vector<Piece> group;
      if (o_.set(9) && surface->vertex_count > 3) {
        mo_list triangles = surface_get_triangulations(surface);
        for (mo_list t = triangles; t != nullptr; t = t->next) {
          group.push_back(piece_of(static_cast<mo_surface *>(t->item)));
        }
        mo_surfacelist_free(triangles);
      } else {
        group.push_back(piece_of(surface));
      }
      if (o_.set(22)) {
        std::vector<Piece> copies;
        for (const Piece &piece : group) {
          if (piece.twosided) copies.insert(copies.begin(), flipped(piece));
        }
        group.insert(group.begin(), copies.begin(), copies.end());
      }
      pieces.insert(pieces.end(), group.begin(), group.end());
    }

    ExpMesh mesh;
    mesh.label = mesh_label;
    const int texture = texture_of(source);
    mesh.texture_coords = o_.set(5) && o_.set(6) && texture >= 0;
    const float repeat[2] = {mo_object_get_texture_repeat_x(source),
                             mo_object_get_texture_repeat_y(source)};
    const float shift[2] = {mo_object_get_texture_offset_x(source),
                            mo_object_get_texture_offset_y(source)};

    std::vector<int> local_of(used_material_.size() + 1, -1);
    if (o_.set(6) && texture >= 0) mesh.materials.push_back(texture_material(texture));
    for (const Piece &piece : pieces) {
      ExpFace face;
      if (o_.set(6) && texture < 0) {
        const int slot = palette_slot(piece.material);
        const size_t key = slot < 0 ? used_material_.size() : static_cast<size_t>(slot);
        if (local_of[key] < 0) {
          local_of[key] = static_cast<int>(mesh.materials.size());
          mesh.materials.push_back(palette_material(slot < 0 ? 0 : slot));
        }
        face.local = local_of[key];
      }
      const size_t n = piece.corners.size();
      for (size_t i = 0; i < n; ++i) {
        const Piece::Corner &corner = piece.corners[o_.set(11) ? n - 1 - i : i];
        ExpCorner e{};
        const bool flat = o_.set(12) && piece.shading == 0;
        for (int a = 0; a < 3; ++a) {
          e.position[a] = corner.position[a];
          e.normal[a] = flat ? piece.normal[a] : corner.normal[a];
        }
        if (mesh.texture_coords) {
          // As the file holds them, in single precision step by step.
          const float u = corner.u * repeat[0];
          const float v = (1.0f - corner.v) * repeat[1];
          e.uv[0] = static_cast<float>(shift[0] + u);
          e.uv[1] = static_cast<float>(shift[1] + v);
        }
        face.corners.push_back(e);
      }
      mesh.faces.push_back(std::move(face));
    }
    return mesh;
  }

  const Options &o_;
  std::vector<bool> used_material_;
  std::vector<int> texture_material_;
  std::vector<std::unique_ptr<ExpNode>> top_frames_;
  std::vector<size_t> global_meshes_;
  int counter_ = -1;
  std::string code_;
};

// ---- the comparison -------------------------------------------------------------

class Comparison {
 public:
  Comparison(const Options &options, const Expectation &expected, XCheck *result)
      : o_(options), precision_(options), expected_(expected), r_(*result) {}

  void fault(const std::string &where, const std::string &what) {
    if (r_.faults.size() < kMaxFaults) r_.faults.push_back(where + ": " + what);
  }

  // What the reader does not show of a VertexDuplicationIndices block, by
  // the template: an index per vertex of its Mesh, each naming itself or an
  // earlier vertex that names itself; nOriginalVertices, how many do.
  void duplication_indices(const std::string &text) {
    std::istringstream lines(text);
    long vertices = -1;
    for (std::string line; std::getline(lines >> std::ws, line);) {
      if (line.rfind("Mesh ", 0) == 0 && std::getline(lines, line)) vertices = std::atol(&line[0]);
      if (line != "VertexDuplicationIndices {") continue;
      std::vector<long> n;  // nIndices, nOriginalVertices, the indices
      for (std::string word; std::getline(lines, word) && word != "}";)
        n.push_back(std::atol(word.c_str()));
      long own = 0, at = 0;
      for (size_t i = 2; i < n.size(); ++i, ++at) {
        own += n[i] == at;
        if (n[i] < 0 || n[i] > at || n[static_cast<size_t>(n[i]) + 2] != n[i])
          fault("duplication indices", std::to_string(at) + " names " + std::to_string(n[i]));
      }
      if (n.size() < 2 || n[0] != vertices || at != vertices || n[1] != own)
        fault("duplication indices", "counts unlike a mesh of " + std::to_string(vertices) +
                                         " vertices, " + std::to_string(own) + " first");
    }
  }

  void templates(const aiScene &scene) {
    std::vector<const aiMaterial *> named;
    for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
      // The reader makes up one unnamed material for a file without any.
      if (!material_name(*scene.mMaterials[i]).empty()) named.push_back(scene.mMaterials[i]);
    }
    const auto &wanted = expected_.templates;
    if (named.size() != wanted.size()) {
      std::string names;
      for (const aiMaterial *m : named) names += " " + material_name(*m);
      fault("templates", std::to_string(named.size()) + " Material templates (" + names +
                             " ), expected " + std::to_string(wanted.size()));
    }
    for (size_t i = 0; i < named.size() && i < wanted.size(); ++i) {
      material(*named[i], wanted[i], "template " + std::to_string(i));
    }
  }

  void material(const aiMaterial &actual, const ExpMaterial &wanted, const std::string &where) {
    ++r_.materials;
    const std::string name = material_name(actual);
    if (name != wanted.name) {
      fault(where, "named '" + printable(name) + "', expected '" + wanted.name + "'");
      return;
    }
    const std::string at = where + " " + name;
    aiColor4D diffuse;
    if (actual.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) != AI_SUCCESS) fault(at, "no face colour");
    const float got_diffuse[4] = {diffuse.r, diffuse.g, diffuse.b, diffuse.a};
    close(at + " face colour", got_diffuse, wanted.diffuse, 4);
    float power = 0.0f;
    actual.Get(AI_MATKEY_SHININESS, power);
    close(at + " power", &power, &wanted.power, 1);
    aiColor3D specular, emissive;
    actual.Get(AI_MATKEY_COLOR_SPECULAR, specular);
    actual.Get(AI_MATKEY_COLOR_EMISSIVE, emissive);
    const float got_specular[3] = {specular.r, specular.g, specular.b};
    const float got_emissive[3] = {emissive.r, emissive.g, emissive.b};
    close(at + " specular colour", got_specular, wanted.specular, 3);
    close(at + " emissive colour", got_emissive, wanted.emissive, 3);
    aiString texture;
    const bool has_texture = actual.GetTexture(aiTextureType_DIFFUSE, 0, &texture) == AI_SUCCESS;
    const std::string got = has_texture ? texture.C_Str() : "";
    if (got != wanted.texture) {
      fault(at, "texture '" + printable(got) + "', expected '" + printable(wanted.texture) + "'");
    }
  }

  void close(const std::string &where, const float *got, const float *wanted, int count) {
    for (int i = 0; i < count; ++i) {
      if (std::fabs(static_cast<double>(got[i]) - wanted[i]) > precision_.of(wanted[i])) {
        fault(where, "component " + std::to_string(i) + " is " + number(got[i]) + ", expected " +
                         number(wanted[i]));
        return;
      }
    }
  }

  void node(const aiScene &scene, const aiNode &actual, const ExpNode &wanted,
            const std::string &parent_path, const double origin[3], const double slack[3]) {
    ++r_.frames;
    const std::string name = actual.mName.C_Str();
    const std::string path = parent_path + "/" + printable(wanted.name);
    if (name != wanted.name)
      fault(path, "the reader found a frame named '" + printable(name) + "'");

    // Translation only: the frames carry no rotation or scale.
    const aiMatrix4x4 &m = actual.mTransformation;
    const float linear[13] = {m.a1, m.a2, m.a3, m.b1, m.b2, m.b3, m.c1,
                              m.c2, m.c3, m.d1, m.d2, m.d3, m.d4};
    const float identity[13] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 13; ++i) {
      if (linear[i] != identity[i]) {
        fault(path, "the frame's matrix is not a translation");
        break;
      }
    }
    double here[3];
    double here_slack[3];
    const double move[3] = {m.a4, m.b4, -static_cast<double>(o_.z_sign()) * m.c4};
    for (int i = 0; i < 3; ++i) {
      here[i] = origin[i] + move[i];
      here_slack[i] = slack[i] + precision_.of(move[i]) + precision_.of(wanted.folded[i]) +
                      1.2e-7 * wanted.folded[i];
    }

    // Meshes, split per material as the reader does.
    size_t at = 0;
    for (size_t index : wanted.meshes) {
      const ExpMesh &mesh = expected_.meshes[index];
      ++r_.meshes;
      const size_t parts = mesh.materials.empty() ? 1 : mesh.materials.size();
      for (size_t local = 0; local < parts; ++local) {
        std::vector<const ExpFace *> faces;
        for (const ExpFace &face : mesh.faces) {
          if (mesh.materials.empty() || face.local == static_cast<int>(local))
            faces.push_back(&face);
        }
        if (faces.empty()) continue;
        const std::string where =
            path + " mesh " + printable(mesh.label) + " material " + std::to_string(local);
        if (at >= actual.mNumMeshes) {
          fault(where, "missing: the reader found " + std::to_string(actual.mNumMeshes) +
                           " meshes in the frame");
          ++at;
          continue;
        }
        const unsigned mesh_index = actual.mMeshes[at++];
        if (mesh_index >= scene.mNumMeshes) {
          fault(where, "the reader's mesh index is out of range");
          continue;
        }
        const double zero[3] = {0.0, 0.0, 0.0};
        submesh(scene, *scene.mMeshes[mesh_index], mesh, local, faces, where,
                mesh.global ? mesh.offset : here, mesh.global ? zero : here_slack);
      }
    }
    if (at != actual.mNumMeshes) {
      fault(path, "the reader found " + std::to_string(actual.mNumMeshes) + " meshes, expected " +
                      std::to_string(at));
    }

    if (actual.mNumChildren != wanted.children.size()) {
      fault(path, "the reader found " + std::to_string(actual.mNumChildren) +
                      " frames inside, expected " + std::to_string(wanted.children.size()));
    }
    for (size_t i = 0; i < wanted.children.size() && i < actual.mNumChildren; ++i) {
      node(scene, *actual.mChildren[i], *wanted.children[i], path, here, here_slack);
    }
  }

  void submesh(const aiScene &scene, const aiMesh &actual, const ExpMesh &mesh, size_t local,
               const std::vector<const ExpFace *> &faces, const std::string &where,
               const double origin[3], const double slack[3]) {
    ++r_.submeshes;
    if (!mesh.materials.empty()) {
      // This reader gives a referenced template the scene's material at
      // the reference's place in the mesh's list, not the one it names,
      // so the name is compared only where the reader resolved it by name;
      // that every reference names a template is seen in its warnings.
      const ExpMaterial &wanted = mesh.materials[local];
      const std::string name = actual.mMaterialIndex < scene.mNumMaterials
                                   ? material_name(*scene.mMaterials[actual.mMaterialIndex])
                                   : "";
      if (name != wanted.name && actual.mMaterialIndex != local) {
        fault(where,
              "refers to material '" + printable(name) + "', expected '" + wanted.name + "'");
      }
    }
    if (actual.mNumFaces != faces.size()) {
      fault(where,
            std::to_string(actual.mNumFaces) + " faces, expected " + std::to_string(faces.size()));
      return;
    }
    const bool normals = o_.set(7);
    if (normals != actual.HasNormals()) {
      fault(where, normals ? "no normals" : "normals that were not written");
    }
    if (mesh.texture_coords != actual.HasTextureCoords(0)) {
      fault(where, mesh.texture_coords ? "no texture coordinates"
                                       : "texture coordinates that were not written");
    }
    const double z = -static_cast<double>(o_.z_sign());
    const double normal_sign = o_.normal_sign();
    for (size_t f = 0; f < faces.size(); ++f) {
      ++r_.faces;
      const aiFace &face = actual.mFaces[f];
      const std::vector<ExpCorner> &corners = faces[f]->corners;
      const std::string at_face = where + " face " + std::to_string(f);
      if (corners.size() > 8) ++r_.large_faces;
      if (face.mNumIndices != corners.size()) {
        fault(at_face, std::to_string(face.mNumIndices) + " corners, expected " +
                           std::to_string(corners.size()));
        continue;
      }
      for (size_t k = 0; k < corners.size(); ++k) {
        const std::string at = at_face + " corner " + std::to_string(k);
        const unsigned i = face.mIndices[k];
        if (i >= actual.mNumVertices) {
          fault(at, "index beyond the reader's vertices");
          continue;
        }
        const ExpCorner &wanted = corners[k];
        ++r_.corners;
        const aiVector3D &p = actual.mVertices[i];
        const double local_position[3] = {p.x, p.y, z * p.z};
        double world[3];
        for (int a = 0; a < 3; ++a) world[a] = origin[a] + local_position[a];
        for (int a = 0; a < 3; ++a) {
          const double allowed = slack[a] + mesh.slack[a] + precision_.of(local_position[a]) +
                                 2e-7 * (std::fabs(wanted.position[a]) + std::fabs(origin[a]));
          if (std::fabs(world[a] - wanted.position[a]) > allowed) {
            fault(at, "position " + triple(world) + ", expected " + triple(wanted.position));
            break;
          }
        }
        if (normals && actual.HasNormals()) {
          ++r_.normals;
          const aiVector3D &n = actual.mNormals[i];
          const double got[3] = {normal_sign * n.x, normal_sign * n.y, normal_sign * z * n.z};
          for (int a = 0; a < 3; ++a) {
            if (std::fabs(got[a] - wanted.normal[a]) > precision_.of(wanted.normal[a]) + 1e-6) {
              fault(at, "normal " + triple(got) + ", expected " + triple(wanted.normal));
              break;
            }
          }
        }
        if (mesh.texture_coords && actual.HasTextureCoords(0)) {
          ++r_.texture_coords;
          const aiVector3D &t = actual.mTextureCoords[0][i];
          const double got[2] = {t.x, 1.0 - static_cast<double>(t.y)};
          for (int a = 0; a < 2; ++a) {
            if (std::fabs(got[a] - wanted.uv[a]) > precision_.of(wanted.uv[a]) + 1e-6) {
              fault(at, "texture coordinates (" + number(got[0]) + ", " + number(got[1]) +
                            "), expected (" + number(wanted.uv[0]) + ", " + number(wanted.uv[1]) +
                            ") (v as written)");
              break;
            }
          }
        }
      }
    }
  }

 private:
  const Options &o_;
  Precision precision_;
  const Expectation &expected_;
  XCheck &r_;
};

// The reader's warnings: a material reference that names no template is
// only a warning to it.
class WarningStream : public Assimp::LogStream {
 public:
  void write(const char *message) override { text += message; }
  std::string text;
};

WarningStream &reader_warnings() {
  static WarningStream *stream = [] {
    if (!Assimp::DefaultLogger::isNullLogger()) Assimp::DefaultLogger::kill();
    Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
    auto *warnings = new WarningStream;  // the logger owns it
    Assimp::DefaultLogger::get()->attachStream(warnings, Assimp::Logger::Warn);
    return warnings;
  }();
  return *stream;
}

// Reads the text with the .x importer, without post-processing (its
// validation would refuse a file without meshes, which is a good file).
const aiScene *read_x(Assimp::Importer &importer, const std::string &text, std::string *error,
                      std::string *warnings = nullptr) {
  WarningStream &stream = reader_warnings();
  stream.text.clear();
  const aiScene *scene = importer.ReadFileFromMemory(text.data(), text.size(), 0, "x");
  if (scene == nullptr) *error = importer.GetErrorString();
  if (warnings != nullptr) *warnings = stream.text;
  return scene;
}

XCheck compare(const std::string &text, const Options &options, const Expectation &expected,
               bool check_templates, bool check_tree) {
  XCheck result;
  Assimp::Importer importer;
  std::string warnings;
  const aiScene *scene = read_x(importer, text, &result.reader_error, &warnings);
  result.loaded = scene != nullptr && scene->mRootNode != nullptr;
  if (!result.loaded) {
    // A file with neither a frame nor a mesh holds nothing this reader
    // takes; anything else it must read.
    result.nothing_to_read = check_tree && expected.root == nullptr;
    return result;
  }
  Comparison comparison(options, expected, &result);
  for (size_t at = warnings.find("Could not resolve global material reference");
       at != std::string::npos;
       at = warnings.find("Could not resolve global material reference", at + 1)) {
    const size_t end = warnings.find('\n', at);
    comparison.fault("material list", "the reader says: " + warnings.substr(at, end - at));
  }
  comparison.duplication_indices(text);
  if (check_templates) comparison.templates(*scene);
  if (check_tree) {
    if (expected.root == nullptr) {
      comparison.fault("file", "the reader found content where nothing was expected");
    } else {
      const double zero[3] = {0.0, 0.0, 0.0};
      comparison.node(*scene, *scene->mRootNode, *expected.root, "", zero, zero);
    }
  }
  return result;
}

std::string stand_in_template(const ExpMaterial &m) {
  std::ostringstream text;
  text.precision(9);
  text << "Material " << m.name << " {\n  " << m.diffuse[0] << "; " << m.diffuse[1] << "; "
       << m.diffuse[2] << "; " << m.diffuse[3] << ";;\n  " << m.power << ";\n  " << m.specular[0]
       << "; " << m.specular[1] << "; " << m.specular[2] << ";;\n  " << m.emissive[0] << "; "
       << m.emissive[1] << "; " << m.emissive[2] << ";;\n";
  if (!m.texture.empty()) text << "  TextureFileName { \"" << m.texture << "\"; }\n";
  text << "}\n";
  return text.str();
}

}  // namespace

std::string XCheck::report() const {
  std::string text;
  if (!loaded && !nothing_to_read) text += "the reader refused the file: " + reader_error + "\n";
  for (const std::string &f : faults) text += f + "\n";
  return text;
}

XCheck x_check(const std::string &x_text, const std::string &options_text) {
  const Options options{options_text};
  Expectation expected(options);
  expected.build_file();
  return compare(x_text, options, expected, true, true);
}

XCheck x_check_mesh_body(const std::string &body, mo_object *object, const float offset[3],
                         const std::string &options_text) {
  const Options options{options_text};
  Expectation expected(options);
  expected.build_lone_mesh(object, offset);
  std::string text = "xof 0302txt 0064\n";
  for (const ExpMaterial &m : expected.meshes.front().materials) text += stand_in_template(m);
  text += "Mesh checked {\n" + body + "\n}\n";
  return compare(text, options, expected, false, true);
}

XCheck x_check_templates(const std::string &head, const std::string &options_text) {
  const Options options{options_text};
  Expectation expected(options);
  expected.build_file();
  // Something for the reader to hold on to behind the templates.
  return compare(head + "\nFrame anchor {\n}\n", options, expected, true, false);
}

XSummary x_read(const std::string &x_text) {
  XSummary summary;
  Assimp::Importer importer;
  const aiScene *scene = read_x(importer, x_text, &summary.reader_error);
  if (scene == nullptr || scene->mRootNode == nullptr) return summary;
  summary.loaded = true;
  for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
    aiString texture;
    if (scene->mMaterials[i]->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == AI_SUCCESS) {
      summary.texture_names.push_back(texture.C_Str());
    }
  }
  struct Visit {
    const aiNode *node;
    int depth;
    aiVector3D origin;
  };
  std::vector<Visit> stack{{scene->mRootNode, 0, aiVector3D()}};
  while (!stack.empty()) {
    const Visit visit = stack.back();
    stack.pop_back();
    const aiNode &n = *visit.node;
    const aiVector3D origin =
        visit.origin + aiVector3D(n.mTransformation.a4, n.mTransformation.b4, n.mTransformation.c4);
    summary.nodes.push_back(std::string(2 * static_cast<size_t>(visit.depth), ' ') +
                            n.mName.C_Str());
    for (unsigned m = 0; m < n.mNumMeshes; ++m) {
      const aiMesh &mesh = *scene->mMeshes[n.mMeshes[m]];
      for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        ++summary.faces;
        summary.face_sizes.push_back(static_cast<int>(mesh.mFaces[f].mNumIndices));
        for (unsigned k = 0; k < mesh.mFaces[f].mNumIndices; ++k) {
          const aiVector3D p = origin + mesh.mVertices[mesh.mFaces[f].mIndices[k]];
          summary.positions.push_back({p.x, p.y, p.z});
          if (mesh.HasNormals()) {
            const aiVector3D &n = mesh.mNormals[mesh.mFaces[f].mIndices[k]];
            summary.normals.push_back({n.x, n.y, n.z});
          }
        }
      }
    }
    for (unsigned c = n.mNumChildren; c-- > 0;) {
      stack.push_back({n.mChildren[c], visit.depth + 1, origin});
    }
  }
  return summary;
}

}  // namespace qel_test
