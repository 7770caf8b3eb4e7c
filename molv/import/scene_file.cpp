/*
 * The scene loader: a JSON scene file (or text) becomes the model.
 *
 * The format is strict so that a typo never turns silently into a default:
 * unknown keys, duplicate keys, values of the wrong kind (null included)
 * and indices out of range are errors.  The first error ends the load with
 * one line "FILE: PATH: what is wrong", PATH naming the value the way a
 * user would find it (world.children[2].surfaces[7].verts[3]).
 *
 * Hostile input: the parser is nlohmann's iterative SAX parser feeding our
 * own tree builder, which refuses nesting deeper than kMaxDepth; the walk
 * over the object tree and the model's teardown are iterative as well, so
 * no scene can overflow the stack here.  Paths are only spelt out when an
 * error is reported, so a deep tree costs no more than a flat one.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "api/model.h"
#include "import/scene_file.h"

namespace molv {
namespace {

using json = nlohmann::json;

// Brackets deeper than this are refused.  Nothing here recurses, so the
// limit only keeps absurd input out; each level of the object tree takes
// two ({"children": [ ...), so trees of 50000 levels load.
constexpr size_t kMaxDepth = 100000;
constexpr size_t kMaxSurfaceVertices = 65535;

struct SceneError {
  std::string where;  // a path, or "line L, column C"
  std::string what;
};

// ---- paths -----------------------------------------------------------------

bool plain_key(const std::string &key) {
  if (key.empty()) return false;
  for (char c : key) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// ".name", or ["odd key"] with the key quoted as in JSON.
std::string key_part(const std::string &key) {
  if (plain_key(key)) return "." + key;
  return "[" + json(key).dump() + "]";
}

std::string index_part(size_t index) { return "[" + std::to_string(index) + "]"; }

// A path as a chain of parts, spelt out only for an error.
class Paths {
 public:
  int add(int parent, std::string part) {
    parts_.push_back({parent, std::move(part)});
    return static_cast<int>(parts_.size()) - 1;
  }

  std::string text(int id, const std::string &suffix = "") const {
    std::vector<const std::string *> chain;
    for (int at = id; at >= 0; at = parts_[static_cast<size_t>(at)].first) {
      chain.push_back(&parts_[static_cast<size_t>(at)].second);
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += **it;
    path += suffix;
    if (!path.empty() && path[0] == '.') path.erase(0, 1);
    return path.empty() ? "scene" : path;
  }

 private:
  std::vector<std::pair<int, std::string>> parts_;
};

// Where a value sits: an object's path (by id) and a short suffix inside it.
struct Where {
  const Paths *paths;
  int id;
  std::string suffix;

  Where key(const std::string &k) const { return {paths, id, suffix + key_part(k)}; }
  Where at(size_t i) const { return {paths, id, suffix + index_part(i)}; }
  [[noreturn]] void fail(const std::string &what) const {
    throw SceneError{paths->text(id, suffix), what};
  }
};

// ---- the tree builder --------------------------------------------------------

// Builds the JSON tree like nlohmann's own DOM parser, but refuses
// duplicate keys and nesting beyond kMaxDepth.
class TreeBuilder {
 public:
  enum class Stop { kNone, kSyntax, kDuplicate, kTooDeep };

  explicit TreeBuilder(json &root) : root_(root) {}

  bool null() { return put(json(nullptr)) != nullptr; }
  bool boolean(bool value) { return put(json(value)) != nullptr; }
  bool number_integer(json::number_integer_t value) { return put(json(value)) != nullptr; }
  bool number_unsigned(json::number_unsigned_t value) { return put(json(value)) != nullptr; }
  bool number_float(json::number_float_t value, const json::string_t &) {
    return put(json(value)) != nullptr;
  }
  bool string(json::string_t &value) { return put(json(std::move(value))) != nullptr; }
  bool binary(json::binary_t &) { return false; }  // JSON text has none

  bool start_object(std::size_t) { return open(json::value_t::object); }
  bool start_array(std::size_t) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(json::string_t &name) {
    json *object = stack_.back();
    if (object->contains(name)) {
      stop_ = Stop::kDuplicate;
      where_ = open_path() + key_part(name);
      return false;
    }
    keys_.back() = std::move(name);
    return true;
  }

  bool parse_error(std::size_t position, const std::string &, const json::exception &error) {
    stop_ = Stop::kSyntax;
    message_ = error.what();
    position_ = position;
    return false;
  }

  Stop stop() const { return stop_; }
  const std::string &where() const { return where_; }
  const std::string &message() const { return message_; }
  size_t position() const { return position_; }

 private:
  json *put(json &&value) {
    if (stack_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json *top = stack_.back();
    if (top->is_array()) {
      top->push_back(std::move(value));
      return &top->back();
    }
    json &slot = (*top)[keys_.back()];
    slot = std::move(value);
    return &slot;
  }

  bool open(json::value_t kind) {
    if (stack_.size() >= kMaxDepth) {
      stop_ = Stop::kTooDeep;
      return false;
    }
    stack_.push_back(put(json(kind)));
    keys_.emplace_back();
    return true;
  }

  bool close() {
    stack_.pop_back();
    keys_.pop_back();
    return true;
  }

  // The path of the innermost open container.
  std::string open_path() const {
    std::string path;
    for (size_t level = 0; level + 1 < stack_.size(); ++level) {
      const json *container = stack_[level];
      if (container->is_array()) {
        path += index_part(container->size() - 1);
      } else {
        path += key_part(keys_[level]);
      }
    }
    if (!path.empty() && path[0] == '.') path.erase(0, 1);
    return path;
  }

  json &root_;
  std::vector<json *> stack_;
  std::vector<std::string> keys_;  // the current key of each open object
  Stop stop_ = Stop::kNone;
  std::string where_;
  std::string message_;
  size_t position_ = 0;
};

// Line and column (from 1, in bytes) of the bracket that opens level
// kMaxDepth + 1.  Only asked after the builder refused that level, so the
// text up to it is valid JSON and brackets inside strings are skipped
// exactly as the parser did.
std::string too_deep_position(const std::string &text) {
  size_t depth = 0;
  size_t line = 1;
  size_t line_start = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      line_start = i + 1;
    }
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) {
        return "line " + std::to_string(line) + ", column " + std::to_string(i - line_start + 1);
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return "scene";
}

// "line L, column C" of the byte that `count` bytes into the text ends
// at, counted as the parser counts (both from 1).
std::string text_position(const std::string &text, size_t count) {
  count = count < text.size() ? count : text.size();
  size_t line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(count - line_start);
}

// "[json.exception.parse_error.101] parse error at line 1, column 5: ..."
// becomes "line 1, column 5" and the rest; messages without a place (a
// number too large for a double) get one from the parser's byte count.
SceneError syntax_error(const std::string &message, const std::string &text, size_t position) {
  std::string what = message;
  const size_t bracket = what.find("] ");
  if (what.rfind("[json.exception.", 0) == 0 && bracket != std::string::npos) {
    what.erase(0, bracket + 2);
  }
  const std::string at = "parse error at ";
  if (what.rfind(at, 0) == 0) {
    what.erase(0, at.size());
    const size_t colon = what.find(": ");
    if (colon != std::string::npos) return {what.substr(0, colon), what.substr(colon + 2)};
  }
  if (what.rfind("parse error: ", 0) == 0) what.erase(0, 13);
  return {text_position(text, position), what};
}

// ---- values ------------------------------------------------------------------

const char *kind_of(const json &value) {
  switch (value.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "a number";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "an unexpected value";
  }
}

const json *member(const json &object, const char *key) {
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

void check_keys(const json &object, std::initializer_list<const char *> allowed,
                const Where &where) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const char *key : allowed) known = known || it.key() == key;
    if (!known) where.key(it.key()).fail("unknown key");
  }
}

void require_object(const json &value, const Where &where) {
  if (!value.is_object()) where.fail(std::string("must be an object, not ") + kind_of(value));
}

void require_array(const json &value, const Where &where) {
  if (!value.is_array()) where.fail(std::string("must be an array, not ") + kind_of(value));
}

// A text ends at its first NUL, as a C string would.
std::string text_of(const json &value, const Where &where) {
  if (!value.is_string()) where.fail(std::string("must be a string, not ") + kind_of(value));
  const std::string &text = value.get_ref<const std::string &>();
  return text.substr(0, text.find('\0'));
}

bool bool_of(const json &value, const Where &where) {
  if (!value.is_boolean()) where.fail(std::string("must be true or false, not ") + kind_of(value));
  return value.get<bool>();
}

double double_of(const json &value, const Where &where) {
  if (!value.is_number()) where.fail(std::string("must be a number, not ") + kind_of(value));
  if (value.is_number_unsigned()) return static_cast<double>(value.get<uint64_t>());
  if (value.is_number_integer()) return static_cast<double>(value.get<int64_t>());
  return value.get<double>();
}

// Round to nearest float.  An integer is narrowed directly (not through a
// double); a double beyond the float range rounds to the largest float or
// to infinity as IEEE rounding does, without relying on an out-of-range
// conversion.
float float_of(const json &value, const Where &where) {
  if (!value.is_number()) where.fail(std::string("must be a number, not ") + kind_of(value));
  if (value.is_number_unsigned()) return static_cast<float>(value.get<uint64_t>());
  if (value.is_number_integer()) return static_cast<float>(value.get<int64_t>());
  const double d = value.get<double>();
  const double magnitude = std::fabs(d);
  if (magnitude > static_cast<double>(FLT_MAX)) {
    // Halfway between FLT_MAX and 2^128 (ties go to the even 2^128).
    const double halfway = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);
    const float big = magnitude >= halfway ? std::numeric_limits<float>::infinity() : FLT_MAX;
    return d < 0 ? -big : big;
  }
  return static_cast<float>(d);
}

// `count` floats from an array of exactly that many numbers.
void floats_of(const json &value, size_t count, float *out, const Where &where) {
  const std::string expected = "must be an array of " + std::to_string(count) + " numbers";
  if (!value.is_array()) where.fail(expected + ", not " + kind_of(value));
  if (value.size() != count) {
    where.fail(expected + ", not of " + std::to_string(value.size()));
  }
  for (size_t i = 0; i < count; ++i) out[i] = float_of(value[i], where.at(i));
}

std::string counted(size_t n, const char *one, const char *many) {
  if (n == 0) return std::string("no ") + many;
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// An index into a table of `size` entries.  Indices must be JSON integers;
// a number with a fraction or exponent is refused even when its value is
// whole, unless it is too large for any table anyway.
size_t index_of(const json &value, size_t size, const char *what, const std::string &table,
                const Where &where) {
  if (!value.is_number()) where.fail(std::string("must be an integer, not ") + kind_of(value));
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (!(std::floor(d) == d && std::fabs(d) >= 9.2e18)) {
      where.fail("must be an integer, not " + value.dump());
    }
    where.fail(std::string(what) + " " + value.dump() + " out of range: " + table);
  }
  if (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0) {
    where.fail(std::string(what) + " " + value.dump() + " out of range: " + table);
  }
  const uint64_t index = value.get<uint64_t>();
  if (index >= size) {
    where.fail(std::string(what) + " " + value.dump() + " out of range: " + table);
  }
  return static_cast<size_t>(index);
}

// A type code given as a number: any int.
int type_code_of(const json &value, const char *what, const Where &where) {
  if (value.is_number_float()) where.fail("must be an integer, not " + value.dump());
  const bool fits = value.is_number_unsigned()
                        ? value.get<uint64_t>() <= static_cast<uint64_t>(INT32_MAX)
                        : value.get<int64_t>() >= INT32_MIN && value.get<int64_t>() <= INT32_MAX;
  if (!fits) where.fail(std::string(what) + " " + value.dump() + " out of range");
  return static_cast<int>(value.get<int64_t>());
}

// ---- the scene -------------------------------------------------------------------

class SceneReader {
 public:
  explicit SceneReader(Model &model) : model_(model) {}

  void read(const json &scene) {
    const Where top{&paths_, -1, ""};
    require_object(scene, top);
    check_keys(scene, {"host", "palette", "textures", "world"}, top);
    if (const json *host = member(scene, "host")) read_host(*host, top.key("host"));
    if (const json *palette = member(scene, "palette")) {
      read_palette(*palette, top.key("palette"));
    } else {
      model_.palette.push_back(make_default_material());
    }
    if (const json *textures = member(scene, "textures")) {
      read_textures(*textures, top.key("textures"));
    }
    const json *world = member(scene, "world");
    if (world == nullptr) top.key("world").fail("missing");
    read_objects(*world);
  }

 private:
  struct Work {
    const json *value;
    mo_object *object;
    int path;
    bool is_world;
    bool in_subdivision;
  };

  void read_host(const json &host, const Where &where) {
    require_object(host, where);
    check_keys(host, {"version", "version_string", "info"}, where);
    if (const json *v = member(host, "version"))
      model_.version = double_of(*v, where.key("version"));
    if (const json *v = member(host, "version_string")) {
      model_.version_string = text_of(*v, where.key("version_string"));
    }
    if (const json *v = member(host, "info")) {
      model_.info = text_of(*v, where.key("info"));
      model_.has_info = true;
    }
  }

  void read_palette(const json &palette, const Where &where) {
    require_array(palette, where);
    for (size_t i = 0; i < palette.size(); ++i) {
      const json &entry = palette[i];
      const Where at = where.at(i);
      require_object(entry, at);
      check_keys(
          entry,
          {"name", "diffuse", "ambient", "specular", "emissive", "shininess", "transparency"}, at);
      auto material = make_default_material();
      if (const json *v = member(entry, "name")) material->name = text_of(*v, at.key("name"));
      if (const json *v = member(entry, "diffuse")) {
        floats_of(*v, 3, material->diffuse, at.key("diffuse"));
      }
      if (const json *v = member(entry, "ambient")) {
        floats_of(*v, 3, material->ambient, at.key("ambient"));
      }
      if (const json *v = member(entry, "specular")) {
        floats_of(*v, 3, material->specular, at.key("specular"));
      }
      if (const json *v = member(entry, "emissive")) {
        floats_of(*v, 3, material->emissive, at.key("emissive"));
      }
      if (const json *v = member(entry, "shininess")) {
        material->shininess = float_of(*v, at.key("shininess"));
      }
      if (const json *v = member(entry, "transparency")) {
        material->transparency = float_of(*v, at.key("transparency"));
      }
      model_.palette.push_back(std::move(material));
    }
  }

  void read_textures(const json &textures, const Where &where) {
    require_array(textures, where);
    for (size_t i = 0; i < textures.size(); ++i) {
      model_.textures.push_back(text_of(textures[i], where.at(i)));
    }
  }

  mo_object *new_object() {
    model_.objects.push_back(std::make_unique<mo_object>());
    return model_.objects.back().get();
  }

  // Depth first, an object before its children and its children before its
  // subdivided form, with a stack of our own instead of recursion.  Each
  // object's children are created when the object is read, so its child
  // list can be built at once; they are filled in when their turn comes.
  void read_objects(const json &world) {
    std::vector<Work> stack;
    stack.push_back({&world, new_object(), paths_.add(-1, "world"), true, false});
    while (!stack.empty()) {
      const Work work = stack.back();
      stack.pop_back();
      read_object(work, &stack);
    }
  }

  void read_object(const Work &work, std::vector<Work> *stack) {
    const json &value = *work.value;
    mo_object *object = work.object;
    const Where where{&paths_, work.path, ""};
    require_object(value, where);
    check_keys(value,
               {"type", "name", "centre", "data", "texture", "vertices", "surfaces", "children",
                "subdivided"},
               where);
    object->in_subdivision = work.in_subdivision;

    // type, name, data
    const json *type = member(value, "type");
    if (work.is_world) {
      if (type != nullptr) where.key("type").fail("the world has no type key (it is always 999)");
      object->type = MO_OBJ_WORLD;
      object->name = "world";
    } else if (type != nullptr) {
      object->type = object_type_of(*type, where.key("type"));
    } else {
      object->type = member(value, "vertices") != nullptr ? MO_OBJ_POLYGON : MO_OBJ_GROUP;
    }
    if (const json *v = member(value, "name")) object->name = text_of(*v, where.key("name"));
    if (const json *v = member(value, "data")) {
      object->data = text_of(*v, where.key("data"));
      object->has_data = true;
    }

    // texture
    if (const json *texture = member(value, "texture")) read_texture(*texture, object, where);

    // vertices and centre
    std::vector<float> positions;
    if (const json *vertices = member(value, "vertices")) {
      const Where at = where.key("vertices");
      require_array(*vertices, at);
      positions.resize(3 * vertices->size());
      for (size_t i = 0; i < vertices->size(); ++i) {
        floats_of((*vertices)[i], 3, &positions[3 * i], at.at(i));
      }
    }
    if (const json *centre = member(value, "centre")) {
      floats_of(*centre, 3, object->centre, where.key("centre"));
    } else {
      bounding_box_centre(positions, object->centre);
    }

    // surfaces
    std::vector<SurfaceSpec> surfaces;
    if (const json *list = member(value, "surfaces")) {
      const Where at = where.key("surfaces");
      require_array(*list, at);
      surfaces.resize(list->size());
      for (size_t i = 0; i < list->size(); ++i) {
        read_surface((*list)[i], positions.size() / 3, &surfaces[i], at.at(i));
      }
    }

    // children and the subdivided form: created now, read later
    std::vector<Work> later;
    std::vector<mo_object *> children;
    if (const json *list = member(value, "children")) {
      const Where at = where.key("children");
      require_array(*list, at);
      for (size_t i = 0; i < list->size(); ++i) {
        mo_object *child = new_object();
        children.push_back(child);
        later.push_back({&(*list)[i], child, paths_.add(work.path, ".children" + index_part(i)),
                         false, work.in_subdivision});
      }
    }
    if (const json *form = member(value, "subdivided")) {
      object->subdivision = new_object();
      stack->push_back(
          {form, object->subdivision, paths_.add(work.path, ".subdivided"), false, true});
    }
    for (auto it = later.rbegin(); it != later.rend(); ++it) stack->push_back(*it);

    build_object(object, positions, surfaces, children);
  }

  int object_type_of(const json &type, const Where &where) {
    if (type.is_string()) {
      const std::string &name = type.get_ref<const std::string &>();
      if (name == "polygon") return MO_OBJ_POLYGON;
      if (name == "group") return MO_OBJ_GROUP;
      if (name == "light") return MO_OBJ_LIGHT;
      if (name == "world") return MO_OBJ_WORLD;
      where.fail("unknown object type " + type.dump() +
                 " (known: \"polygon\", \"group\", \"light\", \"world\")");
    }
    if (!type.is_number()) {
      where.fail(std::string("must be \"polygon\", \"group\", \"light\", \"world\" or an "
                             "integer, not ") +
                 kind_of(type));
    }
    return type_code_of(type, "object type", where);
  }

  void read_texture(const json &texture, mo_object *object, const Where &owner) {
    const Where where = owner.key("texture");
    require_object(texture, where);
    check_keys(texture, {"id", "repeat", "offset"}, where);
    const json *id = member(texture, "id");
    if (id == nullptr) where.key("id").fail("missing");
    object->texture_id = static_cast<int>(
        index_of(*id, model_.textures.size(), "texture id",
                 "the scene has " + counted(model_.textures.size(), "texture", "textures"),
                 where.key("id")));
    object->has_texture = true;
    if (const json *v = member(texture, "repeat")) {
      floats_of(*v, 2, object->texture_repeat, where.key("repeat"));
    }
    if (const json *v = member(texture, "offset")) {
      floats_of(*v, 2, object->texture_offset, where.key("offset"));
    }
  }

  void read_surface(const json &value, size_t vertex_count, SurfaceSpec *shape, const Where &where) {
    require_object(value, where);
    check_keys(value, {"type", "material", "shading", "twosided", "verts"}, where);
    const std::string palette_text =
        "the palette has " + counted(model_.palette.size(), "material", "materials");

    if (const json *type = member(value, "type")) {
      const Where at = where.key("type");
      if (type->is_string()) {
        const std::string &name = type->get_ref<const std::string &>();
        if (name == "polygon") {
          shape->type = MO_SURF_POLYGON;
        } else if (name == "line") {
          shape->type = MO_SURF_LINE;
        } else if (name == "closed_line") {
          shape->type = MO_SURF_CLOSED_LINE;
        } else {
          at.fail("unknown surface type " + type->dump() +
                  " (known: \"polygon\", \"line\", \"closed_line\")");
        }
      } else if (type->is_number()) {
        shape->type = type_code_of(*type, "surface type", at);
      } else {
        at.fail(std::string("must be \"polygon\", \"line\", \"closed_line\" or an integer, not ") +
                kind_of(*type));
      }
    }

    if (const json *material = member(value, "material")) {
      shape->material = static_cast<uint16_t>(index_of(
          *material, model_.palette.size(), "palette index", palette_text, where.key("material")));
    } else if (model_.palette.empty()) {
      where.fail("palette index 0 (the default material) out of range: " + palette_text);
    }

    if (const json *shading = member(value, "shading")) {
      const Where at = where.key("shading");
      if (!shading->is_string()) {
        at.fail(std::string("must be \"flat\" or \"smooth\", not ") + kind_of(*shading));
      }
      const std::string &name = shading->get_ref<const std::string &>();
      if (name == "flat") {
        shape->shading = 0;
      } else if (name == "smooth") {
        shape->shading = 1;
      } else {
        at.fail("unknown shading " + shading->dump() + " (known: \"flat\", \"smooth\")");
      }
    }

    if (const json *twosided = member(value, "twosided")) {
      shape->twosided = bool_of(*twosided, where.key("twosided")) ? 1 : 0;
    }

    const json *verts = member(value, "verts");
    const Where at = where.key("verts");
    if (verts == nullptr) at.fail("missing");
    require_array(*verts, at);
    if (verts->size() > kMaxSurfaceVertices) {
      at.fail(std::to_string(verts->size()) + " vertices, but a surface holds at most " +
              std::to_string(kMaxSurfaceVertices));
    }
    const std::string vertex_text = "the object has " + counted(vertex_count, "vertex", "vertices");
    shape->vertex_index.reserve(verts->size());
    shape->u.reserve(verts->size());
    shape->v.reserve(verts->size());
    for (size_t k = 0; k < verts->size(); ++k) {
      const json &entry = (*verts)[k];
      const Where corner = at.at(k);
      float u = 0.0f;
      float v = 0.0f;
      const json *index = &entry;
      if (entry.is_array()) {
        if (entry.size() != 3) {
          corner.fail("must be [index, u, v], not an array of " + std::to_string(entry.size()));
        }
        index = &entry[0];
        u = float_of(entry[1], corner.at(1));
        v = float_of(entry[2], corner.at(2));
      } else if (!entry.is_number()) {
        corner.fail(std::string("must be a vertex index or [index, u, v], not ") + kind_of(entry));
      }
      const Where index_where = entry.is_array() ? corner.at(0) : corner;
      shape->vertex_index.push_back(static_cast<int32_t>(
          index_of(*index, vertex_count, "vertex index", vertex_text, index_where)));
      shape->u.push_back(u);
      shape->v.push_back(v);
    }
  }

  Model &model_;
  Paths paths_;
};

// Error lines are one line, whatever a file name or key holds.
std::string one_line(std::string text) {
  for (char &c : text) {
    if ((static_cast<unsigned char>(c) < 0x20) || c == 0x7f) c = '?';
  }
  return text;
}

}  // namespace

bool load_scene_text(const std::string &text, const std::string &label, std::string *error) {
  SceneError failure;
  try {
    json scene;
    TreeBuilder builder(scene);
    const bool parsed = json::sax_parse(text, &builder);
    if (!parsed) {
      switch (builder.stop()) {
        case TreeBuilder::Stop::kDuplicate:
          throw SceneError{builder.where(), "duplicate key"};
        case TreeBuilder::Stop::kTooDeep:
          throw SceneError{too_deep_position(text),
                           "nested deeper than " + std::to_string(kMaxDepth) + " levels"};
        case TreeBuilder::Stop::kSyntax:
          throw syntax_error(builder.message(), text, builder.position());
        case TreeBuilder::Stop::kNone:
          throw SceneError{"scene", "not valid JSON"};
      }
    }
    auto next = std::make_unique<Model>();
    SceneReader(*next).read(scene);
    install_model(std::move(next));
    if (error != nullptr) error->clear();
    return true;
  } catch (const SceneError &e) {
    failure = e;
  } catch (const std::bad_alloc &) {
    failure = {"scene", "too large: out of memory"};
  } catch (const std::exception &e) {
    failure = {"scene", e.what()};
  }
  clear_model();
  if (error != nullptr) *error = one_line(label + ": " + failure.where + ": " + failure.what);
  return false;
}

bool load_scene_file(const std::string &path, std::string *error) {
  // Only a regular file is read: a pipe would hold the start up, a device
  // such as /dev/zero would never end.
  std::string text;
  std::string reason;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    reason = std::string("cannot read the scene: ") + std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    reason = std::string("cannot read the scene: ") + std::strerror(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
  } else {
    try {
      text.reserve(static_cast<size_t>(info.st_size));
      char buffer[65536];
      for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) reason = std::string("cannot read the scene: ") + std::strerror(errno);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
      }
    } catch (const std::bad_alloc &) {
      reason = "too large: out of memory";
    } catch (const std::length_error &) {
      reason = "too large: out of memory";
    }
  }
  if (fd >= 0) ::close(fd);
  if (!reason.empty()) {
    std::string().swap(text);
    clear_model();
    if (error != nullptr) *error = one_line(path + ": " + reason);
    return false;
  }
  return load_scene_text(text, path, error);
}

}  // namespace molv
