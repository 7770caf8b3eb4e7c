/*
 * Hostile models: deep trees, huge polygons, a million surfaces, values
 * that are not finite, degenerate polygons, names of a megabyte or of
 * nothing, data texts of control bytes, a polygon that lists one corner
 * twice, texture names with quotes.  Each gives a correct file (read back
 * by the second reader, or checked by hand where that reader cannot go) or
 * one clear line and a non-zero exit status; never a crash, a hang, or a
 * file that is cut or broken.
 *
 * The scenes go through the real molv where the scene file is part of the
 * case, and are built in the test process where JSON cannot hold them (NaN)
 * or where the scene file alone would take longer than the export.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "binding/options.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/molv_run_test.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/x_check.h"

namespace fs = std::filesystem;

namespace {

const std::string kDefaults = qel::kDefaultOptions;

std::string with(std::string options, std::initializer_list<int> set) {
  for (int index : set) options[static_cast<std::size_t>(index)] = '1';
  return options;
}

int count_of(const std::string &text, const std::string &part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// What no reader gets past, checked without a reader: the magic line, braces
// that pair up outside comments and strings (and their deepest nesting),
// strings that close, and no number that is "nan" or "inf".
struct Structure {
  bool sound = false;
  std::string fault;
  int deepest = 0;
};

bool ends_word(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '{' || c == '}' || c == ',' ||
         c == ';' || c == '"';
}

bool non_finite(const char *word, std::size_t size) {
  const std::string w(word, size < 8 ? size : 8);
  return w.find("nan") != std::string::npos || w.find("inf") != std::string::npos;
}

Structure structure_of(const std::string &text) {
  Structure s;
  if (text.compare(0, 17, "xof 0302txt 0064\n") != 0) {
    s.fault = "no magic line";
    return s;
  }
  int depth = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 17; i < n;) {
    const char c = text[i];
    if (c == '#' || (c == '/' && i + 1 < n && text[i + 1] == '/')) {
      while (i < n && text[i] != '\n') ++i;
    } else if (c == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string::npos) {
        s.fault = "a string does not close";
        return s;
      }
      i = close + 1;
    } else if (c == '{') {
      if (++depth > s.deepest) s.deepest = depth;
      ++i;
    } else if (c == '}') {
      if (--depth < 0) {
        s.fault = "a '}' too many";
        return s;
      }
      ++i;
    } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == ',' || c == ';') {
      ++i;
    } else {
      const std::size_t start = i;
      while (i < n && !ends_word(text[i])) ++i;
      const bool number_place = i < n && (text[i] == ',' || text[i] == ';');
      if (number_place && non_finite(text.data() + start, i - start)) {
        s.fault = "a number that is not finite: " + text.substr(start, i - start);
        return s;
      }
    }
  }
  if (depth != 0) {
    s.fault = "a '{' without its '}'";
    return s;
  }
  s.sound = true;
  return s;
}

std::string one_triangle(const std::string &name) {
  return "{\"name\":\"" + name +
         "\",\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],\"surfaces\":[{\"verts\":[0,1,2]}]}";
}

// A chain of `depth` groups with a triangle at the bottom.
std::string chain_scene(int depth) {
  std::string head, tail;
  for (int i = 0; i < depth; ++i) {
    head += "{\"name\":\"g\",\"children\":[";
    tail += "]}";
  }
  return "{\"world\":{\"children\":[" + head + one_triangle("leaf") + tail + "]}}";
}

// A polygon of `corners` corners (at least 4) that is convex in float
// arithmetic, so that the host cuts it as the fan its rule gives: the edges
// are the shortest primitive lattice vectors in the order of their angles
// (every turn a left turn, and they sum to nothing), all doubled, and for an
// odd count the first one split at its middle.  A circle of that many
// corners is not convex once its coordinates are floats.
std::string convex_polygon_scene(int corners) {
  const bool split = corners % 2 == 1;
  const std::size_t edges_wanted = static_cast<std::size_t>(split ? corners - 1 : corners);
  std::vector<std::pair<long, long>> edges;
  for (long ring = 1; edges.size() < edges_wanted; ++ring) {
    std::vector<std::pair<long, long>> this_ring;
    for (long a = -ring; a <= ring; ++a) {
      const long rest = ring - std::labs(a);
      for (long b : {rest, -rest}) {
        if (std::gcd(std::labs(a), std::labs(b)) == 1) this_ring.emplace_back(a, b);
        if (rest == 0) break;
      }
    }
    // Whole pairs v, -v only, so that the edges still sum to nothing.
    for (const auto &v : this_ring) {
      if (edges.size() == edges_wanted) break;
      if (v.second > 0 || (v.second == 0 && v.first > 0)) {
        edges.push_back(v);
        edges.emplace_back(-v.first, -v.second);
      }
    }
  }
  const auto upper = [](const std::pair<long, long> &v) {
    return v.second > 0 || (v.second == 0 && v.first > 0);
  };
  std::sort(edges.begin(), edges.end(), [&](const auto &u, const auto &v) {
    if (upper(u) != upper(v)) return upper(u);
    return u.first * v.second - u.second * v.first > 0;
  });
  std::vector<std::array<double, 3>> vertices = {{0, 0, 0}};
  long x = 0, y = 0;
  if (split) {
    vertices.push_back(
        {static_cast<double>(edges[0].first), static_cast<double>(edges[0].second), 0});
  }
  for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
    x += 2 * edges[i].first;
    y += 2 * edges[i].second;
    vertices.push_back({static_cast<double>(x), static_cast<double>(y), 0});
  }
  std::vector<int> verts;
  for (int i = 0; i < corners; ++i) verts.push_back(i);
  return qel_test::polygon_scene("disc", vertices, {verts});
}

class Hostile : public qel_test::MolvRunTest {
 protected:
  qel_test::RunResult run(std::vector<std::string> args) {
    qel_test::RunOptions options;
    options.timeout_seconds = 60;
    return MolvRunTest::run(std::move(args), options);
  }
  // Exports `scene` through molv under `options`; the file must be complete
  // and read back as the scene holds it.
  std::string export_and_check(const std::string &scene, const std::string &options,
                               bool reader = true) {
    const std::string file = write("s.json", scene);
    auto r = run({file, "--options", options, "--verbose"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(qel_test::final_status(r.err), "Ready !");
    const std::string text = read("s.x");
    const Structure s = structure_of(text);
    EXPECT_TRUE(s.sound) << s.fault;
    if (reader) {
      qel_test::load_scene(scene);
      const qel_test::XCheck check = qel_test::x_check(text, options);
      EXPECT_TRUE(check.ok()) << check.report();
    }
    return text;
  }
  // A scene molv must refuse with one line naming the place.
  void expect_refused(const std::string &scene, const std::string &place) {
    const std::string file = write("bad.json", scene);
    auto r = run({file, "--options", kDefaults});
    EXPECT_EQ(r.exit_status, 2) << r.err;
    const auto lines = qel_test::text_lines(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("molv: " + file + ": " + place, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(path("bad.x")));
  }
};

// ---- deep trees -----------------------------------------------------------

TEST_F(Hostile, ThousandNestedGroupsAreExported) {
  const std::string text = export_and_check(chain_scene(1000), with(kDefaults, {15}));
  // The world, the thousand groups and the leaf, each a Frame; the leaf's
  // Mesh one level deeper still.
  EXPECT_EQ(count_of(text, "\nFrame "), 1002);
  // Inside the leaf's Frame: its Mesh, the material list, the reference.
  EXPECT_EQ(structure_of(text).deepest, 1002 + 3);
  EXPECT_NE(text.find("Frame leaf__FRM_1001_0_0_1001 {"), std::string::npos);
}

TEST_F(Hostile, TenThousandNestedGroupsAreExportedWithTheirTrace) {
  // Deeper than the trace indentation reaches (85 levels): the trace keeps
  // its widest indentation.
  const std::string file = write("deep.json", chain_scene(10000));
  auto r = run({file, "--options", with(kDefaults, {15}), "--debug-log", work_ + "/trace"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string text = read("deep.x");
  const Structure s = structure_of(text);
  EXPECT_TRUE(s.sound) << s.fault;
  EXPECT_EQ(count_of(text, "\nFrame "), 10002);
  EXPECT_EQ(s.deepest, 10002 + 3);
  EXPECT_NE(text.find("Frame leaf__FRM_10001_0_0_10001 {"), std::string::npos);
  const std::string trace = read("trace");
  EXPECT_NE(trace.find("\n" + std::string(255, ' ') + "**  Normal - 'leaf'"), std::string::npos);
  // Three spaces a level up to level 85, then no more: the groups from
  // level 85 to 10000 share the widest indentation.
  EXPECT_EQ(count_of(trace, "\n" + std::string(255, ' ') + "****  >> Group << -  'g'"), 10000 - 84);
  EXPECT_EQ(count_of(trace, "\n" + std::string(252, ' ') + "****  >> Group << -  'g'"), 1);
}

// ---- big polygons and many surfaces ---------------------------------------

TEST_F(Hostile, PolygonOfTheMostCornersASurfaceCanHold) {
  const std::string scene = convex_polygon_scene(65535);
  const std::string text = export_and_check(scene, kDefaults);
  EXPECT_NE(text.find("\n1;\n65535;0,1,2,3,"), std::string::npos);
  // Triangulated: a fan of 65533 triangles.
  const std::string fan = export_and_check(scene, with(kDefaults, {9}));
  EXPECT_NE(fan.find("\n65533;\n3;"), std::string::npos);
}

TEST_F(Hostile, PolygonOfOneCornerMoreIsRefused) {
  expect_refused(convex_polygon_scene(65536), "world.children[0].surfaces[0].verts");
}

TEST(HostileInProcess, ObjectWithAMillionSurfaces) {
  // Built in the host: a strip of a million triangles over 500,002 corners.
  qel_test::start_host();
  const int triangles = 1000000;
  auto m = molv::make_empty_model();
  m->objects.push_back(std::make_unique<mo_object>());
  mo_object *strip = m->objects.back().get();
  strip->type = MO_OBJ_POLYGON;
  strip->name = "strip";
  std::vector<float> positions;
  const int columns = triangles / 2 + 1;
  for (int i = 0; i < columns; ++i)
    for (int row = 0; row < 2; ++row) {
      positions.push_back(static_cast<float>(i));
      positions.push_back(static_cast<float>(row));
      positions.push_back(0.0f);
    }
  std::vector<molv::SurfaceSpec> surfaces(static_cast<std::size_t>(triangles));
  for (int t = 0; t < triangles; ++t) {
    const int i = t / 2;
    molv::SurfaceSpec &s = surfaces[static_cast<std::size_t>(t)];
    s.vertex_index = t % 2 == 0 ? std::vector<int32_t>{2 * i, 2 * i + 2, 2 * i + 1}
                                : std::vector<int32_t>{2 * i + 1, 2 * i + 2, 2 * i + 3};
    s.u.assign(3, 0.0f);
    s.v.assign(3, 0.0f);
  }
  molv::build_object(strip, positions, surfaces, {});
  molv::bounding_box_centre(positions, strip->centre);
  molv::build_object(m->world(), {}, {}, {strip});
  molv::install_model(std::move(m));

  const long before = molv::live_allocations();
  const std::string text = qel_test::export_text(with(kDefaults, {1}));
  EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
  EXPECT_EQ(molv::live_allocations(), before);
  const Structure s = structure_of(text);
  EXPECT_TRUE(s.sound) << s.fault;
  EXPECT_NE(text.find("// Surfaces : 1000000\n"), std::string::npos);
  EXPECT_NE(text.find("\n1000002;\n"), std::string::npos) << "the merged corners";
  EXPECT_NE(text.find("\n1000000;\n3;"), std::string::npos) << "the faces";
  EXPECT_NE(text.find("// Total number of vertices : 1000002"), std::string::npos);
  molv::clear_model();
}

// ---- values ---------------------------------------------------------------

// JSON holds no NaN or infinity, but a number beyond the float range is an
// infinity once narrowed, and infinities make NaN centres and normals.
TEST_F(Hostile, InfiniteCoordinatesFromTheSceneFile) {
  const std::string scene = R"({"world": {"children": [
      {"name": "far", "vertices": [[1e39, 0, 0], [-1e39, 1, 0], [0, 1e39, -1e39], [0, 0, 1]],
       "surfaces": [{"verts": [0, 1, 2]}, {"verts": [[1, 1e39, -1e39], [2, 0.5, 0.5], [3, 0, 0]]}]}]}})";
  for (const std::string &options :
       {with(kDefaults, {5}), with(kDefaults, {1, 13, 21, 23}), kDefaults.substr(0, 17) + "0" +
                                                                     kDefaults.substr(18)}) {
    SCOPED_TRACE(options);
    const std::string text = export_and_check(scene, options, false);
    // The largest float stands in for an infinity, 0 for a NaN.
    EXPECT_TRUE(text.find("340282000000000000000000000000000000000.0") != std::string::npos ||
                text.find("3.40282e+38") != std::string::npos)
        << text;
  }
}

TEST(HostileInProcess, NanAndInfinityInPositionsTextureCoordinatesAndCentres) {
  qel_test::start_host();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto m = molv::make_empty_model();
  m->textures.push_back("t.png");
  m->objects.push_back(std::make_unique<mo_object>());
  mo_object *object = m->objects.back().get();
  object->type = MO_OBJ_POLYGON;
  object->name = "odd";
  object->has_texture = true;
  object->texture_id = 0;
  object->texture_repeat[0] = nan;
  object->texture_offset[1] = -inf;
  const std::vector<float> positions = {nan, 0, 0, 1, nan, 0, 0, 1, inf, -inf, nan, 1, 2, 2, 2};
  std::vector<molv::SurfaceSpec> surfaces(2);
  surfaces[0].vertex_index = {0, 1, 2};
  surfaces[0].u = {nan, inf, -inf};
  surfaces[0].v = {0, nan, 1};
  surfaces[1].vertex_index = {2, 3, 4, 0};
  surfaces[1].u = {0, 0, 0, 0};
  surfaces[1].v = {0, 0, 0, 0};
  surfaces[1].twosided = 1;
  molv::build_object(object, positions, surfaces, {});
  object->centre[0] = nan;
  object->centre[1] = inf;
  object->centre[2] = -inf;
  molv::build_object(m->world(), {}, {}, {object});
  molv::install_model(std::move(m));

  const long before = molv::live_allocations();
  for (const std::string &options :
       {with(kDefaults, {5, 9, 13, 22}), with(kDefaults, {5, 9, 13, 22, 21}).replace(17, 1, "0"),
        with(kDefaults, {3, 8, 11, 12, 23})}) {
    SCOPED_TRACE(options);
    const std::string text = qel_test::export_text(options);
    EXPECT_EQ(qel_test::last_status(), qel::RunStatus::completed);
    const Structure s = structure_of(text);
    EXPECT_TRUE(s.sound) << s.fault << "\n" << text;
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    EXPECT_NE(text.find("MeshTextureCoords"), std::string::npos);
  }
  EXPECT_EQ(molv::live_allocations(), before);
  molv::clear_model();
}

TEST_F(Hostile, ZeroAreaAndDegeneratePolygons) {
  const std::string scene = R"({"world": {"children": [
      {"name": "point", "vertices": [[1,1,1],[1,1,1],[1,1,1],[1,1,1]],
       "surfaces": [{"verts": [0,1,2]}, {"verts": [0,1,2,3]}]},
      {"name": "line", "vertices": [[0,0,0],[1,0,0],[2,0,0],[3,0,0]],
       "surfaces": [{"verts": [0,1,2,3]}, {"verts": [0,2,1]}]},
      {"name": "short", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0]}, {"verts": [0,1]}, {"verts": [0,1,2]}, {"verts": []}]},
      {"name": "bow tie", "vertices": [[0,0,0],[1,1,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2,3], "twosided": true}]},
      {"name": "only short", "vertices": [[0,0,0],[1,0,0]],
       "surfaces": [{"verts": [0,1]}, {"verts": [1]}]}]}})";
  for (const std::string &options :
       {kDefaults, with(kDefaults, {9, 13, 22}), with(kDefaults, {9, 12, 22, 23}).replace(23, 1, "0")}) {
    SCOPED_TRACE(options);
    const std::string text = export_and_check(scene, options);
    // A Mesh only where a reader can load one.
    EXPECT_EQ(count_of(text, "\nMesh "), 4);
    EXPECT_EQ(text.find("\nMesh only_short"), std::string::npos);
  }
}

TEST_F(Hostile, PolygonThatListsACornerTwice) {
  const std::string scene = R"({"world": {"children": [
      {"name": "twice", "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,0,2]}, {"verts": [0,1,2,3,2,3]}, {"verts": [3,3,3]}]}]}})";
  for (const std::string &options :
       {kDefaults, with(kDefaults, {9, 13}), with(kDefaults, {13}).replace(23, 1, "0")}) {
    SCOPED_TRACE(options);
    const std::string text = export_and_check(scene, options);
    EXPECT_NE(text.find("\nMesh twice"), std::string::npos);
  }
}

// The 49th option character is a digit; anything else is clamped: below
// '0' is 0 (no limit), above '9' is 9 places.
TEST_F(Hostile, DecimalPlacesThatAreNotADigit) {
  const std::string file = write("d.json", R"({"world": {"children": [{"name": "small", "centre": [0, 0, 0],
      "vertices": [[0.0000000123456, 0, 0], [1, 0, 0], [0, 1, 0]], "surfaces": [{"verts": [0, 1, 2]}]}]}})");
  const auto exported = [&](char places) {
    // The command line takes only a digit there: the options file holds it.
    std::string options = kDefaults;
    options[49] = places;
    qel_test::write_file(plugin_.options_file(), options);
    auto r = run({file, "--remembered"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return read("d.x");
  };
  const std::string nine = exported('9'), none = exported('0');
  EXPECT_NE(nine.find("\n0.000000012;0.0;0.0;"), std::string::npos) << nine;
  EXPECT_NE(none.find("\n0.0000000123456;0.0;0.0;"), std::string::npos) << none;
  for (char above : {':', 'x', '~', '\x7f', '\xff'}) EXPECT_EQ(exported(above), nine) << above;
  for (char below : {'/', ' ', '!', '\x01'}) EXPECT_EQ(exported(below), none) << int(below);
}

// ---- texts ----------------------------------------------------------------

TEST_F(Hostile, NameOfAMegabyte) {
  std::string name(1 << 20, 'n');
  for (std::size_t i = 0; i < name.size(); i += 4096) name[i] = i % 8192 ? ' ' : '{';
  std::string id = name;
  for (char &c : id)
    if (c == ' ' || c == '{') c = '_';
  const std::string scene = "{\"world\":{\"children\":[" + one_triangle(name) + "]}}";
  // The second reader keeps names in buffers of a kilobyte and gives up on
  // such a name, so the file is checked here.
  const std::string text = export_and_check(scene, with(kDefaults, {2, 15}), false);
  EXPECT_NE(text.find("\nFrame " + id + "__FRM_1_0_0_1 {\n"), std::string::npos);
  EXPECT_NE(text.find("\nMesh " + id + "__MSH_1_0_0_1 {\n"), std::string::npos);
}

TEST_F(Hostile, DataTextOfAMegabyte) {
  // Lines of 1 KB: on the comment's one line each line end is " # ".
  std::string data, line;
  std::string expected;
  for (int i = 0; i < 1024; ++i) {
    line = std::to_string(i) + std::string(1000, 'd');
    data += line + "\\n";
    expected += (i ? " # " : "") + line;
  }
  const std::string scene = "{\"world\":{\"children\":[{\"name\":\"t\",\"data\":\"" + data +
                            "\",\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],"
                            "\"surfaces\":[{\"verts\":[0,1,2]}]}]}}";
  const std::string text = export_and_check(scene, with(kDefaults, {2}));
  EXPECT_NE(text.find("\n// DATA *t  ## " + expected + " ##\n"), std::string::npos);
}

TEST_F(Hostile, EmptyNamesEverywhere) {
  const std::string scene = R"({"palette": [{"name": ""}], "textures": [""], "world": {"name": "", "children": [
      {"name": "", "data": "", "children": [
        {"name": "", "texture": {"id": 0}, "vertices": [[0,0,0],[1,0,0],[0,1,0]],
         "surfaces": [{"verts": [0,1,2]}]}]},
      {"type": "light", "name": ""}]}})";
  for (const std::string &options : {kDefaults, with(kDefaults, {2, 15}), with(kDefaults, {2})}) {
    SCOPED_TRACE(options);
    const std::string text = export_and_check(scene, options);
    // opt_strip_texture_path (set in the defaults) leaves an empty texture name empty.
    EXPECT_NE(text.find("TextureFileName { \"\"; }"), std::string::npos) << text;
  }
}

TEST_F(Hostile, DataTextsOfControlBytesOnly) {
  const std::string scene = R"({"world": {"data": "\u0001\u0002\t\r\n\u001b", "children": [
      {"name": "a", "data": "\n\n\n", "vertices": [[0,0,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2]}]},
      {"name": "b", "data": "\u0000hidden after the end"}]}})";
  const std::string text = export_and_check(scene, with(kDefaults, {2}));
  EXPECT_NE(text.find("\n// DATA *WORLD  ##  ##\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n// DATA *a  ##  ##\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n// DATA *b  ##  ##\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("hidden"), std::string::npos);
}

TEST_F(Hostile, TextureNamesWithQuotes) {
  const std::string scene = R"({"textures": ["say \"cheese\".png", "\"", "a\\b \"c\""], "world": {"children": [
      {"name": "one", "texture": {"id": 0}, "vertices": [[0,0,0],[1,0,0],[0,1,0]],
       "surfaces": [{"verts": [0,1,2]}]},
      {"name": "two", "texture": {"id": 1}, "vertices": [[0,0,1],[1,0,1],[0,1,1]],
       "surfaces": [{"verts": [0,1,2]}]},
      {"name": "three", "texture": {"id": 2}, "vertices": [[0,0,2],[1,0,2],[0,1,2]],
       "surfaces": [{"verts": [0,1,2]}]}]}})";
  for (const std::string &options : {kDefaults, with(kDefaults, {4, 19})}) {
    SCOPED_TRACE(options);
    const std::string text = export_and_check(scene, options);
    EXPECT_NE(text.find("TextureFileName { \"say _cheese_.png\"; }"), std::string::npos) << text;
    EXPECT_NE(text.find("TextureFileName { \"_\"; }"), std::string::npos) << text;
  }
}

}  // namespace
