/*
 * The host's geometry: normals (Newell, flat and smooth), triangulation
 * (fan, ear clipping, fallback) and surface copies.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "import/scene_file.h"

namespace {

using Triple = std::array<int, 3>;

class GeometryTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = molv::live_allocations(); }
  void TearDown() override {
    EXPECT_EQ(molv::live_allocations(), start_) << "host records not given back";
    molv::clear_model();
  }

  // Loads a world with one object and returns it.
  mo_object *load_object(const std::string &members,
                         const std::string &palette = R"([{}, {}, {}])") {
    std::string error;
    const std::string text =
        R"({"palette": )" + palette + R"(, "world": {"children": [{)" + members + "}]}}";
    EXPECT_TRUE(molv::load_scene_text(text, "g.json", &error)) << error;
    mo_list kids = nullptr;
    mo_object_get_contents(mo_get_world(), nullptr, nullptr, nullptr, nullptr, nullptr, &kids);
    object_ = static_cast<mo_object *>(list_get_item(kids, 0));
    return object_;
  }

  mo_surface *surface(int index) const {
    mo_list surfaces = nullptr;
    mo_object_get_contents(object_, nullptr, nullptr, nullptr, nullptr, &surfaces, nullptr);
    return static_cast<mo_surface *>(list_get_item(surfaces, index));
  }

  int vertex_index(const mo_vertex *vertex) const {
    mo_list vertices = nullptr;
    mo_object_get_contents(object_, nullptr, nullptr, nullptr, &vertices, nullptr, nullptr);
    return list_index(vertices, vertex);
  }

  // The triangles of a list as vertex indices of the object.
  std::vector<Triple> triples(mo_list triangles) const {
    std::vector<Triple> out;
    for (mo_list_node *node = triangles; node != nullptr; node = node->next) {
      mo_surface *t = static_cast<mo_surface *>(node->item);
      EXPECT_EQ(t->vertex_count, 3);
      EXPECT_EQ(list_count(t->svertices), 3);
      Triple triple{};
      for (int k = 0; k < 3; ++k) triple[k] = vertex_index(surface_get_svertex_at(t, k)->vertex);
      out.push_back(triple);
    }
    return out;
  }

  long start_ = 0;
  mo_object *object_ = nullptr;
};

void expect_normal(const float *normal, float x, float y, float z) {
  EXPECT_EQ(normal[0], x);
  EXPECT_EQ(normal[1], y);
  EXPECT_EQ(normal[2], z);
}

// ---- normals --------------------------------------------------------------------

TEST_F(GeometryTest, NewellNormalOfANonPlanarQuad) {
  // By hand: Newell's sums are (1, -1, 2), of length sqrt(6).
  load_object(R"("vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,1]],
                 "surfaces": [{"verts": [0, 1, 2, 3]}])");
  object_calc_normals_force(object_);
  const double length = std::sqrt(6.0);
  expect_normal(surface(0)->normal, static_cast<float>(1.0 / length),
                static_cast<float>(-1.0 / length), static_cast<float>(2.0 / length));
}

TEST_F(GeometryTest, FlatAndSmoothSurfaceVertices) {
  // A (flat, in z = 0, facing +z) and B (smooth, in x = 0, facing +x)
  // share the edge from vertex 0 to vertex 1.  The line and the two-corner
  // polygon get no normal and add nothing.
  load_object(R"("vertices": [[0,0,0], [0,1,0], [1,0,0], [0,0,1]],
                 "surfaces": [{"shading": "flat", "verts": [0, 2, 1]},
                              {"verts": [0, 1, 3]},
                              {"type": "line", "verts": [0, 1, 2]},
                              {"verts": [0, 3]}])");
  // Stale values must be overwritten.
  surface(2)->normal[0] = 5.0f;
  surface_get_svertex_at(surface(0), 0)->normal[1] = 5.0f;
  object_calc_normals_force(object_);

  expect_normal(surface(0)->normal, 0.0f, 0.0f, 1.0f);
  expect_normal(surface(1)->normal, 1.0f, 0.0f, 0.0f);
  expect_normal(surface(2)->normal, 0.0f, 0.0f, 0.0f);
  expect_normal(surface(3)->normal, 0.0f, 0.0f, 0.0f);

  for (int k = 0; k < 3; ++k) {
    expect_normal(surface_get_svertex_at(surface(0), k)->normal, 0.0f, 0.0f, 1.0f);
  }
  // Smooth: around vertices 0 and 1 both faces, flat A included.
  const float half = static_cast<float>(1.0 / std::sqrt(2.0));
  expect_normal(surface_get_svertex_at(surface(1), 0)->normal, half, 0.0f, half);
  expect_normal(surface_get_svertex_at(surface(1), 1)->normal, half, 0.0f, half);
  expect_normal(surface_get_svertex_at(surface(1), 2)->normal, 1.0f, 0.0f, 0.0f);
  // A smooth line takes the normals around its vertices.
  expect_normal(surface_get_svertex_at(surface(2), 0)->normal, half, 0.0f, half);
  expect_normal(surface_get_svertex_at(surface(2), 2)->normal, 0.0f, 0.0f, 1.0f);
  // A smooth two-corner polygon as well.
  expect_normal(surface_get_svertex_at(surface(3), 1)->normal, 1.0f, 0.0f, 0.0f);
}

// An object that keeps a model's normals: a smooth corner gets its own
// back (also after a plug-in wrote over it), a corner whose own is zero
// the normals around its vertex, a flat surface its surface normal; the
// triangles and the copy of a surface carry the corners' normals.
TEST_F(GeometryTest, TheModelsOwnNormalsComeBackOnSmoothSurfaces) {
  // A smooth quad in z = 0 and a flat triangle in x = 0 beside it.
  load_object(R"("vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0], [0,0,1]],
                 "surfaces": [{"verts": [0, 1, 2, 3]},
                              {"shading": "flat", "verts": [0, 3, 4]}])");
  molv::keep_model_normals(object_, {0.6f, 0, 0.8f, 0, 0.6f, 0.8f, -0.6f, 0, 0.8f, 0, 0, 0,  //
                                     0, 1, 0, 0, 1, 0, 0, 1, 0});
  surface_get_svertex_at(surface(0), 0)->normal[0] = 5.0f;
  object_calc_normals_force(object_);
  mo_surface *quad = surface(0);
  expect_normal(surface_get_svertex_at(quad, 0)->normal, 0.6f, 0.0f, 0.8f);
  expect_normal(surface_get_svertex_at(quad, 1)->normal, 0.0f, 0.6f, 0.8f);
  expect_normal(surface_get_svertex_at(quad, 2)->normal, -0.6f, 0.0f, 0.8f);
  // Vertex 3 is the quad's and the triangle's (facing +x).
  const float half = static_cast<float>(1.0 / std::sqrt(2.0));
  expect_normal(surface_get_svertex_at(quad, 3)->normal, half, 0.0f, half);
  for (int k = 0; k < 3; ++k) {
    expect_normal(surface_get_svertex_at(surface(1), k)->normal, 1.0f, 0.0f, 0.0f);
  }

  mo_list triangles = surface_get_triangulations(quad);
  ASSERT_EQ(triples(triangles), (std::vector<Triple>{{0, 1, 2}, {0, 2, 3}}));
  mo_surface *second = static_cast<mo_surface *>(list_get_item(triangles, 1));
  expect_normal(surface_get_svertex_at(second, 1)->normal, -0.6f, 0.0f, 0.8f);
  mo_surface *copy = surface_clone(quad, object_);
  expect_normal(surface_get_svertex_at(copy, 1)->normal, 0.0f, 0.6f, 0.8f);
  list_add_item(&triangles, copy);
  mo_surfacelist_free(triangles);
}

TEST_F(GeometryTest, ASurfaceListingAVertexTwiceCountsOnce) {
  // A lists vertex 0 twice (the closing edge 0 -> 0 adds nothing to its
  // normal).  Counted twice, vertex 0 would get (1, 0, 2) / sqrt(5).
  load_object(R"("vertices": [[0,0,0], [0,1,0], [1,0,0], [0,0,1]],
                 "surfaces": [{"verts": [0, 2, 1, 0]}, {"verts": [0, 1, 3]}])");
  object_calc_normals_force(object_);
  expect_normal(surface(0)->normal, 0.0f, 0.0f, 1.0f);
  const float half = static_cast<float>(1.0 / std::sqrt(2.0));
  expect_normal(surface_get_svertex_at(surface(1), 0)->normal, half, 0.0f, half);
  expect_normal(surface_get_svertex_at(surface(0), 3)->normal, half, 0.0f, half);
}

TEST_F(GeometryTest, OppositeFacesAndDegeneratePolygonsGiveZero) {
  load_object(R"("vertices": [[0,0,0], [1,0,0], [0,1,0], [2,0,0]],
                 "surfaces": [{"verts": [0, 1, 2]}, {"verts": [2, 1, 0]},
                              {"verts": [0, 1, 3]}])");
  object_calc_normals_force(object_);
  expect_normal(surface(0)->normal, 0.0f, 0.0f, 1.0f);
  expect_normal(surface(1)->normal, 0.0f, 0.0f, -1.0f);
  expect_normal(surface(2)->normal, 0.0f, 0.0f, 0.0f);  // collinear corners
  for (int k = 0; k < 3; ++k) {
    expect_normal(surface_get_svertex_at(surface(0), k)->normal, 0.0f, 0.0f, 0.0f);
  }
  // Vertex 3 lies on no polygon with a normal.
  expect_normal(surface_get_svertex_at(surface(2), 2)->normal, 0.0f, 0.0f, 0.0f);
}

// ---- triangulation ---------------------------------------------------------------

TEST_F(GeometryTest, AConvexPolygonIsTheFanFromItsFirstCorner) {
  load_object(R"("vertices": [[0,0,0], [2,0,0], [3,1,0], [1,3,0], [-1,1,0]],
                 "surfaces": [{"material": 2, "shading": "flat", "twosided": true, "type": 7,
                   "verts": [[0, 0.5, 0.25], 1, 2, 3, [4, 1, 1]]}])");
  mo_surface *source = surface(0);
  source->normal[2] = 0.75f;
  surface_get_svertex_at(source, 4)->normal[0] = -1.0f;

  mo_list triangles = surface_get_triangulations(source);
  EXPECT_EQ(triples(triangles), (std::vector<Triple>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
  // 3 triangles with 3 corners each, 3 nodes of the list.
  EXPECT_EQ(molv::live_allocations(), start_ + 3 + 9 + 9 + 3);

  for (mo_list_node *node = triangles; node != nullptr; node = node->next) {
    mo_surface *t = static_cast<mo_surface *>(node->item);
    EXPECT_EQ(surface_get_type(t), 7);
    EXPECT_EQ(t->material, 2);
    EXPECT_EQ(surface_get_shading(t), 0);
    EXPECT_EQ(surface_get_twosided(t), 1);
    EXPECT_EQ(t->normal[2], 0.75f);
    EXPECT_NE(surface_get_svertex_at(t, 0), surface_get_svertex_at(source, 0))
        << "corners are new records";
  }
  mo_surface *first = static_cast<mo_surface *>(list_get_item(triangles, 0));
  EXPECT_EQ(surface_get_svertex_at(first, 0)->u, 0.5f);
  EXPECT_EQ(surface_get_svertex_at(first, 0)->v, 0.25f);
  mo_surface *last = static_cast<mo_surface *>(list_get_item(triangles, 2));
  EXPECT_EQ(surface_get_svertex_at(last, 2)->u, 1.0f);
  EXPECT_EQ(surface_get_svertex_at(last, 2)->normal[0], -1.0f);

  mo_surfacelist_free(triangles);
}

TEST_F(GeometryTest, AConcaveLShapeIsCutByEarsAtTheLowestPosition) {
  // In the plane x = 5, seen from +x (y right, z up):
  //
  //   4 ---- 3
  //   |      |
  //   |      2 ---- 1
  //   |             |
  //   5 ----------- 0
  //
  // The fan from 0 would leave the shape (0 -> 3 crosses the notch).  Ears:
  // 1 (0, 1, 2); 2 is a reflex corner; 3 (2, 3, 4); 2 turns straight, not an
  // ear; 4 (2, 4, 5); the last three (0, 2, 5).
  load_object(R"("vertices": [[5,2,0], [5,2,1], [5,1,1], [5,1,2], [5,0,2], [5,0,0]],
                 "surfaces": [{"verts": [0, 1, 2, 3, 4, 5]}])");
  mo_list triangles = surface_get_triangulations(surface(0));
  EXPECT_EQ(triples(triangles), (std::vector<Triple>{{0, 1, 2}, {2, 3, 4}, {2, 4, 5}, {0, 2, 5}}));
  mo_surfacelist_free(triangles);
}

// A triangulation of a simple polygon: n - 2 triangles, each turning the way
// the polygon turns, together covering its area, none holding a corner of
// the polygon inside.
void expect_valid_triangulation(const std::vector<std::array<double, 2>> &polygon,
                                const std::vector<Triple> &triangles, double area) {
  ASSERT_EQ(triangles.size(), polygon.size() - 2);
  auto cross = [&](int a, int b, int c) {
    return (polygon[b][0] - polygon[a][0]) * (polygon[c][1] - polygon[a][1]) -
           (polygon[b][1] - polygon[a][1]) * (polygon[c][0] - polygon[a][0]);
  };
  const double sign = area > 0 ? 1.0 : -1.0;
  double sum = 0.0;
  for (const Triple &t : triangles) {
    const double twice = cross(t[0], t[1], t[2]);
    EXPECT_GT(sign * twice, 0.0) << t[0] << " " << t[1] << " " << t[2];
    sum += twice / 2.0;
    for (int r = 0; r < static_cast<int>(polygon.size()); ++r) {
      const bool inside = sign * cross(t[0], t[1], r) > 0 && sign * cross(t[1], t[2], r) > 0 &&
                          sign * cross(t[2], t[0], r) > 0;
      EXPECT_FALSE(inside) << "corner " << r << " inside " << t[0] << " " << t[1] << " " << t[2];
    }
  }
  EXPECT_DOUBLE_EQ(sum, area);
}

TEST_F(GeometryTest, ConcavePolygonsInEveryPlaneAndBothTurns) {
  // A comb of three teeth (area 11), projected on each coordinate plane,
  // listed in both directions.
  const std::vector<std::array<double, 2>> comb = {{0, 0}, {5, 0}, {5, 3}, {4, 3}, {4, 1}, {3, 1},
                                                   {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}};
  for (int plane = 0; plane < 3; ++plane) {
    for (int reversed = 0; reversed < 2; ++reversed) {
      std::vector<std::array<double, 2>> polygon = comb;
      if (reversed) polygon.assign(comb.rbegin(), comb.rend());
      std::string vertices;
      std::string verts;
      for (size_t i = 0; i < polygon.size(); ++i) {
        // (a, b) become (x, y), (y, z) or (z, x): the polygon turns the
        // same way around the dropped axis in all three planes.
        double p[3] = {0.5, 0.5, 0.5};
        p[plane] = polygon[i][0];
        p[(plane + 1) % 3] = polygon[i][1];
        vertices += (i ? ", [" : "[") + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
                    std::to_string(p[2]) + "]";
        verts += (i ? ", " : "") + std::to_string(i);
      }
      load_object(R"("vertices": [)" + vertices + R"(], "surfaces": [{"verts": [)" + verts + "]}]");
      mo_list triangles = surface_get_triangulations(surface(0));
      SCOPED_TRACE("plane " + std::to_string(plane) + (reversed ? " reversed" : ""));
      expect_valid_triangulation(polygon, triples(triangles), reversed ? -11.0 : 11.0);
      mo_surfacelist_free(triangles);
    }
  }
}

TEST_F(GeometryTest, ALargeConcaveStarIsTriangulated) {
  // 2000 corners alternating between two radii: 1000 reflex corners.
  const int n = 2000;
  std::vector<std::array<double, 2>> polygon;
  std::string vertices;
  std::string verts;
  for (int i = 0; i < n; ++i) {
    const double angle = 2.0 * M_PI * i / n;
    const double radius = i % 2 ? 90.0 : 100.0;
    // Floats in the scene: use the values the host will hold.
    const float a = static_cast<float>(radius * std::cos(angle));
    const float b = static_cast<float>(radius * std::sin(angle));
    polygon.push_back({a, b});
    char text[80];
    std::snprintf(text, sizeof text, "%s[%.9g,%.9g,0]", i ? "," : "", a, b);
    vertices += text;
    verts += (i ? "," : "") + std::to_string(i);
  }
  double area = 0.0;
  for (int i = 0; i < n; ++i) {
    const auto &p = polygon[i];
    const auto &q = polygon[(i + 1) % n];
    area += (p[0] * q[1] - q[0] * p[1]) / 2.0;
  }
  load_object(R"("vertices": [)" + vertices + R"(], "surfaces": [{"verts": [)" + verts + "]}]");
  mo_list triangles = surface_get_triangulations(surface(0));
  const std::vector<Triple> result = triples(triangles);
  ASSERT_EQ(result.size(), static_cast<size_t>(n - 2));
  double sum = 0.0;
  for (const Triple &t : result) {
    const auto &p = polygon[t[0]], &q = polygon[t[1]], &r = polygon[t[2]];
    const double twice = (q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0]);
    EXPECT_GT(twice, 0.0);
    sum += twice / 2.0;
  }
  EXPECT_NEAR(sum, area, 1e-6 * area);
  mo_surfacelist_free(triangles);
}

// The rule without shortcuts: a polygon without a right turn is the fan;
// else each time try every remaining position from 1 up and clip the first
// ear; an ear turns left and its closed triangle
// holds no other remaining corner that does not turn left (corners at the
// same place as a triangle corner excepted).  No ear: the one turning left
// the most, else the rest's fan.  A fan with a triangle not turning left: ears.
std::vector<Triple> reference_ears(const std::vector<std::array<double, 2>> &p, double sign) {
  auto turn = [&](int a, int b, int c) {
    return sign *
           ((p[b][0] - p[a][0]) * (p[c][1] - p[a][1]) - (p[b][1] - p[a][1]) * (p[c][0] - p[a][0]));
  };
  std::vector<int> ring;
  for (int i = 0; i < static_cast<int>(p.size()); ++i) ring.push_back(i);
  const int n = static_cast<int>(ring.size());
  bool convex = true;
  for (int i = 0; i < n; ++i) convex = convex && turn((i + n - 1) % n, i, (i + 1) % n) >= 0;
  for (int i = 1; sign != 0.0 && i + 1 < n; ++i) convex = convex && turn(0, i, i + 1) > 0;
  std::vector<Triple> out;
  while (ring.size() > 3 && !convex) {
    const int m = static_cast<int>(ring.size());
    int clipped = -1;
    for (int at = 1; at < m && clipped < 0; ++at) {
      const int a = ring[at - 1], k = ring[at], b = ring[(at + 1) % m];
      if (turn(a, k, b) <= 0) continue;
      bool blocked = false;
      for (int j = 0; j < m && !blocked; ++j) {
        const int r = ring[j];
        if (r == a || r == k || r == b) continue;
        if (turn(ring[(j + m - 1) % m], r, ring[(j + 1) % m]) > 0) continue;
        if (p[r] == p[a] || p[r] == p[k] || p[r] == p[b]) continue;
        blocked = turn(a, k, r) >= 0 && turn(k, b, r) >= 0 && turn(b, a, r) >= 0;
      }
      if (!blocked) clipped = at;
    }
    double most = 0.0;
    for (int at = 1; at < m && clipped < 0; ++at)
      most = std::max(most, turn(ring[at - 1], ring[at], ring[(at + 1) % m]));
    for (int at = 1; at < m && clipped < 0 && most > 0.0; ++at)
      if (turn(ring[at - 1], ring[at], ring[(at + 1) % m]) == most) clipped = at;
    if (clipped < 0) break;
    out.push_back({ring[clipped - 1], ring[clipped], ring[(clipped + 1) % m]});
    ring.erase(ring.begin() + clipped);
  }
  for (size_t i = 1; i + 1 < ring.size(); ++i) out.push_back({ring[0], ring[i], ring[i + 1]});
  return out;
}

TEST_F(GeometryTest, EarClippingSweepAgainstTheRuleWithoutShortcuts) {
  // Random star-shaped polygons on a coarse grid: concave, often with
  // straight corners, repeated places and both turning directions.
  std::mt19937 random(20240611);
  int concave = 0;
  for (int round = 0; round < 3000; ++round) {
    const int n = 4 + static_cast<int>(random() % 20);
    std::vector<double> angles;
    for (int i = 0; i < n; ++i)
      angles.push_back(static_cast<double>(random() % 3600) * M_PI / 1800.0);
    std::sort(angles.begin(), angles.end());
    const bool reversed = random() % 2 != 0;
    if (reversed) std::reverse(angles.begin(), angles.end());
    std::vector<std::array<double, 2>> polygon;
    std::string vertices;
    std::string verts;
    for (int i = 0; i < n; ++i) {
      const double radius = 2.0 + static_cast<double>(random() % 9);
      const double a = std::round(radius * std::cos(angles[i]));
      const double b = std::round(radius * std::sin(angles[i]));
      polygon.push_back({a, b});
      vertices += (i ? ", [" : "[") + std::to_string(a) + "," + std::to_string(b) + ",0]";
      verts += (i ? ", " : "") + std::to_string(i);
    }
    double twice_area = 0.0;
    for (int i = 0; i < n; ++i) {
      twice_area +=
          polygon[i][0] * polygon[(i + 1) % n][1] - polygon[(i + 1) % n][0] * polygon[i][1];
    }
    if (twice_area == 0.0) continue;  // no plane to work in: the fan, tested elsewhere
    load_object(R"("vertices": [)" + vertices + R"(], "surfaces": [{"verts": [)" + verts + "]}]");
    mo_list triangles = surface_get_triangulations(surface(0));
    const std::vector<Triple> expected = reference_ears(polygon, twice_area > 0 ? 1.0 : -1.0);
    const std::vector<Triple> fan = reference_ears(polygon, 0.0);  // sign 0: "convex"
    concave += expected != fan;
    ASSERT_EQ(triples(triangles), expected) << "round " << round << ": " << vertices;
    mo_surfacelist_free(triangles);
  }
  EXPECT_GT(concave, 1000) << "the sweep must mostly meet polygons the fan does not cut";
}

TEST_F(GeometryTest, ADegeneratePolygonFallsBackToTheFan) {
  load_object(R"("vertices": [[0,0,0], [1,0,0], [2,0,0], [3,0,0], [1,1,0]],
                 "surfaces": [{"verts": [0, 1, 2, 3]}, {"verts": [0, 1, 0, 1]},
                              {"verts": [0, 4, 1, 4, 2]}])");
  mo_list line = surface_get_triangulations(surface(0));
  EXPECT_EQ(triples(line), (std::vector<Triple>{{0, 1, 2}, {0, 2, 3}}));
  mo_list doubled = surface_get_triangulations(surface(1));
  EXPECT_EQ(triples(doubled), (std::vector<Triple>{{0, 1, 0}, {0, 0, 1}}));
  // Zero area, but a spike: still n - 2 triangles.
  mo_list spike = surface_get_triangulations(surface(2));
  EXPECT_EQ(list_count(spike), 3);
  mo_surfacelist_free(line);
  mo_surfacelist_free(doubled);
  mo_surfacelist_free(spike);
}

TEST_F(GeometryTest, TrianglesAndSmallerSurfaces) {
  load_object(R"("vertices": [[0,0,0], [1,0,0], [0,1,0]],
                 "surfaces": [{"verts": [0, 1, 2]}, {"verts": [0, 1]}, {"verts": []}])");
  mo_list one = surface_get_triangulations(surface(0));
  EXPECT_EQ(triples(one), (std::vector<Triple>{{0, 1, 2}}));
  EXPECT_NE(list_get_item(one, 0), surface(0)) << "a copy, even of a triangle";
  EXPECT_EQ(surface_get_triangulations(surface(1)), nullptr);
  EXPECT_EQ(surface_get_triangulations(surface(2)), nullptr);
  EXPECT_EQ(surface_get_triangulations(nullptr), nullptr);
  mo_surfacelist_free(one);
}

// Polygons whose corners 0, 1 and 2 lie in a line seen along z (exactly,
// or just beside it), convex or notched, a little off their plane (on a
// grid that floats hold exactly): every triangle faces the polygon's way.
TEST_F(GeometryTest, NoTriangleFacesAgainstAPolygonThatIsNotQuiteFlat) {
  std::mt19937 random(20261208);
  auto grid = [&random](double low, double high, double step) {
    return std::round(std::uniform_real_distribution<double>(low, high)(random) / step) * step;
  };
  for (int round = 0; round < 4000; ++round) {
    const int n = 5 + static_cast<int>(random() % 10);
    std::vector<std::array<double, 3>> p(n);
    std::string vertices, verts;
    for (int i = 0; i < n; ++i) {
      const double angle = 2 * M_PI * (i + grid(-0.3, 0.3, 0.01)) / n;
      const double r = round % 2 && i % 3 == 2 ? 4 : 10;
      p[i] = {std::round(r * std::cos(angle) * 64) / 64, std::round(r * std::sin(angle) * 64) / 64,
              grid(-0.3, 0.3, 1.0 / 64)};
    }
    p[1][0] = (p[0][0] + p[2][0]) / 2 + (round % 3 ? grid(-1e-3, 1e-3, 1.0 / 65536) : 0.0);
    p[1][1] = (p[0][1] + p[2][1]) / 2;
    for (int i = 0; i < n; ++i) {
      char text[96];
      std::snprintf(text, sizeof text, "%s[%.17g,%.17g,%.17g]", i ? "," : "", p[i][0], p[i][1],
                    p[i][2]);
      vertices += text;
      verts += (i ? "," : "") + std::to_string(i);
    }
    load_object(R"("vertices": [)" + vertices + R"(], "surfaces": [{"verts": [)" + verts + "]}]");
    auto cross = [&p](int a, int b, int c, int k) {
      const int x = (k + 1) % 3, y = (k + 2) % 3;
      return (p[b][x] - p[a][x]) * (p[c][y] - p[a][y]) - (p[b][y] - p[a][y]) * (p[c][x] - p[a][x]);
    };
    double normal[3] = {0, 0, 0};  // Newell's: the sum over the fan from corner 0
    for (int i = 1; i + 1 < n; ++i)
      for (int k = 0; k < 3; ++k) normal[k] += cross(0, i, i + 1, k);
    mo_list triangles = surface_get_triangulations(surface(0));
    const std::vector<Triple> result = triples(triangles);
    mo_surfacelist_free(triangles);
    ASSERT_EQ(result.size(), static_cast<size_t>(n - 2));
    for (const Triple &t : result) {
      double faces = 0;
      for (int k = 0; k < 3; ++k) faces += cross(t[0], t[1], t[2], k) * normal[k];
      ASSERT_GT(faces, 0.0) << "round " << round << ": " << t[0] << t[1] << t[2] << " " << vertices;
    }
  }
}

// ---- copies ----------------------------------------------------------------------

TEST_F(GeometryTest, ACloneIsIndependentButSharesTheHostVertices) {
  load_object(R"("vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0]],
                 "surfaces": [{"material": 1, "twosided": true, "shading": "flat",
                   "verts": [[0, 0.5, 0.5], 1, 2, 3]}])");
  object_calc_normals_force(object_);
  mo_surface *source = surface(0);
  mo_surface *copy = surface_clone(source, object_);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, source);
  EXPECT_EQ(molv::live_allocations(), start_ + 1 + 4 + 4);

  EXPECT_EQ(copy->vertex_count, 4);
  EXPECT_EQ(copy->material, 1);
  EXPECT_EQ(copy->normal[2], 1.0f);
  EXPECT_EQ(surface_get_type(copy), MO_SURF_POLYGON);
  EXPECT_EQ(surface_get_twosided(copy), 1);
  EXPECT_EQ(surface_get_shading(copy), 0);
  for (int k = 0; k < 4; ++k) {
    mo_svertex *a = surface_get_svertex_at(source, k);
    mo_svertex *b = surface_get_svertex_at(copy, k);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->vertex, b->vertex);
    EXPECT_EQ(a->u, b->u);
    EXPECT_EQ(a->normal[2], b->normal[2]);
  }

  // What a plug-in does to a flipped copy leaves the source alone.
  copy->normal[2] = -copy->normal[2];
  surface_get_svertex_at(copy, 0)->u = 9.0f;
  surface_get_svertex_at(copy, 0)->normal[2] = -1.0f;
  list_reverse(&copy->svertices);
  EXPECT_EQ(surface_get_svertex_at(copy, 3)->u, 9.0f);
  EXPECT_EQ(source->normal[2], 1.0f);
  EXPECT_EQ(surface_get_svertex_at(source, 0)->u, 0.5f);
  EXPECT_EQ(surface_get_svertex_at(source, 0)->normal[2], 1.0f);
  EXPECT_EQ(vertex_index(surface_get_svertex_at(source, 0)->vertex), 0);

  // A copy of a copy, and its triangles, are copies like any other.
  mo_surface *again = surface_clone(copy, object_);
  EXPECT_EQ(surface_get_svertex_at(again, 3)->u, 9.0f);
  mo_list triangles = surface_get_triangulations(copy);
  EXPECT_EQ(triples(triangles), (std::vector<Triple>{{3, 2, 1}, {3, 1, 0}}));

  mo_list all = nullptr;
  list_add_item(&all, copy);
  list_add_item(&all, again);
  list_append_list(&all, triangles);
  mo_surfacelist_free(all);
  EXPECT_EQ(surface_clone(nullptr, object_), nullptr);
}

// A small copy keeps its corners and their list in one block with bare
// nodes: every list function must still work on that list, write nothing
// into the block's neighbours, and give back all it took.
TEST_F(GeometryTest, ASmallCopysCornerListTakesEveryListFunction) {
  load_object(R"("vertices": [[0,0,0], [1,0,0], [1,1,0], [0,1,0]],
                 "surfaces": [{"verts": [[0, 0.25, 0.5], 1, 2]}, {"verts": [0, 2, 3]}])");
  mo_surface *a = surface_clone(surface(0), object_);
  mo_surface *b = surface_clone(surface(1), object_);
  mo_svertex *first = surface_get_svertex_at(a, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->u, 0.25f);

  EXPECT_EQ(list_count(a->svertices), 3);
  EXPECT_EQ(list_index(a->svertices, first), 0);
  list_reverse(&a->svertices);
  EXPECT_EQ(list_get_item(a->svertices, 2), first);
  EXPECT_EQ(list_count(a->svertices), 3);
  list_reverse(&a->svertices);
  EXPECT_EQ(list_get_item(a->svertices, 0), first);

  // Host nodes before and after the bare ones.
  list_add_item(&a->svertices, nullptr);
  list_add_item_head(&a->svertices, nullptr);
  list_add_item(&a->svertices, nullptr);
  EXPECT_EQ(list_count(a->svertices), 6);
  EXPECT_EQ(list_get_item(a->svertices, 1), first);
  EXPECT_EQ(list_index(a->svertices, first), 1);
  mo_list shared = nullptr;
  list_append_list(&shared, b->svertices);
  EXPECT_EQ(list_count(shared), 3);
  mo_list joined = nullptr;
  list_add_item(&joined, nullptr);
  list_append_list(&joined, b->svertices);
  EXPECT_EQ(list_count(joined), 4);
  joined->next = nullptr;  // b's corners stay b's
  list_free(joined);

  // The other copy's block is untouched.
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(surface_get_svertex_at(b, k)->vertex, surface_get_svertex_at(surface(1), k)->vertex);
  }
  EXPECT_EQ(list_count(b->svertices), 3);
  EXPECT_EQ(b->vertex_count, 3);

  mo_list copies = nullptr;
  list_add_item(&copies, a);
  list_add_item(&copies, b);
  mo_surfacelist_free(copies);

  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        mo_list twice = nullptr;
        list_add_item(&twice, surface_clone(surface(0), object_));
        mo_list again = nullptr;
        list_add_item(&again, twice->item);
        mo_surfacelist_free(twice);
        mo_surfacelist_free(again);
      },
      "freed twice|AddressSanitizer");
}

}  // namespace
