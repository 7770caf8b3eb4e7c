/*
 * The JSON side of scene files.
 *
 * Hostile input: the parser is nlohmann's iterative SAX parser feeding our
 * own tree builder, which refuses nesting deeper than kMaxDepth.  Paths
 * are only spelt out when an error is reported, so a deep tree costs no
 * more than a flat one.
 */
#include "import/scene_json.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace molv {
namespace scene {
namespace {

bool plain_key(const std::string &key) {
  if (key.empty()) return false;
  for (char c : key) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

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

}  // namespace

std::string key_part(const std::string &key) {
  if (plain_key(key)) return "." + key;
  return "[" + json(key).dump() + "]";
}

std::string index_part(size_t index) { return "[" + std::to_string(index) + "]"; }


json parse_scene_json(const std::string &text) {
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
  return scene;
}

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


}  // namespace scene
}  // namespace molv
