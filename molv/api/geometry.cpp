/*
 * The host's geometry services: the normal calculation, the triangulation
 * of a polygon and the copy of a surface.  Exporters compare their output
 * digit by digit, so each computation follows a fixed order of operations
 * in a fixed precision (see object_calc_normals_force).
 */
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api/lists.h"
#include "api/model.h"
#include "api/pools.h"

namespace molv {
namespace {

struct Vec3 {
  double x, y, z;
};

// The corners of a surface, in list order.
std::vector<mo_svertex *> corners_of(const mo_surface *surface) {
  std::vector<mo_svertex *> corners;
  for (mo_list_node *node = surface->svertices; node != nullptr; node = node->next) {
    corners.push_back(static_cast<mo_svertex *>(node->item));
  }
  return corners;
}

Vec3 position(const mo_svertex *corner) {
  if (corner == nullptr || corner->vertex == nullptr) return {0.0, 0.0, 0.0};
  return {static_cast<double>(corner->vertex->x), static_cast<double>(corner->vertex->y),
          static_cast<double>(corner->vertex->z)};
}

// Newell's normal of a closed polygon, summed in double over the float
// positions in list order, not normalised.
Vec3 newell_sum(const std::vector<mo_svertex *> &corners) {
  Vec3 n{0.0, 0.0, 0.0};
  const size_t count = corners.size();
  for (size_t i = 0; i < count; ++i) {
    const Vec3 a = position(corners[i]);
    const Vec3 b = position(corners[(i + 1) % count]);
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

// The same sum, read straight from the surface's vertex list (no copy of
// the corners: the normal calculation visits every surface of an object),
// with the number of corners.  The terms are added in the same order:
// (0,1), (1,2), ..., (n-1,0).
Vec3 newell_sum(const mo_surface *surface, size_t *count) {
  Vec3 n{0.0, 0.0, 0.0};
  size_t corners = 0;
  Vec3 first{0.0, 0.0, 0.0};
  Vec3 previous{0.0, 0.0, 0.0};
  auto add = [&n](const Vec3 &a, const Vec3 &b) {
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  };
  for (mo_list_node *node = surface->svertices; node != nullptr; node = node->next, ++corners) {
    const Vec3 p = position(static_cast<const mo_svertex *>(node->item));
    if (corners == 0) {
      first = p;
    } else {
      add(previous, p);
    }
    previous = p;
  }
  if (corners > 0) add(previous, first);
  *count = corners;
  return n;
}

// Divides by the length in double and stores as float; zero stays zero.
void store_normalised(const Vec3 &n, float out[3]) {
  const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  if (length == 0.0) {
    out[0] = out[1] = out[2] = 0.0f;
    return;
  }
  out[0] = static_cast<float>(n.x / length);
  out[1] = static_cast<float>(n.y / length);
  out[2] = static_cast<float>(n.z / length);
}

bool takes_part_in_normals(const Surface *surface, size_t corner_count) {
  return surface->type == MO_SURF_POLYGON && corner_count >= 3;
}

void copy_float3(const float from[3], float to[3]) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

// The fields of `source` into `copy` (zeroed).
void copy_fields(const mo_svertex *source, mo_svertex *copy) {
  if (source == nullptr) return;
  copy->vertex = source->vertex;
  copy->u = source->u;
  copy->v = source->v;
  copy_float3(source->normal, copy->normal);
}

// A new surface-vertex record with the fields of `source`.
mo_svertex *copy_corner(const mo_svertex *source) {
  SVertex *copy = svertex_take();
  copy_fields(source, &copy->rec);
  return &copy->rec;
}

void copy_attributes(const Surface *source, Surface *surface) {
  surface->type = source->type;
  surface->shading = source->shading;
  surface->twosided = source->twosided;
  surface->rec.material = source->rec.material;
  copy_float3(source->rec.normal, surface->rec.normal);
}

void set_vertex_count(Surface *surface, size_t count) {
  surface->rec.vertex_count = static_cast<uint16_t>(count > 0xFFFF ? 0xFFFF : count);
}

// A new surface with the attributes of `source` and copies of the corners
// that corner(i) gives, i below count.  A small copy is one block (see
// surface_block_take): a mesh writer may copy every surface of a mesh,
// and the copies are then most of what its export holds.
template <class Corner>
Surface *new_surface_like(const Surface *source, size_t count, Corner corner) {
  Surface *surface;
  if (count >= 1 && count <= kBlockCorners) {
    surface = surface_block_take(count);
    size_t i = 0;
    for (mo_list_node *node = surface->rec.svertices; node != nullptr; node = node->next, ++i) {
      copy_fields(corner(i), static_cast<mo_svertex *>(node->item));
    }
  } else {
    surface = surface_take();
    ListBuilder list;
    for (size_t i = 0; i < count; ++i) list.add(copy_corner(corner(i)));
    surface->rec.svertices = list.finish();
  }
  copy_attributes(source, surface);
  set_vertex_count(surface, count);
  return surface;
}

// ---- triangulation ---------------------------------------------------------

struct Point {
  double a, b;
};

// Twice the signed area of the triangle p, q, r.
double turn(const Point &p, const Point &q, const Point &r) {
  return (q.a - p.a) * (r.b - p.b) - (q.b - p.b) * (r.a - p.a);
}

bool same_point(const Point &p, const Point &q) { return p.a == q.a && p.b == q.b; }

// The corners that may block an ear, filed in a uniform grid over the
// projected polygon, so that an ear test looks only at the cells its
// triangle's bounding box touches instead of at every reflex corner.
// Entries go stale when a corner is clipped or turns left; the caller
// skips those.  A corner may be filed twice; testing it twice is harmless.
class BlockerGrid {
 public:
  explicit BlockerGrid(const std::vector<Point> &points) {
    double low_a = 0.0, high_a = 0.0, low_b = 0.0, high_b = 0.0;
    bool first = true;
    for (const Point &p : points) {
      if (!std::isfinite(p.a) || !std::isfinite(p.b)) continue;
      if (first || p.a < low_a) low_a = p.a;
      if (first || p.a > high_a) high_a = p.a;
      if (first || p.b < low_b) low_b = p.b;
      if (first || p.b > high_b) high_b = p.b;
      first = false;
    }
    // About one cell per corner.
    size_t side = 1;
    while (side * side < points.size() && side < 1024) ++side;
    a_ = Axis{low_a, scale(low_a, high_a, side), side};
    b_ = Axis{low_b, scale(low_b, high_b, side), side};
    cells_.resize(side * side);
  }

  void add(size_t corner, const Point &p) {
    cells_[a_.cell(p.a) * b_.count + b_.cell(p.b)].push_back(corner);
  }

  // Calls visit(corner) for the corners filed in the cells that the
  // bounding box of p, q and r touches, until visit returns true.
  template <class Visit>
  bool any_in_box(const Point &p, const Point &q, const Point &r, Visit visit) const {
    const size_t a0 = a_.cell(std::min({p.a, q.a, r.a})), a1 = a_.cell(std::max({p.a, q.a, r.a}));
    const size_t b0 = b_.cell(std::min({p.b, q.b, r.b})), b1 = b_.cell(std::max({p.b, q.b, r.b}));
    for (size_t i = a0; i <= a1; ++i) {
      for (size_t j = b0; j <= b1; ++j) {
        for (size_t corner : cells_[i * b_.count + j]) {
          if (visit(corner)) return true;
        }
      }
    }
    return false;
  }

 private:
  struct Axis {
    double low = 0.0;
    double scale = 0.0;  // cells per unit; 0 puts everything in cell 0
    size_t count = 1;
    // Monotonic in v, so a box's cells hold every corner inside the box.
    size_t cell(double v) const {
      const double c = (v - low) * scale;
      if (!(c > 0.0)) return 0;  // also NaN
      if (c >= static_cast<double>(count)) return count - 1;
      return static_cast<size_t>(c);
    }
  };

  static double scale(double low, double high, size_t count) {
    const double extent = high - low;
    if (!(extent > 0.0) || !std::isfinite(extent)) return 0.0;
    return static_cast<double>(count) / extent;
  }

  Axis a_, b_;
  std::vector<std::vector<size_t>> cells_;
};

// The triangles of a polygon as corner positions, three per triangle.
//
// 1. Project the polygon onto the coordinate plane that its Newell normal
//    is most nearly perpendicular to.  The two remaining axes are taken in
//    cyclic order (y,z / z,x / x,y), so the projected polygon turns
//    counter-clockwise exactly when the dropped component is positive;
//    `orientation` folds that sign into every turn test.
// 2. A polygon without a right turn whose fan from corner 0 has only
//    triangles that face the polygon's way is convex: that fan.  A
//    triangle faces the polygon's way when its own normal, in space, has
//    a positive part along the Newell normal: three corners in a line, or
//    a sliver of a polygon that is not quite flat, face no way or the
//    wrong one, also where the projection shows them turning left.
// 3. Otherwise clip ears: each time the lowest remaining position k >= 1
//    whose corner turns left (in the projection, and with a triangle
//    (previous, k, next) that faces the polygon's way) and whose triangle
//    holds no other remaining corner that does not turn left.  Corners
//    at the position of a triangle corner (a vertex listed twice) do not
//    block it.  A corner that does not turn left also blocks an ear when
//    it lies just beside the cut from next to previous, on the side of
//    the rest, so that the rest would keep a sliver facing against a
//    polygon that is not quite flat (in a flat polygon this adds nothing).
// 4. When no corner is an ear (a degenerate polygon), the remaining corner
//    k >= 1 whose triangle faces the polygon's way the most is clipped,
//    blocked or not, and clipping goes on; when no triangle faces its way
//    at all, the rest is cut as a fan.
// Step 1: the projected corners, the orientation of the projection and
// the Newell normal (*NEWELL).  False when the polygon has no area in any
// plane (the fan it gets then needs neither).
bool project(const std::vector<mo_svertex *> &corners, std::vector<Point> *points,
             double *orientation, Vec3 *newell) {
  const Vec3 normal = newell_sum(corners);
  *newell = normal;
  const double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
  int dropped = 2;
  if (!(az >= ax && az >= ay)) dropped = ax >= ay ? 0 : 1;
  const double dropped_value = dropped == 0 ? normal.x : dropped == 1 ? normal.y : normal.z;
  if (dropped_value == 0.0) return false;
  *orientation = dropped_value > 0.0 ? 1.0 : -1.0;
  points->resize(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) {
    const Vec3 p = position(corners[i]);
    if (dropped == 0) (*points)[i] = {p.y, p.z};
    if (dropped == 1) (*points)[i] = {p.z, p.x};
    if (dropped == 2) (*points)[i] = {p.x, p.y};
  }
  return true;
}

// Steps 2 to 4 on the projected polygon: the ring of remaining corners,
// which of them turn left, and the corners that may block an ear.
class EarClipper {
 public:
  EarClipper(std::vector<Point> points, double orientation, std::vector<Vec3> at, Vec3 normal)
      : points_(std::move(points)),
        at_(std::move(at)),
        normal_(normal),
        orientation_(orientation),
        n_(points_.size()),
        prev_(n_),
        next_(n_),
        convex_(n_),
        removed_(n_, 0) {
    for (size_t i = 0; i < n_; ++i) {
      prev_[i] = (i + n_ - 1) % n_;
      next_[i] = (i + 1) % n_;
    }
  }

  // Step 2: whether the polygon is not convex: some corner turns right,
  // or a triangle of the fan from corner 0 does not face its way.
  bool needs_ears() {
    bool is_convex = true;
    for (size_t i = 0; i < n_; ++i) {
      const double t = orientation_ * turn(points_[prev_[i]], points_[i], points_[next_[i]]);
      convex_[i] = t > 0.0 && facing(prev_[i], i, next_[i]) > 0.0;
      if (t < 0.0) is_convex = false;
    }
    for (size_t i = 1; is_convex && i + 1 < n_; ++i) is_convex = facing(0, i, i + 1) > 0.0;
    return !is_convex;
  }

  // Steps 3 and 4: appends the triangles to *triangles.
  void clip(std::vector<size_t> *triangles) {
    BlockerGrid blockers(points_);  // corners that are not left turns
    blockers_ = &blockers;
    for (size_t i = 0; i < n_; ++i) {
      if (!convex_[i]) blockers.add(i, points_[i]);
    }
    size_t remaining = n_;
    // The remaining corners form a ring in ascending position order from
    // corner 0 (never clipped), so walking it from `start` up to corner 0
    // visits positions in ascending order.
    size_t start = next_[0];
    while (remaining > 3) {
      size_t ear = n_;
      for (size_t k = start; k != 0; k = next_[k]) {
        if (is_ear(k)) {
          ear = k;
          break;
        }
      }
      if (ear == n_) ear = best_facing();
      if (ear == n_) break;
      const size_t p = prev_[ear], q = next_[ear];
      triangles->insert(triangles->end(), {p, ear, q});
      removed_[ear] = 1;
      next_[p] = q;
      prev_[q] = p;
      --remaining;
      const bool freed_p = recheck(p);
      const bool freed_q = recheck(q);
      // Lower positions than p were no ears and stay so, unless a corner
      // that might have blocked them turned left.
      start = (freed_p || freed_q || p == 0) ? next_[0] : p;
    }
    blockers_ = nullptr;
  }

  // The remaining corners in ring order from corner 0: the last three, or
  // a polygon without ears (step 4).
  std::vector<size_t> ring() const {
    std::vector<size_t> corners;
    size_t i = 0;
    do {
      corners.push_back(i);
      i = next_[i];
    } while (i != 0);
    return corners;
  }

 private:
  // How much triangle p, k, q faces the polygon's way: its normal in
  // space (not normalised) along the Newell normal.
  double facing(size_t p, size_t k, size_t q) const {
    const Vec3 &a = at_[p], &b = at_[k], &c = at_[q];
    const Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
    return (u.y * v.z - u.z * v.y) * normal_.x + (u.z * v.x - u.x * v.z) * normal_.y +
           (u.x * v.y - u.y * v.x) * normal_.z;
  }

  bool left_turn(size_t i) const {
    return orientation_ * turn(points_[prev_[i]], points_[i], points_[next_[i]]) > 0.0 &&
           facing(prev_[i], i, next_[i]) > 0.0;
  }

  // Step 4: the remaining position k >= 1 whose triangle faces the
  // polygon's way the most (the lowest of equals), or n_ when none does.
  size_t best_facing() const {
    size_t best = n_;
    double most = 0.0;
    for (size_t k = next_[0]; k != 0; k = next_[k]) {
      const double f = facing(prev_[k], k, next_[k]);
      if (f > most) {
        most = f;
        best = k;
      }
    }
    return best;
  }

  bool is_ear(size_t k) const {
    if (!convex_[k]) return false;
    const size_t p = prev_[k], q = next_[k];
    const Point &P = points_[p], &K = points_[k], &Q = points_[q];
    return !blockers_->any_in_box(P, K, Q, [&](size_t r) {
      if (removed_[r] || convex_[r] || r == p || r == k || r == q) return false;
      const Point &R = points_[r];
      if (same_point(R, P) || same_point(R, K) || same_point(R, Q)) return false;
      // Also just beside the cut from Q to P, where the rest would keep a
      // sliver facing against the polygon.
      return orientation_ * turn(P, K, R) >= 0.0 && orientation_ * turn(K, Q, R) >= 0.0 &&
             (orientation_ * turn(Q, P, R) >= 0.0 || facing(q, p, r) >= 0.0);
    });
  }

  // Whether corner i stopped blocking (became a left turn).
  bool recheck(size_t i) {
    const bool was_convex = convex_[i];
    convex_[i] = left_turn(i);
    if (!convex_[i] && was_convex) blockers_->add(i, points_[i]);
    return convex_[i] && !was_convex;
  }

  std::vector<Point> points_;
  std::vector<Vec3> at_;  // the corners in space
  Vec3 normal_;           // the polygon's Newell normal
  double orientation_;
  size_t n_;
  std::vector<size_t> prev_, next_;
  std::vector<char> convex_;
  std::vector<char> removed_;
  BlockerGrid *blockers_ = nullptr;
};

std::vector<size_t> triangulate(const std::vector<mo_svertex *> &corners) {
  const size_t n = corners.size();
  std::vector<size_t> triangles;
  triangles.reserve(3 * (n - 2));
  auto fan = [&triangles](const std::vector<size_t> &ring) {
    for (size_t i = 1; i + 1 < ring.size(); ++i) {
      triangles.insert(triangles.end(), {ring[0], ring[i], ring[i + 1]});
    }
  };
  std::vector<size_t> all(n);
  for (size_t i = 0; i < n; ++i) all[i] = i;
  std::vector<Point> points;
  double orientation = 1.0;
  Vec3 normal{0.0, 0.0, 0.0};
  if (!project(corners, &points, &orientation, &normal)) {
    fan(all);
    return triangles;
  }
  std::vector<Vec3> at(n);
  for (size_t i = 0; i < n; ++i) at[i] = position(corners[i]);
  EarClipper clipper(std::move(points), orientation, std::move(at), normal);
  if (!clipper.needs_ears()) {
    fan(all);
    return triangles;
  }
  clipper.clip(&triangles);
  fan(clipper.ring());
  return triangles;
}

// The sum of the float normals of the polygons around each host vertex of
// one object, each polygon counted once.  A vertex of the object finds its
// slot through its own record (no hash lookup).  Vertices that are not the
// object's own cannot come from a scene, but a record is a record: they
// get slots of their own.
class VertexNormalSums {
 public:
  static constexpr size_t kNoSlot = SIZE_MAX;

  explicit VertexNormalSums(const mo_object *object)
      : object_(object),
        sums_(object->vertex_store.size(), Vec3{0.0, 0.0, 0.0}),
        last_added_(object->vertex_store.size(), -1) {}

  size_t find_slot(const mo_vertex *vertex) const {
    const Vertex *v = as_vertex(const_cast<mo_vertex *>(vertex));
    if (vertex != nullptr && v->index >= 0 &&
        static_cast<size_t>(v->index) < object_->vertex_store.size() &&
        &object_->vertex_store[static_cast<size_t>(v->index)].pos == vertex) {
      return static_cast<size_t>(v->index);
    }
    auto found = foreign_.find(vertex);
    return found != foreign_.end() ? found->second : kNoSlot;
  }

  // Adds the normal of surface SURFACE_NUMBER to VERTEX, unless that
  // surface added to it already.
  void add(const mo_vertex *vertex, long surface_number, const float normal[3]) {
    const size_t slot = slot_of(vertex);
    if (last_added_[slot] == surface_number) return;
    last_added_[slot] = surface_number;
    sums_[slot].x += static_cast<double>(normal[0]);
    sums_[slot].y += static_cast<double>(normal[1]);
    sums_[slot].z += static_cast<double>(normal[2]);
  }

  // Each vertex's normalised sum, three floats per slot, once per vertex
  // rather than once per corner around it (the same division, so the same
  // floats).  The sums go.
  std::vector<float> normalise() {
    std::vector<float> unit(3 * sums_.size());
    for (size_t slot = 0; slot < sums_.size(); ++slot) {
      store_normalised(sums_[slot], &unit[3 * slot]);
    }
    std::vector<Vec3>().swap(sums_);
    std::vector<long>().swap(last_added_);
    return unit;
  }

 private:
  size_t slot_of(const mo_vertex *vertex) {
    const size_t slot = find_slot(vertex);
    if (slot != kNoSlot) return slot;
    const size_t added = sums_.size();
    foreign_.emplace(vertex, added);
    sums_.push_back(Vec3{0.0, 0.0, 0.0});
    last_added_.push_back(-1);
    return added;
  }

  const mo_object *object_;
  std::vector<Vec3> sums_;
  std::vector<long> last_added_;
  std::unordered_map<const mo_vertex *, size_t> foreign_;
};

// Surface normals, and their sums around each vertex.  The surfaces are
// read straight from their lists, as nothing is copied.
void set_surface_normals(mo_object *object, VertexNormalSums *sums) {
  long surface_number = 0;
  for (mo_list_node *node = object->surfaces; node != nullptr;
       node = node->next, ++surface_number) {
    Surface *surface = as_surface(static_cast<mo_surface *>(node->item));
    if (surface == nullptr) continue;
    size_t corner_count = 0;
    const Vec3 newell = newell_sum(&surface->rec, &corner_count);
    if (!takes_part_in_normals(surface, corner_count)) {
      surface->rec.normal[0] = surface->rec.normal[1] = surface->rec.normal[2] = 0.0f;
      continue;
    }
    store_normalised(newell, surface->rec.normal);
    for (mo_list_node *c = surface->rec.svertices; c != nullptr; c = c->next) {
      const mo_svertex *corner = static_cast<const mo_svertex *>(c->item);
      if (corner != nullptr) sums->add(corner->vertex, surface_number, surface->rec.normal);
    }
  }
}

// The model's own normal of a corner of OBJECT, or null where it has none
// (an object not imported from a model with normals, a zero normal, a
// corner that is not one of the object's records).
const float *model_normal(const mo_object *object, const mo_svertex *corner) {
  if (object->model_normals.empty()) return nullptr;
  const auto at = reinterpret_cast<uintptr_t>(corner);
  const auto first = reinterpret_cast<uintptr_t>(object->svertex_store.data());
  if (at < first || (at - first) % sizeof(SVertex) != 0) return nullptr;
  const size_t index = (at - first) / sizeof(SVertex);
  if (index >= object->svertex_store.size()) return nullptr;
  const float *normal = &object->model_normals[3 * index];
  if (normal[0] == 0.0f && normal[1] == 0.0f && normal[2] == 0.0f) return nullptr;
  return normal;
}

// Surface-vertex normals: the surface's own for flat surfaces; for smooth
// ones the model's own normal of the corner where it has one, else the
// normalised sum around the vertex (UNIT, by slot; zero for a vertex no
// polygon uses).
void set_corner_normals(mo_object *object, const VertexNormalSums &sums,
                        const std::vector<float> &unit) {
  static const float kZero[3] = {0.0f, 0.0f, 0.0f};
  for (mo_list_node *node = object->surfaces; node != nullptr; node = node->next) {
    Surface *surface = as_surface(static_cast<mo_surface *>(node->item));
    if (surface == nullptr) continue;
    for (mo_list_node *c = surface->rec.svertices; c != nullptr; c = c->next) {
      mo_svertex *corner = static_cast<mo_svertex *>(c->item);
      if (corner == nullptr) continue;
      if (surface->shading == 0) {
        copy_float3(surface->rec.normal, corner->normal);
      } else if (const float *own = model_normal(object, corner)) {
        copy_float3(own, corner->normal);
      } else {
        const size_t slot = sums.find_slot(corner->vertex);
        copy_float3(slot != VertexNormalSums::kNoSlot ? &unit[3 * slot] : kZero, corner->normal);
      }
    }
  }
}

}  // namespace
}  // namespace molv

extern "C" {

void object_calc_normals_force(mo_object *object) {
  if (object == nullptr) return;
  molv::VertexNormalSums sums(object);
  molv::set_surface_normals(object, &sums);
  const std::vector<float> unit = sums.normalise();
  molv::set_corner_normals(object, sums, unit);
}

mo_list surface_get_triangulations(mo_surface *surface) {
  if (surface == nullptr) return nullptr;
  const std::vector<mo_svertex *> corners = molv::corners_of(surface);
  if (corners.size() < 3) return nullptr;
  const std::vector<size_t> triangles = molv::triangulate(corners);
  mo_list result = nullptr;
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const mo_svertex *three[3] = {corners[triangles[t]], corners[triangles[t + 1]],
                                  corners[triangles[t + 2]]};
    molv::Surface *piece = molv::new_surface_like(molv::as_surface(surface), 3,
                                                  [&three](size_t i) { return three[i]; });
    list_add_item(&result, &piece->rec);
  }
  return result;
}

mo_surface *surface_clone(mo_surface *surface, mo_object *object) {
  (void)object;  // the copy belongs to no object until the caller says so
  if (surface == nullptr) return nullptr;
  // Straight from the source's list: a mesh writer may clone every surface.
  // The corners are counted first (a few steps), so that a small copy is
  // one block; then each copy takes the next corner of the list in turn.
  size_t count = 0;
  for (mo_list_node *node = surface->svertices; node != nullptr; node = node->next) ++count;
  mo_list_node *next = surface->svertices;
  molv::Surface *copy = molv::new_surface_like(molv::as_surface(surface), count, [&next](size_t) {
    const auto *corner = static_cast<const mo_svertex *>(next->item);
    next = next->next;
    return corner;
  });
  return &copy->rec;
}

}  // extern "C"
