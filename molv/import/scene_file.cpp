/*
 * The scene loader: a JSON scene file (or text) becomes the model.
 *
 * The format is strict so that a typo never turns silently into a default:
 * unknown keys, duplicate keys, values of the wrong kind (null included)
 * and indices out of range are errors.  The first error ends the load with
 * one line "FILE: PATH: what is wrong", PATH naming the value the way a
 * user would find it (world.children[2].surfaces[7].verts[3]).
 *
 * Hostile input: the JSON is parsed without recursion (scene_json.h), and
 * the walk over the object tree and the model's teardown are iterative as
 * well, so no scene can overflow the stack here.
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
#include "files/one_line.h"
#include "import/scene_file.h"
#include "import/scene_json.h"

namespace molv {
namespace {

using namespace scene;

constexpr size_t kMaxSurfaceVertices = 65535;

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
    read_kind(work, value, object, where);
    if (const json *texture = member(value, "texture")) read_texture(*texture, object, where);
    const std::vector<float> positions = read_positions(value, object, where);
    const std::vector<SurfaceSpec> surfaces = read_surfaces(value, positions.size() / 3, where);
    const std::vector<mo_object *> children = queue_children(work, object, stack);
    build_object(object, positions, surfaces, children);
  }

  // The object's type, name and data text.
  void read_kind(const Work &work, const json &value, mo_object *object, const Where &where) {
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
  }

  // The vertex positions (x, y, z each) and the object's centre.
  std::vector<float> read_positions(const json &value, mo_object *object, const Where &where) {
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
    return positions;
  }

  std::vector<SurfaceSpec> read_surfaces(const json &value, size_t vertex_count,
                                         const Where &where) {
    std::vector<SurfaceSpec> surfaces;
    if (const json *list = member(value, "surfaces")) {
      const Where at = where.key("surfaces");
      require_array(*list, at);
      surfaces.resize(list->size());
      for (size_t i = 0; i < list->size(); ++i) {
        read_surface((*list)[i], vertex_count, &surfaces[i], at.at(i));
      }
    }
    return surfaces;
  }

  // The children and the subdivided form: created now, read later (pushed
  // on STACK so that the children come first, in order).  Returns the
  // children.
  std::vector<mo_object *> queue_children(const Work &work, mo_object *object,
                                          std::vector<Work> *stack) {
    const json &value = *work.value;
    const Where where{&paths_, work.path, ""};
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
    return children;
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
      shape->type = surface_type_of(*type, where.key("type"));
    }
    if (const json *material = member(value, "material")) {
      shape->material = static_cast<uint16_t>(index_of(
          *material, model_.palette.size(), "palette index", palette_text, where.key("material")));
    } else if (model_.palette.empty()) {
      where.fail("palette index 0 (the default material) out of range: " + palette_text);
    }
    if (const json *shading = member(value, "shading")) {
      shape->shading = shading_of(*shading, where.key("shading"));
    }
    if (const json *twosided = member(value, "twosided")) {
      shape->twosided = bool_of(*twosided, where.key("twosided")) ? 1 : 0;
    }
    read_corners(member(value, "verts"), vertex_count, shape, where.key("verts"));
  }

  static int32_t surface_type_of(const json &type, const Where &at) {
    if (type.is_string()) {
      const std::string &name = type.get_ref<const std::string &>();
      if (name == "polygon") return MO_SURF_POLYGON;
      if (name == "line") return MO_SURF_LINE;
      if (name == "closed_line") return MO_SURF_CLOSED_LINE;
      at.fail("unknown surface type " + type.dump() +
              " (known: \"polygon\", \"line\", \"closed_line\")");
    }
    if (type.is_number()) return type_code_of(type, "surface type", at);
    at.fail(std::string("must be \"polygon\", \"line\", \"closed_line\" or an integer, not ") +
            kind_of(type));
  }

  static int32_t shading_of(const json &shading, const Where &at) {
    if (!shading.is_string()) {
      at.fail(std::string("must be \"flat\" or \"smooth\", not ") + kind_of(shading));
    }
    const std::string &name = shading.get_ref<const std::string &>();
    if (name == "flat") return 0;
    if (name == "smooth") return 1;
    at.fail("unknown shading " + shading.dump() + " (known: \"flat\", \"smooth\")");
  }

  // The surface's corners ("verts": a vertex index or [index, u, v] each).
  static void read_corners(const json *verts, size_t vertex_count, SurfaceSpec *shape,
                           const Where &at) {
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

}  // namespace

std::unique_ptr<Model> read_scene_text(const std::string &text, const std::string &label,
                                       std::string *error) {
  SceneError failure;
  try {
    const json scene = parse_scene_json(text);
    auto next = std::make_unique<Model>();
    SceneReader(*next).read(scene);
    if (error != nullptr) error->clear();
    return next;
  } catch (const SceneError &e) {
    failure = e;
  } catch (const std::bad_alloc &) {
    failure = {"scene", "too large: out of memory"};
  } catch (const std::exception &e) {
    failure = {"scene", e.what()};
  }
  if (error != nullptr) *error = one_line(label + ": " + failure.where + ": " + failure.what);
  return nullptr;
}

bool load_scene_text(const std::string &text, const std::string &label, std::string *error) {
  std::unique_ptr<Model> next = read_scene_text(text, label, error);
  const bool read = next != nullptr;
  install_model(read ? std::move(next) : make_empty_model());
  return read;
}

std::unique_ptr<Model> read_scene_file(const std::string &path, std::string *error) {
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
    if (error != nullptr) *error = one_line(path + ": " + reason);
    return nullptr;
  }
  return read_scene_text(text, path, error);
}

}  // namespace molv

