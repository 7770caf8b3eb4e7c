/*
 * The random scene generator.  Scenes are built as JSON values, so every
 * name and data text is escaped as the scene format wants it; awkward
 * bytes above 127 come in as UTF-8 characters.
 */
#include "support/random_scene.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/options.h"

namespace qel_test {

namespace {

using json = nlohmann::json;

// Pieces of names: spaces, leading digits, the characters that end a
// token or open a string or a comment in a .x file, control characters,
// bytes above 127.
const char *const kNamePieces[] = {
    "box",
    "my box",
    "7up",
    "{a}",
    "b;c",
    "d,e",
    "q\"t",
    "#hash",
    "//sl",
    "/x",
    "tab\tx",
    "\xc3\xa9t\xc3\xa9",
    "\xe2\x82\xac",
    "\xe6\x97\xa5",
    " lead",
    "trail ",
    "a}b{",
    "x#y",
    "\x01"
    "ctl",
    "0",
    "9lives",
    "wheel-2.left",
    "",
    "n\nl",
};

const char *const kTextureNames[] = {
    "wood.png",      "maps/brick.jpg", "D:\\maps\\stone.tga",   "a:b.bmp",         "dir/sub/",
    "quo\"te.png",   "spa ce.png",     "\xc3\xa9t\xc3\xa9.png", "two\\\\back.png", "",
    "deep/er/x.tga", "new\nline.png",  "brace}semi;.png",       "trail\\",
};

const char *const kDataTexts[] = {
    "",
    "plain",
    "two\nlines\n",
    "#tag#",
    "ctl\x01\x02x",
    "\xc3\xa9\n\xc3\xbc",
    "\n\nlead",
    "trail # # ",
    "cr\rlf",
    "{braces}; and, \"quotes\"",
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  json scene() {
    json s;
    const int palette = between(1, 6);
    s["palette"] = json::array();
    for (int i = 0; i < palette; ++i) s["palette"].push_back(material());
    palette_ = palette;
    textures_ = between(0, 4);
    s["textures"] = json::array();
    for (int i = 0; i < textures_; ++i) s["textures"].push_back(pick(kTextureNames));

    json world = json::object();
    if (chance(0.3)) world["centre"] = point();
    if (chance(0.1)) world["name"] = name();
    if (chance(0.15)) world["data"] = pick(kDataTexts);
    const double kind = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if (kind < 0.05) {
      // Polygons on the world itself: never written as a mesh.
      const int count = between(3, 6);
      world["vertices"] = points(count);
      world["surfaces"] = json::array({surface(count, true)});
    } else if (kind < 0.10) {
      // Lines only: the world gets no frame.
      polygon_body(world, true);
    }
    world["children"] = children(1);
    s["world"] = world;
    return s;
  }

 private:
  int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p; }
  template <size_t N>
  const char *pick(const char *const (&list)[N]) {
    return list[static_cast<size_t>(between(0, static_cast<int>(N) - 1))];
  }

  // A value rounded to `digits` decimal places, spread over magnitudes
  // from hundredths to a million.
  double value() {
    double range = 10.0;
    int digits = 3;
    const double r = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if (r < 0.10) {
      range = 0.01;
      digits = 5;
    } else if (r < 0.25) {
      range = 1000.0;
      digits = 2;
    } else if (r < 0.30) {
      range = 1e6;
      digits = 1;
    }
    const double scale = std::pow(10.0, digits);
    return std::round(std::uniform_real_distribution<double>(-range, range)(rng_) * scale) / scale;
  }

  double unit(int digits) {
    const double scale = std::pow(10.0, digits);
    return std::round(std::uniform_real_distribution<double>(0.0, 1.0)(rng_) * scale) / scale;
  }

  json point() { return json::array({value(), value(), value()}); }

  json points(int count) {
    json list = json::array();
    for (int i = 0; i < count; ++i) list.push_back(point());
    return list;
  }

  json rgb() { return json::array({unit(3), unit(3), unit(3)}); }

  json material() {
    json m;
    if (chance(0.7)) m["name"] = name();
    m["diffuse"] = rgb();
    if (chance(0.6)) m["specular"] = rgb();
    if (chance(0.4)) m["emissive"] = rgb();
    if (chance(0.7)) m["shininess"] = std::round(unit(3) * 1280.0) / 10.0;
    if (chance(0.5)) m["transparency"] = unit(2);
    return m;
  }

  std::string name() {
    std::string text;
    const int pieces = between(1, 3);
    for (int i = 0; i < pieces; ++i) text += pick(kNamePieces);
    return text;
  }

  // A surface of an object with `count` vertices: mostly polygons of
  // three to six corners (vertices shared between surfaces, as they are
  // drawn from one pool), some of 9 to 16 (the mesh writer lays out a
  // face of more than 8 corners on a path of its own), some lines, a few
  // polygons too small to be written.
  json surface(int count, bool polygon_only) {
    json s;
    const double r = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    int corners = between(3, std::min(count, 6));
    if (count >= 9 && chance(0.3)) corners = between(9, std::min(count, 16));
    if (!polygon_only && r < 0.12) {
      s["type"] = chance(0.5) ? "line" : "closed_line";
      corners = between(1, std::min(count, 4));
    } else if (!polygon_only && r < 0.17) {
      corners = between(1, 2);  // a polygon no reader would take
    }
    std::vector<int> pool(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) pool[static_cast<size_t>(i)] = i;
    std::shuffle(pool.begin(), pool.end(), rng_);
    json verts = json::array();
    const bool with_uv = chance(0.6);
    for (int k = 0; k < corners; ++k) {
      const int index = pool[static_cast<size_t>(k)];
      if (with_uv) {
        verts.push_back(json::array({index, unit(3), unit(3)}));
      } else {
        verts.push_back(index);
      }
    }
    s["verts"] = verts;
    if (chance(0.8)) s["material"] = between(0, palette_ - 1);
    if (chance(0.4)) s["shading"] = "flat";
    if (chance(0.3)) s["twosided"] = true;
    return s;
  }

  void polygon_body(json &object, bool lines_only) {
    const int count = chance(0.2) ? between(9, 16) : between(3, 10);
    object["vertices"] = points(count);
    json surfaces = json::array();
    const int n = between(1, 6);
    for (int i = 0; i < n; ++i) {
      if (lines_only) {
        json s;
        s["type"] = chance(0.5) ? "line" : "closed_line";
        json verts = json::array();
        const int corners = between(1, 4);
        for (int k = 0; k < corners; ++k) verts.push_back(between(0, count - 1));
        s["verts"] = verts;
        surfaces.push_back(s);
      } else {
        surfaces.push_back(surface(count, false));
      }
    }
    object["surfaces"] = surfaces;
    if (!lines_only && textures_ > 0 && chance(0.45)) {
      json texture;
      texture["id"] = between(0, textures_ - 1);
      if (chance(0.4)) texture["repeat"] = json::array({between(1, 4), between(1, 4)});
      if (chance(0.4)) texture["offset"] = json::array({unit(2), unit(2)});
      object["texture"] = texture;
    }
  }

  json object(int depth) {
    json o;
    if (chance(0.9)) o["name"] = name();
    if (chance(0.25)) o["data"] = pick(kDataTexts);
    if (chance(0.25)) o["centre"] = point();
    const double r = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    bool may_have_children = true;
    bool leaf_polygon = false;
    if (r < 0.50) {
      polygon_body(o, false);
      leaf_polygon = true;
    } else if (r < 0.60) {
      polygon_body(o, true);  // lines only: no frame, no mesh
    } else if (r < 0.70) {
      o["type"] = "light";
      may_have_children = chance(0.3);
    } else if (r < 0.73) {
      o["type"] = 7;  // a type the plug-in does not know
    } else {
      o["type"] = "group";
    }
    if (may_have_children && depth < 5 && budget_ > 0 && chance(leaf_polygon ? 0.25 : 0.7)) {
      o["children"] = children(depth + 1);
    }
    if (leaf_polygon && !o.contains("children") && chance(0.12)) {
      // The subdivided form, written instead of the object under opt_subdivision.
      json form;
      form["name"] = name();
      polygon_body(form, false);
      o["subdivided"] = form;
    }
    return o;
  }

  json children(int depth) {
    json list = json::array();
    const int n = between(1, depth == 1 ? 5 : 3);
    for (int i = 0; i < n && budget_ > 0; ++i) {
      --budget_;
      list.push_back(object(depth));
    }
    return list;
  }

  std::mt19937_64 rng_;
  int palette_ = 1;
  int textures_ = 0;
  int budget_ = 30;  // objects per scene at most
};

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

}  // namespace

uint64_t run_seed() {
  if (const char *text = std::getenv("QEL_SEED")) {
    if (*text != '\0') return std::strtoull(text, nullptr, 10);
  }
  std::random_device device;
  const auto now =
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  return mix((static_cast<uint64_t>(device()) << 32) ^ device() ^ now);
}

uint64_t scene_seed(uint64_t run, uint64_t index) { return mix(run ^ mix(index)); }

std::string random_scene(uint64_t seed) { return Generator(seed).scene().dump(); }

std::vector<int> option_switches() {
  std::vector<int> numbers;
#define QEL_TEST_SWITCH(number, name, value, meaning) \
  if (number != qel::opt_decimals) numbers.push_back(number);
  QEL_OPTION_TABLE(QEL_TEST_SWITCH)
#undef QEL_TEST_SWITCH
  return numbers;
}

std::string random_options(uint64_t seed) {
  std::mt19937_64 rng(mix(seed ^ 0x5eedull));
  std::string options(50, '0');
  for (int i : option_switches()) options[static_cast<size_t>(i)] = (rng() & 1) != 0 ? '1' : '0';
  const char decimals[] = {'0', '2', '6'};
  options[49] = decimals[rng() % 3];
  return options;
}

}  // namespace qel_test
