/*
 * The vertex table: row order, the merge rules (first equal earlier row,
 * +0 equals -0, NaN equals nothing, host vertices never mix, not even in
 * one bucket of the address rule),
 * written indices and resolve, the two cancel polls with their texts and
 * strides, and a failed allocation.
 */
#include "xwriter/vertex_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel::VertexTable;
using qel_test::first_object;

// How a build ended, told apart for the checks.
enum class VertexTableBuild { complete, cut_short, out_of_memory };

VertexTableBuild build_table(qel::ExportRun &run, VertexTable &table,
                             const std::vector<qel::MeshSurface> &surfaces, int32_t rows,
                             const qel::VertexPlaces *places = nullptr,
                             const qel::VertexForm &form = qel::VertexForm()) {
  if (!qel::vertex_table_build(run, table, surfaces.data(), static_cast<int32_t>(surfaces.size()), rows,
                               form, places)) {
    return VertexTableBuild::out_of_memory;
  }
  return table.cut_short ? VertexTableBuild::cut_short : VertexTableBuild::complete;
}

// A polygon object of `vertex_count` vertices on a circle (no three on a
// line, six decimals) with the given surfaces, each a list of vertex
// indices.
std::string scene_with(int vertex_count, const std::vector<std::vector<int>> &surfaces) {
  std::vector<std::array<double, 3>> vertices;
  for (int i = 0; i < vertex_count; ++i) {
    const double angle = 6.283185307179586 * i / vertex_count;
    vertices.push_back({std::stod(std::to_string(std::cos(angle))),
                        std::stod(std::to_string(std::sin(angle))), 0.0});
  }
  return qel_test::polygon_scene("m", vertices, surfaces);
}

std::vector<int> range(int first, int count) {
  std::vector<int> r;
  for (int i = 0; i < count; ++i) r.push_back(first + i);
  return r;
}

// Copies of the object's surfaces in list order, and the mesh surfaces
// that name them; the copies are freed with the list.
struct Copies {
  mo_list list = nullptr;
  int32_t rows = 0;
  std::vector<mo_surface *> surfaces;
  std::vector<qel::MeshSurface> mesh;
  mo_list vertices = nullptr;  // the object's, as the mesh writer passes them
  int vertex_count = 0;

  Copies() {
    mo_object *object = first_object();
    object_calc_normals_force(object);
    int vc = 0, sc = 0, kc = 0;
    mo_list v = nullptr, s = nullptr, k = nullptr;
    mo_object_get_contents(object, &vc, &sc, &kc, &v, &s, &k);
    vertices = v;
    vertex_count = vc;
    for (mo_list_node *node = s; node != nullptr; node = node->next) {
      mo_surface *copy = surface_clone(static_cast<mo_surface *>(node->item), object);
      list_add_item(&list, copy);
      surfaces.push_back(copy);
      mesh.push_back(qel::MeshSurface{copy, copy->vertex_count, copy->material, true, false});
      rows += copy->vertex_count;
    }
  }
  ~Copies() { mo_surfacelist_free(list); }
  Copies(const Copies &) = delete;
  Copies &operator=(const Copies &) = delete;

  mo_svertex *at(std::size_t surface, int k) {
    return surface_get_svertex_at(surfaces[surface], k);
  }

  // Every surface vertex in row order.
  std::vector<mo_svertex *> in_row_order() {
    std::vector<mo_svertex *> all;
    for (mo_surface *surface : surfaces) {
      for (int k = 0; k < surface->vertex_count; ++k)
        all.push_back(surface_get_svertex_at(surface, k));
    }
    return all;
  }

  // Sets u, v and normal of every surface vertex to zero, so only the host
  // vertex tells rows apart.
  void zero_fields() {
    for (mo_svertex *sv : in_row_order())
      sv->u = sv->v = sv->normal[0] = sv->normal[1] = sv->normal[2] = 0.0f;
  }
};

class VertexTableTest : public ::testing::Test {
 protected:
  void load(const std::string &scene) { qel_test::load_scene(scene); }

  // A fresh run under the options; the recordings start empty.
  void use_options(std::initializer_list<std::pair<int, char>> changes) {
    run_ = std::make_unique<qel_test::StringRun>(qel_test::options_with("", changes));
    molv::clear_recording();
  }
  qel::ExportRun &run() { return run_->run; }
  std::unique_ptr<qel_test::StringRun> run_;

  void TearDown() override {
    molv::set_cancel_at_poll(0);
    molv::set_fail_alloc_after(-1);
    molv::tcl_eval("set qel_cancel 0");
  }

  static std::vector<std::string> status_lines() { return molv::recording().status_lines; }

  // The merge goes by host vertex when it is given the object's vertices,
  // else by the hash of all fields; the rows must come out the same.
  enum class Merge { by_hash, by_vertex };
  VertexTableBuild build(VertexTable &table, const Copies &copies, Merge merge,
                         const qel::VertexForm &form = qel::VertexForm()) {
    if (merge == Merge::by_hash) {
      return build_table(run(), table, copies.mesh, copies.rows, nullptr, form);
    }
    qel::VertexPlaces places;
    EXPECT_TRUE(places.measure(copies.vertices, copies.vertex_count));
    return build_table(run(), table, copies.mesh, copies.rows, &places, form);
  }
};

const char kCreateText[] = "Export X File - Create Vertex List ...";

std::string optimize_text(int percent) {
  return "Export X File - Optimize Vertices ( " + std::to_string(percent) + " % ) ...";
}

// ---- rows ------------------------------------------------------------------------

TEST_F(VertexTableTest, EmptyListGivesNoRowsAndNoPoll) {
  load(scene_with(3, {}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  const long updates = molv::update_count();
  VertexTable table;
  EXPECT_EQ(build_table(run(), table, {}, 0), VertexTableBuild::complete);
  EXPECT_EQ(table.row_count, 0);
  EXPECT_EQ(table.remaining_count, 0);
  EXPECT_EQ(molv::update_count(), updates);
  EXPECT_TRUE(status_lines().empty());
}

TEST_F(VertexTableTest, RowsFollowSurfacesAndTheirVertexLists) {
  load(scene_with(6, {{0, 1, 2}, {2, 3, 4, 5}, {5, 0, 1}}));
  use_options({});
  Copies copies;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  ASSERT_EQ(table.row_count, 10);

  // The row of position k of a surface is its base plus k.
  const int bases[] = {0, 3, 7};
  for (std::size_t s = 0; s < copies.surfaces.size(); ++s) {
    for (int k = 0; k < copies.surfaces[s]->vertex_count; ++k) {
      EXPECT_EQ(table.rows[bases[s] + k].svertex, copies.at(s, k));
      EXPECT_EQ(table.rows[bases[s] + k].merged_into, -1);
      EXPECT_EQ(table.rows[bases[s] + k].written_index, -1);
    }
  }
}

// ---- the merge ---------------------------------------------------------------

TEST_F(VertexTableTest, WithoutOptimisationEveryRowIsItsOwn) {
  load(scene_with(3, {{0, 1, 2}, {0, 1, 2}}));
  use_options({});
  Copies copies;
  copies.zero_fields();
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(table.remaining_count, 6);
  for (int32_t row = 0; row < 6; ++row) EXPECT_EQ(table.rows[row].merged_into, -1);
}

TEST_F(VertexTableTest, EqualSurfaceVerticesMergeIntoTheEarlierAndResolveToItsIndex) {
  load(scene_with(4, {{0, 1, 2}, {2, 1, 3}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  // Rows 3 (vertex 2) and 4 (vertex 1) repeat rows 2 and 1.
  EXPECT_EQ(table.remaining_count, 4);
  const int32_t expected[] = {-1, -1, -1, 2, 1, -1};
  for (int32_t row = 0; row < 6; ++row)
    EXPECT_EQ(table.rows[row].merged_into, expected[row]);

  // Written as the vertex block writes: rows 2, 1, 0, then 5.
  table.rows[2].written_index = 0;
  table.rows[1].written_index = 1;
  table.rows[0].written_index = 2;
  table.rows[5].written_index = 3;
  qel::vertex_table_resolve(table);
  const int32_t written[] = {2, 1, 0, 0, 1, 3};
  for (int32_t row = 0; row < 6; ++row)
    EXPECT_EQ(table.rows[row].written_index, written[row]);
}

TEST_F(VertexTableTest, ADifferenceInNormalZOrInUKeepsRowsApart) {
  load(scene_with(3, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  copies.at(1, 0)->normal[2] = 1e-7f;  // row 3 differs from row 0 in normal z
  copies.at(2, 1)->u = 0.25f;          // row 7 differs from rows 1 and 4 in u
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(table.rows[3].merged_into, -1);
  EXPECT_EQ(table.rows[4].merged_into, 1);
  EXPECT_EQ(table.rows[5].merged_into, 2);
  EXPECT_EQ(table.rows[6].merged_into, 0);
  EXPECT_EQ(table.rows[7].merged_into, -1);
  EXPECT_EQ(table.rows[8].merged_into, 2);
  EXPECT_EQ(table.remaining_count, 9 - 4);
}

TEST_F(VertexTableTest, PositiveAndNegativeZeroAreEqual) {
  load(scene_with(3, {{0, 1, 2}, {0, 1, 2}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  copies.at(1, 0)->normal[0] = -0.0f;
  copies.at(1, 1)->u = -0.0f;
  copies.at(1, 2)->v = -0.0f;
  copies.at(1, 2)->normal[2] = -0.0f;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(table.rows[3].merged_into, 0);
  EXPECT_EQ(table.rows[4].merged_into, 1);
  EXPECT_EQ(table.rows[5].merged_into, 2);
  EXPECT_EQ(table.remaining_count, 3);
}

TEST_F(VertexTableTest, ANaNNeitherMergesNorIsMergedInto) {
  load(scene_with(3, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Vertex 0: NaN in the first row, so rows 3 and 6 only meet each other.
  copies.at(0, 0)->v = nan;
  // Vertex 1: NaN in rows 4 and 7 alike: bitwise equal, still not equal.
  copies.at(1, 1)->normal[1] = nan;
  copies.at(2, 1)->normal[1] = nan;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(table.rows[0].merged_into, -1);
  EXPECT_EQ(table.rows[3].merged_into, -1);
  EXPECT_EQ(table.rows[6].merged_into, 3);
  EXPECT_EQ(table.rows[4].merged_into, -1);
  EXPECT_EQ(table.rows[7].merged_into, -1);
}

TEST_F(VertexTableTest, FieldsAreComparedAsTheVertexFormReadsThem) {
  // Three copies of one triangle.  Against the first: row 3 differs in u,
  // row 4 has a NaN for u, row 5 a normal x of 1e-9 and row 6 one of 0.3.
  load(scene_with(3, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  copies.at(1, 0)->u = 0.25f;
  copies.at(1, 1)->u = std::numeric_limits<float>::quiet_NaN();
  copies.at(1, 2)->normal[0] = 1e-9f;
  copies.at(2, 0)->normal[0] = 0.3f;
  using Normals = qel::VertexForm::Normals;
  struct Case {
    qel::VertexForm form;
    int32_t merged[4];  // rows 3 to 6
  };
  const Case cases[] = {
      {qel::VertexForm(false, Normals::as_held), {-1, -1, -1, -1}},
      // Without texture coordinates u is 0, a NaN too; rounding to 1e-6
      // hides the small normal, not the large one.
      {qel::VertexForm(true, Normals::rounded), {0, 1, 2, -1}},
      {qel::VertexForm(false, Normals::rounded), {-1, -1, 2, -1}},
      {qel::VertexForm(true, Normals::zeroed), {0, 1, 2, 0}},
  };
  for (const Case &c : cases) {
    for (const Merge merge : {Merge::by_hash, Merge::by_vertex}) {
      VertexTable table;
      ASSERT_EQ(build(table, copies, merge, c.form), VertexTableBuild::complete);
      for (int32_t row = 3; row <= 6; ++row) {
        EXPECT_EQ(table.rows[row].merged_into, c.merged[row - 3])
            << "row " << row << " case " << (&c - cases) << " merge " << static_cast<int>(merge);
      }
    }
  }
  // The host's surface vertices are read, never changed.
  EXPECT_EQ(copies.at(1, 0)->u, 0.25f);
  EXPECT_EQ(copies.at(1, 2)->normal[0], 1e-9f);
}

TEST_F(VertexTableTest, ThreeEqualRowsMergeIntoTheFirstNeverIntoAMergedOne) {
  // Vertex 9 stands at rows 2, 5 and 9; every other row has a vertex of its own.
  load(scene_with(10, {{0, 1, 9}, {2, 3, 9}, {4, 5, 6}, {9, 7, 8}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  for (int32_t row = 0; row < 12; ++row) {
    const int32_t expected = (row == 5 || row == 9) ? 2 : -1;
    EXPECT_EQ(table.rows[row].merged_into, expected) << "row " << row;
  }
  EXPECT_EQ(table.remaining_count, 10);
}

TEST_F(VertexTableTest, DifferentHostVerticesNeverMergeEvenInOneBucket) {
  // 200 host vertices at one position, all fields equal: no two may merge,
  // though more than one share a bucket.
  load(qel_test::polygon_scene("m", std::vector<std::array<double, 3>>(200, {1, 2, 3}),
                               {range(0, 200)}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(table.remaining_count, 200);
  // The bucket rule: the low 32 bits of the host vertex's address, modulo
  // 111.  Two of the 200 vertices share one.
  std::vector<int> rows_in_bucket(111, 0);
  bool shared_bucket = false;
  for (int32_t row = 0; row < table.row_count; ++row) {
    const auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table.rows[row].svertex->vertex));
    shared_bucket = ++rows_in_bucket[low % 111u] > 1 || shared_bucket;
  }
  EXPECT_TRUE(shared_bucket);
}

// The merge against the rule itself on many rows: the first earlier row
// with the same host vertex and ==-equal u, v and normal, or -1.  By hash,
// by host vertex, and by host vertex with some rows on vertices that are
// not in the object's list (they go to the hash).
TEST_F(VertexTableTest, MergeMatchesTheFirstEqualEarlierRowOnRandomRows) {
  std::mt19937 shape(12345);
  std::vector<std::vector<int>> surfaces;
  for (int i = 0; i < 400; ++i) {
    const int a = static_cast<int>(shape() % 30);
    const int b = (a + 1 + static_cast<int>(shape() % 28)) % 30;
    int c = (b + 1 + static_cast<int>(shape() % 28)) % 30;
    if (c == a) c = (c + 1) % 30;
    if (c == b) c = (c + 1) % 30;
    surfaces.push_back({a, b, c});
  }
  load(scene_with(30, surfaces));
  use_options({{qel::opt_optimize_vertices, '1'}});
  mo_vertex strangers[3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

  for (const bool with_strangers : {false, true}) {
    for (const Merge merge : {Merge::by_hash, Merge::by_vertex}) {
      SCOPED_TRACE(std::string(merge == Merge::by_vertex ? "by vertex" : "by hash") +
                   (with_strangers ? ", with strangers" : ""));
      std::mt19937 random(777);
      Copies copies;
      const float choices[] = {0.0f, -0.0f, 0.5f, 1.0f, std::numeric_limits<float>::quiet_NaN()};
      std::vector<mo_svertex *> all = copies.in_row_order();
      for (mo_svertex *sv : all) {
        // NaN seldom, so most rows can merge.
        auto pick = [&] { return choices[random() % 100 < 2 ? 4 : random() % 4]; };
        sv->u = pick();
        sv->v = pick() == 1.0f ? 1.0f : 0.0f;
        sv->normal[0] = pick();
        sv->normal[1] = 0.0f;
        sv->normal[2] = random() % 2 ? 0.0f : -0.0f;
        if (with_strangers && random() % 5 == 0) sv->vertex = &strangers[random() % 3];
      }
      VertexTable table;
      ASSERT_EQ(build(table, copies, merge), VertexTableBuild::complete);

      int merged = 0;
      int merged_on_strangers = 0;
      for (std::size_t j = 0; j < all.size(); ++j) {
        int32_t first = -1;
        for (std::size_t i = 0; i < j && first < 0; ++i) {
          const mo_svertex *a = all[i];
          const mo_svertex *b = all[j];
          if (a->vertex == b->vertex && a->u == b->u && a->v == b->v &&
              a->normal[0] == b->normal[0] && a->normal[1] == b->normal[1] &&
              a->normal[2] == b->normal[2]) {
            first = static_cast<int32_t>(i);
          }
        }
        const int32_t got = table.rows[j].merged_into;
        ASSERT_EQ(got, first) << "row " << j;
        if (got >= 0) {
          ++merged;
          if (all[j]->vertex >= strangers && all[j]->vertex < strangers + 3) ++merged_on_strangers;
          EXPECT_EQ(table.rows[got].merged_into, -1);
        }
      }
      EXPECT_GT(merged, 100);
      if (with_strangers) {
        EXPECT_GT(merged_on_strangers, 10);
      }
      EXPECT_EQ(table.remaining_count, table.row_count - merged);
    }
  }
}

// More distinct rows than the merge's hash starts with: it grows while rows
// are merged, and rows entered before the growth are still found after it.
TEST_F(VertexTableTest, MergeStillFindsTheFirstEqualRowAfterItsHashGrows) {
  std::mt19937 random(99);
  std::vector<std::vector<int>> surfaces;
  for (int i = 0; i < 600; ++i) {
    surfaces.push_back({3 * i, 3 * i + 1, 3 * i + 2});
    // Now and then a surface over vertices seen before.
    if (i % 50 == 49) surfaces.push_back({3 * i, 0, 3 * i - 1});
  }
  for (int i = 0; i < 400; ++i) {
    const int a = static_cast<int>(random() % 1800);
    surfaces.push_back({a, (a + 1 + static_cast<int>(random() % 1798)) % 1800, (a + 1799) % 1800});
  }
  load(scene_with(1800, surfaces));
  use_options({{qel::opt_optimize_vertices, '1'}});
  for (const Merge merge : {Merge::by_hash, Merge::by_vertex}) {
    Copies copies;
    copies.zero_fields();
    const std::vector<mo_svertex *> all = copies.in_row_order();
    VertexTable table;
    ASSERT_EQ(build(table, copies, merge), VertexTableBuild::complete);

    int merged = 0;
    for (std::size_t j = 0; j < all.size(); ++j) {
      int32_t first = -1;
      for (std::size_t i = 0; i < j && first < 0; ++i) {
        if (all[i]->vertex == all[j]->vertex) first = static_cast<int32_t>(i);
      }
      ASSERT_EQ(table.rows[j].merged_into, first)
          << "row " << j;
      if (first >= 0) ++merged;
    }
    EXPECT_EQ(table.row_count - table.remaining_count, merged);
    EXPECT_EQ(table.remaining_count, 1800);
  }
}

// ---- cancel polls ---------------------------------------------------------------

TEST_F(VertexTableTest, ListingPollsAfterEveryHundredthRow) {
  load(scene_with(250, {range(0, 250)}));
  use_options({});
  const long updates = molv::update_count();
  Copies copies;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(molv::update_count() - updates, 2);
  EXPECT_EQ(status_lines(), (std::vector<std::string>{kCreateText, kCreateText}));
}

TEST_F(VertexTableTest, MergingPollsAtRowsZeroHundredTwoHundredWithThePercentDone) {
  load(scene_with(250, {range(0, 250)}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  const long updates = molv::update_count();
  Copies copies;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(molv::update_count() - updates, 5);
  EXPECT_EQ(status_lines(), (std::vector<std::string>{kCreateText, kCreateText, optimize_text(0),
                                                      optimize_text(40), optimize_text(80)}));
}

TEST_F(VertexTableTest, MergePollsOfOneAndTheSamePercentRepeatItsText) {
  // 10,100 rows: the polls at rows 0 and 100 both say 0 % (100 * 100 /
  // 10,100 is 0.99), the one at row 200 says 1 %.
  load(scene_with(10100, {range(0, 10100)}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  VertexTable table;
  ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  const std::vector<std::string> lines = status_lines();
  ASSERT_EQ(lines.size(), 101u + 101u);
  EXPECT_EQ(lines[101], optimize_text(0));
  EXPECT_EQ(lines[102], optimize_text(0));
  EXPECT_EQ(lines[103], optimize_text(1));
  EXPECT_EQ(lines[151], optimize_text(49));
  EXPECT_EQ(lines[200], optimize_text(98));
  EXPECT_EQ(lines[201], optimize_text(99));
}

TEST_F(VertexTableTest, CancelWhileListingCutsTheBuildShortAndTheMergeLooksAtRowZeroOnly) {
  load(scene_with(250, {range(0, 250)}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  VertexTable table;
  molv::set_cancel_at_poll(1);
  EXPECT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::cut_short);
  EXPECT_EQ(table.entered_count, 100);
  EXPECT_EQ(table.row_count, 250);
  EXPECT_EQ(status_lines(), (std::vector<std::string>{kCreateText, optimize_text(0)}));
}

TEST_F(VertexTableTest, CancelWhileMergingEndsTheMerge) {
  // Rows 125 + i repeat rows i: all would merge.
  load(scene_with(125, {range(0, 125), range(0, 125)}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  VertexTable table;
  molv::set_cancel_at_poll(4);  // listing polls twice, merging at rows 0 and 100
  EXPECT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(status_lines().size(), 4u);
  // Rows up to 100 were looked at; none of them repeats an earlier row.
  EXPECT_EQ(table.remaining_count, 250);
  molv::set_cancel_at_poll(0);
  molv::tcl_eval("set qel_cancel 0");
  molv::clear_recording();
  VertexTable again;
  ASSERT_EQ(build_table(run(), again, copies.mesh, copies.rows), VertexTableBuild::complete);
  EXPECT_EQ(again.remaining_count, 125);
}

// ---- memory ---------------------------------------------------------------------

TEST_F(VertexTableTest, FailedAllocationsLeaveAnEmptyTableAndNothingLive) {
  load(scene_with(4, {{0, 1, 2}, {2, 1, 3}}));
  use_options({{qel::opt_optimize_vertices, '1'}});
  Copies copies;
  copies.zero_fields();
  const long live = molv::live_allocations();
  for (long fail_after : {0L, 1L}) {  // the rows; the merge's hash
    VertexTable table;
    molv::set_fail_alloc_after(fail_after);
    EXPECT_EQ(build(table, copies, Merge::by_hash), VertexTableBuild::out_of_memory);
    EXPECT_EQ(table.rows, nullptr);
    EXPECT_EQ(table.row_count, 0);
    EXPECT_EQ(molv::live_allocations(), live);
  }
  for (long fail_after : {1L, 2L}) {  // the chains' heads; their links
    VertexTable table;
    molv::set_fail_alloc_after(fail_after);
    EXPECT_EQ(build(table, copies, Merge::by_vertex), VertexTableBuild::out_of_memory);
    EXPECT_EQ(table.rows, nullptr);
    EXPECT_EQ(molv::live_allocations(), live);
  }
  molv::set_fail_alloc_after(-1);
  {
    VertexTable table;
    ASSERT_EQ(build_table(run(), table, copies.mesh, copies.rows), VertexTableBuild::complete);
    EXPECT_EQ(table.rows[5].svertex, copies.at(1, 2));
    EXPECT_GT(molv::live_allocations(), live);
  }
  EXPECT_EQ(molv::live_allocations(), live);
}

// ---- places of host vertices -------------------------------------------------------

using qel_test::RecordList;

TEST(VertexPlaces, AnArrayOfAnyStepGivesEachVertexItsPlaceAndNoOtherAddressOne) {
  // Steps of a power of two, an odd one and one with both parts.
  struct Wide {
    mo_vertex v;
    float pad[6];
  };
  struct Odd {
    mo_vertex v;
    char pad;
  } __attribute__((packed));
  std::vector<mo_vertex> plain(50);
  std::vector<Wide> wide(50);
  std::vector<Odd> odd(50);
  const std::vector<std::pair<unsigned char *, std::size_t>> arrays = {
      {reinterpret_cast<unsigned char *>(plain.data()), sizeof(mo_vertex)},
      {reinterpret_cast<unsigned char *>(wide.data()), sizeof(Wide)},
      {reinterpret_cast<unsigned char *>(odd.data()), sizeof(Odd)}};
  for (const auto &[base, step] : arrays) {
    SCOPED_TRACE(step);
    std::vector<mo_vertex *> records;
    for (int i = 0; i < 50; ++i) records.push_back(reinterpret_cast<mo_vertex *>(base + i * step));
    RecordList list(records);
    qel::VertexPlaces places;
    ASSERT_TRUE(places.measure(list.list, 50));
    EXPECT_EQ(places.count(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(places.of(records[i]), i);
    // Inside a record, before the first, after the last, far away.
    EXPECT_EQ(places.of(reinterpret_cast<mo_vertex *>(base + 1)), -1);
    EXPECT_EQ(places.of(reinterpret_cast<mo_vertex *>(base + 7 * step + step / 2)), -1);
    EXPECT_EQ(places.of(reinterpret_cast<mo_vertex *>(base - step)), -1);
    EXPECT_EQ(places.of(reinterpret_cast<mo_vertex *>(base + 50 * step)), -1);
    EXPECT_EQ(places.of(nullptr), -1);
    mo_vertex elsewhere{};
    EXPECT_EQ(places.of(&elsewhere), -1);
    // Counted short, the later records are no longer places.
    ASSERT_TRUE(places.measure(list.list, 20));
    EXPECT_EQ(places.of(records[19]), 19);
    EXPECT_EQ(places.of(records[20]), -1);
  }
}

TEST(VertexPlaces, ListsNotAtEqualStepsUpwardsAreRefused) {
  std::vector<mo_vertex> array(10);
  std::vector<mo_vertex *> in_order;
  for (auto &v : array) in_order.push_back(&v);
  qel::VertexPlaces places;

  std::vector<mo_vertex *> backwards(in_order.rbegin(), in_order.rend());
  std::vector<mo_vertex *> one_out = in_order;
  std::swap(one_out[4], one_out[5]);
  std::vector<mo_vertex *> gap = in_order;
  gap.erase(gap.begin() + 6);
  std::vector<mo_vertex *> twice(10, in_order[3]);
  std::vector<mo_vertex *> with_null = in_order;
  with_null[0] = nullptr;
  for (const auto *records : {&backwards, &one_out, &gap, &twice, &with_null}) {
    RecordList list(*records);
    EXPECT_FALSE(places.measure(list.list, static_cast<int32_t>(records->size())));
  }
  RecordList list(in_order);
  EXPECT_FALSE(places.measure(list.list, 11)) << "more than the list holds";
  EXPECT_FALSE(places.measure(list.list, 0));
  EXPECT_FALSE(places.measure(nullptr, 3));
  // One vertex alone has its place.
  RecordList single({in_order[2]});
  ASSERT_TRUE(places.measure(single.list, 1));
  EXPECT_EQ(places.of(in_order[2]), 0);
  EXPECT_EQ(places.of(in_order[3]), -1);
}

TEST(VertexPlaces, AModelObjectsVerticesStandAtEqualSteps) {
  qel_test::load_scene(scene_with(40, {{0, 1, 2}}));
  int count = 0;
  mo_list vertices = nullptr;
  mo_object_get_contents(first_object(), &count, nullptr, nullptr, &vertices, nullptr, nullptr);
  qel::VertexPlaces places;
  ASSERT_TRUE(places.measure(vertices, count));
  int i = 0;
  for (mo_list_node *node = vertices; node != nullptr; node = node->next, ++i) {
    EXPECT_EQ(places.of(static_cast<mo_vertex *>(node->item)), i);
  }
}

}  // namespace
