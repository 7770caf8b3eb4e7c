/*
 * The JSON side of scene files: the text parsed into a tree that refuses
 * duplicate keys and absurd nesting, paths that name a value the way a
 * user would find it (world.children[2].surfaces[7].verts[3]), and the
 * readers of single values that fail with such a path.
 */
#ifndef MOLV_IMPORT_SCENE_JSON_H
#define MOLV_IMPORT_SCENE_JSON_H

#include <cstddef>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace molv {
namespace scene {

using json = nlohmann::json;

// Brackets deeper than this are refused.  Nothing here recurses, so the
// limit only keeps absurd input out; each level of the object tree takes
// two ({"children": [ ...), so trees of 50000 levels load.
constexpr size_t kMaxDepth = 100000;

// Why a scene is refused: where ("a path" or "line L, column C") and what.
struct SceneError {
  std::string where;  // a path, or "line L, column C"
  std::string what;
};

// Parses TEXT; throws a SceneError on text that is no JSON, on a duplicate
// key and on nesting deeper than kMaxDepth.
json parse_scene_json(const std::string &text);

// ".name", or ["odd key"] with the key quoted as in JSON.
std::string key_part(const std::string &key);
std::string index_part(size_t index);

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


// ---- values ------------------------------------------------------------------

// What kind of value VALUE is, for an error ("a string", "null", ...).
const char *kind_of(const json &value);
// The member KEY of OBJECT, or null.
const json *member(const json &object, const char *key);
void check_keys(const json &object, std::initializer_list<const char *> allowed,
                const Where &where);
void require_object(const json &value, const Where &where);
void require_array(const json &value, const Where &where);
std::string text_of(const json &value, const Where &where);
bool bool_of(const json &value, const Where &where);
double double_of(const json &value, const Where &where);
float float_of(const json &value, const Where &where);
void floats_of(const json &value, size_t count, float *out, const Where &where);
std::string counted(size_t n, const char *one, const char *many);
size_t index_of(const json &value, size_t size, const char *what, const std::string &table,
                const Where &where);
int type_code_of(const json &value, const char *what, const Where &where);

}  // namespace scene
}  // namespace molv

#endif  // MOLV_IMPORT_SCENE_JSON_H
