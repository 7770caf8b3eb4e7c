/*
 * The comparison of the check of an export.  Corner positions become
 * numbers that compare exactly: a point of the file is the model's
 * nearest within what the written digits may move it, summed over the
 * frames.  A face is its corners' numbers from the least one on, so the
 * file's faces are found among the model's by a hash of that sequence;
 * what is left is sorted out by the options: the back copies of two-sided
 * faces, the triangles of a polygon, and what nothing explains.
 */
#include "common/verify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>

#include "common/plugin_options.h"
#include "common/verify_model.h"
#include "core/options.h"

namespace molv {
namespace {

using Point = std::array<float, 3>;

// The points of both sides as ids: the model's first, each file point the
// id of the model's nearest within TOLERANCE, or one of its own.  A point
// looks in the cells of four times the tolerance that a ball of its reach
// touches, one to eight of them.  The corners of one vertex are looked up
// once (Compare::ids).
class PointIds {
 public:
  explicit PointIds(double tolerance) : tolerance_(tolerance), cell_(4 * tolerance) {}

  // Points of the model that six significant digits (CUT: the decimal
  // places) write alike are one.
  int model_point(const Point &p, double cut) {
    const double largest = std::max({std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2])});
    return find_or_add(p, std::min(tolerance_, 5e-6 * largest + 5e-7 + cut));
  }
  int file_point(const Point &p) { return find_or_add(p, tolerance_); }

 private:
  using Key = std::array<long long, 3>;
  struct Hash {
    std::size_t operator()(const Key &c) const {
      const std::uint64_t h = static_cast<std::uint64_t>(c[0]) * 0x9e3779b97f4a7c15ull ^
                              static_cast<std::uint64_t>(c[1]) * 0xc2b2ae3d27d4eb4full ^
                              static_cast<std::uint64_t>(c[2]) * 0x165667b19e3779f9ull;
      return static_cast<std::size_t>(h ^ (h >> 29));
    }
  };
  int find_or_add(const Point &p, double within) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return -1;
    Key at, low, high;
    for (int i = 0; i < 3; ++i) {
      const double x = std::clamp(double(p[i]) / cell_, -1e15, 1e15);
      at[i] = static_cast<long long>(std::floor(x));
      low[i] = (x - double(at[i])) * cell_ < within ? -1 : 0;
      high[i] = (double(at[i]) + 1 - x) * cell_ < within ? 1 : 0;
    }
    int best = -1;
    double best_distance = within * within;
    for (long long dx = low[0]; dx <= high[0]; ++dx)
      for (long long dy = low[1]; dy <= high[1]; ++dy)
        for (long long dz = low[2]; dz <= high[2]; ++dz) {
          const auto found = cells_.find({at[0] + dx, at[1] + dy, at[2] + dz});
          if (found == cells_.end()) continue;
          for (int id = found->second; id >= 0; id = next_[static_cast<std::size_t>(id)]) {
            const Point &q = points_[static_cast<std::size_t>(id)];
            double distance = 0;
            for (int i = 0; i < 3; ++i) distance += (double(p[i]) - q[i]) * (double(p[i]) - q[i]);
            if (distance <= best_distance) best = id, best_distance = distance;
          }
        }
    if (best < 0) {
      best = static_cast<int>(points_.size());
      points_.push_back(p);
      int &head = cells_.try_emplace(at, -1).first->second;
      next_.push_back(head);
      head = best;
    }
    return best;
  }

  double tolerance_, cell_;
  std::vector<Point> points_;
  std::vector<int> next_;  // the next point of the same cell, or -1
  std::unordered_map<Key, int, Hash> cells_;
};

// A face's corners by id, from its least id on; REVERSED reads them
// backwards.  *START: the corner it starts at.
void face_key(const std::vector<int> &ids, std::uint32_t first, std::uint32_t n, bool reversed,
              std::vector<int> *out, std::uint32_t *start) {
  std::vector<int> &key = *out;
  key.resize(n);
  for (std::uint32_t k = 0; k < n; ++k) key[k] = ids[first + (reversed ? (n - k) % n : k)];
  // The least rotation, also where an id comes twice (corners that the
  // written digits cannot tell apart).
  std::uint32_t offset = 0;
  for (std::uint32_t r = 1; r < n; ++r)
    for (std::uint32_t k = 0; k < n; ++k) {
      const int a = key[(r + k) % n], b = key[(offset + k) % n];
      if (a == b) continue;
      if (a < b) offset = r;
      break;
    }
  std::rotate(key.begin(), key.begin() + offset, key.end());
  *start = reversed ? (n - offset) % n : offset;
}

std::uint64_t key_hash(const std::vector<int> &key) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull;
  for (const int id : key) h = (h ^ static_cast<std::uint32_t>(id)) * 0xff51afd7ed558ccdull;
  return h ^ (h >> 31);
}

// Twice the area vector of a polygon (Newell's method), in doubles.
std::array<double, 3> area_vector(const std::vector<Point> &p, std::uint32_t first, std::uint32_t n,
                                  const std::uint32_t *order = nullptr) {
  std::array<double, 3> a{0, 0, 0};
  for (std::uint32_t k = 0; k < n; ++k) {
    const Point &u = p[first + (order ? order[k] : k)];
    const Point &v = p[first + (order ? order[(k + 1) % n] : (k + 1) % n)];
    a[0] += (double(u[1]) - v[1]) * (double(u[2]) + v[2]);
    a[1] += (double(u[2]) - v[2]) * (double(u[0]) + v[0]);
    a[2] += (double(u[0]) - v[0]) * (double(u[1]) + v[1]);
  }
  return a;
}

double dot(const std::array<double, 3> &a, const std::array<double, 3> &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Objects a difference touches, by name: "Floor", "Floor, Wall and 3 more".
class Names {
 public:
  void add(std::uint32_t object) {
    if (std::find(objects_.begin(), objects_.end(), object) == objects_.end())
      objects_.push_back(object);
  }
  std::string text(const std::vector<std::string> &names) const {
    std::string out;
    for (std::size_t i = 0; i < objects_.size() && i < 3; ++i) {
      const std::string &name = names[objects_[i]];
      out += (i ? ", " : "") + (name.empty() ? std::string("an unnamed object") : name);
    }
    if (objects_.size() > 3) out += " and " + std::to_string(objects_.size() - 3) + " more";
    return out;
  }

 private:
  std::vector<std::uint32_t> objects_;
};

// "1 face", "3 faces".
std::string count(long n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

template <typename... Args>
std::string text(const char *format, Args... args) {
  char line[300];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

// What the options make of a face, and how near the written digits keep
// a number.
struct Rules {
  explicit Rules(const std::string &options) {
    const auto set = [&options](qel::OptionIndex i) { return option_is_set(options, i); };
    z_sign = set(qel::opt_z_axis) ? 1.0f : -1.0f;
    reversed = !set(qel::opt_winding);
    normal_sign =
        (set(qel::opt_flip_normals) ? -1.0f : 1.0f) * (set(qel::opt_winding) ? -1.0f : 1.0f);
    two_sided = set(qel::opt_two_sided);
    normals = set(qel::opt_normals);
    materials = set(qel::opt_materials);
    flip = set(qel::opt_flip_normals);
    corner_order = set(qel::opt_winding);
    optimize = set(qel::opt_optimize_vertices);
    const char d = options.size() > 49 ? options[49] : qel::kDefaultOptions[49];
    decimals = d - '0';
    cut = decimals > 0 ? 0.5 * std::pow(10.0, -decimals) : 0.0;
  }
  float z_sign, normal_sign;
  bool reversed, two_sided, normals, materials, flip, corner_order, optimize;
  int decimals;
  double cut;  // what the decimal places may cut off a number below 1
};

// One face of the model as the file should hold it: the face, or its back
// copy (corners reversed, normals turned).
struct Want {
  std::uint32_t face;
  bool back;
  bool taken = false;
  signed char crosses = -1;             // whether its outline crosses itself, once asked
  std::uint32_t start = 0;              // the corner its key starts at
  std::uint32_t key = 0;                // into the flat keys
  std::array<double, 3> area{0, 0, 0};  // of the triangles found for it
};

class Compare {
 public:
  Compare(const XScene &file, const std::string &options, Verification *out)
      : file_(file), rules_(options), out_(*out), model_(model_faces(options)) {}

  void run(const XReadProgress &progress);

 private:
  void ids();
  void wants();
  void match_whole(bool reversed);
  void match_pieces();
  bool corners_of(const Want &w, const int *id, std::uint32_t at[3]) const;
  std::array<double, 3> facing(const Want &w) const;
  std::array<double, 3> triangle_at(const std::uint32_t at[3]) const;
  bool crosses_itself(const Want &w) const;
  bool look_agrees(std::uint32_t f, const Want &w) const;
  bool normals_agree(std::uint32_t first, const std::uint32_t at[3], const Want &w) const;
  double outline(const Want &w) const;
  bool has_room(const Want &w, const std::array<double, 3> &more) const;
  void match_near();
  void check_pair(std::uint32_t f, std::uint32_t f_start, const Want &w);
  void check_corner(std::uint32_t fc, std::uint32_t mc, const Want &w, std::uint32_t f);
  void check_convex(const Want &w);
  void check_look(std::uint32_t f, const Want &w);
  void finish();
  void finish_real(long lost, const Names &lost_in, long extra);
  void add(const char *kind, bool expected, long count, const std::string &line) {
    if (count > 0) out_.differences.push_back({kind, expected, count, line});
  }

  std::uint32_t model_corner(const Want &w, std::uint32_t j) const {
    const ModelFaces::Face &m = model_.faces[w.face];
    return m.first +
           (w.back ? (w.start + m.corners - j % m.corners) % m.corners : (w.start + j) % m.corners);
  }

  const XScene &file_;
  Rules rules_;
  Verification &out_;
  ModelFaces model_;
  // The file's corners, in the modeller's space and corner order.
  const std::vector<Point> &position_ = file_.position, &normal_ = file_.normal;
  const std::vector<std::array<float, 2>> &uv_ = file_.uv;
  std::vector<int> model_ids_, file_ids_, keys_;
  std::vector<Want> wants_;
  std::unordered_multimap<std::uint64_t, std::uint32_t> by_key_;
  std::vector<char> file_done_;
  long non_finite_ = 0, pieces_ = 0, polygons_cut_ = 0, collapsed_ = 0, near_ = 0;
  // Triangles facing against a polygon whose outline crosses itself.
  long crossed_ = 0;
  Names crossed_in_;
  // Real differences, counted, with the objects they touch.
  long reversed_ = 0, against_ = 0, uncovered_ = 0, concave_ = 0, normals_off_ = 0,
       normals_none_ = 0, uv_off_ = 0, uv_none_ = 0, looks_off_ = 0, normal_corners_ = 0;
  double worst_angle_ = 0, worst_move_ = 0, worst_uv_ = 0;
  Names reversed_in_, against_in_, uncovered_in_, concave_in_, normals_in_, uv_in_, looks_in_;
  double tolerance_ = 0;
};

// The points' ids, within what six significant digits and the decimal
// places may move a number, summed over a few frames.
void Compare::ids() {
  double largest = 0;
  for (const Point &p : model_.position)
    for (const float v : p)
      if (std::isfinite(v)) largest = std::max(largest, double(std::fabs(v)));
  tolerance_ = 2e-5 * largest + 1e-6 + 4 * rules_.cut;
  PointIds points(tolerance_);
  // Each vertex once: its corners share it.
  std::vector<int> of_vertex(model_.vertex_count, -2);
  model_ids_.reserve(model_.position.size());
  for (std::size_t c = 0; c < model_.position.size(); ++c) {
    const std::uint32_t v = model_.vertex[c];
    int *known = v != ModelFaces::kNoVertex ? &of_vertex[v] : nullptr;
    if (known == nullptr || *known == -2) {
      const int id = points.model_point(model_.position[c], rules_.cut);
      if (known != nullptr) *known = id;
      model_ids_.push_back(id);
    } else {
      model_ids_.push_back(*known);
    }
  }
  of_vertex.assign(file_.vertex_count, -2);
  file_ids_.reserve(position_.size());
  for (std::size_t c = 0; c < position_.size(); ++c) {
    int &known = of_vertex[file_.vertex[c]];
    if (known == -2) known = points.file_point(position_[c]);
    file_ids_.push_back(known);
  }
}

void Compare::wants() {
  std::vector<int> key;
  by_key_.reserve(model_.faces.size());
  for (std::uint32_t f = 0; f < model_.faces.size(); ++f) {
    const ModelFaces::Face &m = model_.faces[f];
    bool finite = true;
    for (std::uint32_t k = 0; k < m.corners; ++k) finite = finite && model_ids_[m.first + k] >= 0;
    if (!finite) {
      ++non_finite_;
      continue;
    }
    for (const bool back : {false, true}) {
      if (back && !(rules_.two_sided && m.two_sided)) continue;
      Want w{f, back};
      face_key(model_ids_, m.first, m.corners, back, &key, &w.start);
      w.key = static_cast<std::uint32_t>(keys_.size());
      keys_.insert(keys_.end(), key.begin(), key.end());
      by_key_.emplace(key_hash(key), static_cast<std::uint32_t>(wants_.size()));
      wants_.push_back(w);
    }
  }
  out_.model_faces = static_cast<long>(wants_.size());
}

// The file's faces found whole among the model's (REVERSED: read the
// other way round, a face that turned).
void Compare::match_whole(bool reversed) {
  std::vector<int> key;
  for (std::uint32_t f = 0; f < file_.faces.size(); ++f) {
    const XScene::Face &x = file_.faces[f];
    if (file_done_[f] || x.corners < 3) continue;  // no face a reader draws
    std::uint32_t start = 0;
    face_key(file_ids_, x.first, x.corners, reversed, &key, &start);
    if (std::find(key.begin(), key.end(), -1) != key.end()) continue;
    const auto range = by_key_.equal_range(key_hash(key));
    for (auto i = range.first; i != range.second; ++i) {
      Want &w = wants_[i->second];
      if (w.taken || model_.faces[w.face].corners != x.corners ||
          !std::equal(key.begin(), key.end(), keys_.begin() + w.key))
        continue;
      w.taken = true;
      file_done_[f] = 1;
      if (reversed) {
        ++reversed_;
        reversed_in_.add(model_.faces[w.face].object);
      } else if (std::adjacent_find(key.begin(), key.end()) != key.end() ||
                 key.front() == key.back()) {
        // Corners the written digits cannot keep apart: which is which,
        // and so their normals, cannot be told.
        ++collapsed_;
      } else {
        check_pair(f, start, w);
        check_convex(w);
      }
      break;
    }
  }
}

// A file corner FC against the model's corner MC of W's face.
void Compare::check_corner(std::uint32_t fc, std::uint32_t mc, const Want &w, std::uint32_t f) {
  const ModelFaces::Face &m = model_.faces[w.face];
  const XMesh &mesh = file_.meshes[file_.faces[f].mesh];
  double move = 0;
  for (int i = 0; i < 3; ++i)
    move = std::max(move, std::fabs(double(position_[fc][i]) - model_.position[mc][i]));
  worst_move_ = std::max(worst_move_, move);
  const Point &n = model_.normal[mc];
  const double length = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
  if (rules_.normals && std::isfinite(length) && length > 0.5) {
    ++normal_corners_;
    const Point &r = normal_[fc];
    const double cosine =
        (double(n[0]) * r[0] + double(n[1]) * r[1] + double(n[2]) * r[2]) / length;
    const double degrees =
        std::acos(std::clamp(w.back ? -cosine : cosine, -1.0, 1.0)) * 180.0 / M_PI;
    if (!mesh.normals) {
      ++normals_none_;
      normals_in_.add(m.object);
    } else if (degrees > 1.0) {
      ++normals_off_;
      worst_angle_ = std::max(worst_angle_, degrees);
      normals_in_.add(m.object);
    }
  }
  if (!m.textured) return;
  if (!mesh.uv) {
    ++uv_none_;
    uv_in_.add(m.object);
    return;
  }
  const auto &t = model_.uv[mc], &r = uv_[fc];
  const double by = std::max(std::fabs(double(t[0]) - r[0]), std::fabs(double(t[1]) - r[1]));
  const double allowed = 1e-5 * std::max({1.0f, std::fabs(t[0]), std::fabs(t[1])}) + rules_.cut;
  if (!(by <= allowed)) {
    ++uv_off_;
    worst_uv_ = std::max(worst_uv_, by);
    uv_in_.add(m.object);
  }
}

bool same_colour(const float *a, const float *b, double allowed) {
  for (int i = 0; i < 4; ++i)
    if (!(std::fabs(double(a[i]) - b[i]) <= allowed)) return false;
  return true;
}

// A whole face: its corners, and its material and texture.
void Compare::check_pair(std::uint32_t f, std::uint32_t f_start, const Want &w) {
  const XScene::Face &x = file_.faces[f];
  for (std::uint32_t j = 0; j < x.corners; ++j)
    check_corner(x.first + (f_start + j) % x.corners, model_corner(w, j), w, f);
  check_look(f, w);
}

// Whether the material and texture face F shows in the file are W's.
bool Compare::look_agrees(std::uint32_t f, const Want &w) const {
  const XScene::Face &x = file_.faces[f];
  if (!rules_.materials) return true;
  if (x.material < 0) return false;
  const ModelFaces::Face &m = model_.faces[w.face];
  const FaceLook &look = model_.looks[m.look];
  const XMaterial &got = file_.materials[static_cast<std::size_t>(x.material)];
  const double allowed = 1e-4 + rules_.cut;
  if (got.has_texture != look.has_texture || got.texture != look.texture) return false;
  if (m.own_look) return same_colour(look.colour, got.colour, allowed);
  for (const auto &colour : model_.texture_colours[m.look])
    if (same_colour(colour.data(), got.colour, allowed)) return true;
  return false;
}

void Compare::check_look(std::uint32_t f, const Want &w) {
  if (look_agrees(f, w)) return;
  ++looks_off_;
  looks_in_.add(model_.faces[w.face].object);
}

// A polygon written whole must be convex: how a reader cuts it into
// triangles is its own (a fan from one corner, ear clipping), and only a
// convex polygon comes out the same whichever way it is cut.
void Compare::check_convex(const Want &w) {
  const ModelFaces::Face &m = model_.faces[w.face];
  if (m.corners <= 3 || w.back) return;
  const std::array<double, 3> whole = area_vector(model_.position, m.first, m.corners);
  const double size = std::sqrt(dot(whole, whole));
  if (!(size > 0)) return;
  const Point *p = &model_.position[m.first];
  for (std::uint32_t k = 0; k < m.corners; ++k) {
    const Point &a = p[(k + m.corners - 1) % m.corners], &b = p[k], &c = p[(k + 1) % m.corners];
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - b[0], double(c[1]) - b[1], double(c[2]) - b[2]};
    const std::array<double, 3> turn = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                        u[0] * v[1] - u[1] * v[0]};
    if (dot(turn, whole) < -1e-9 * size * size) {
      ++concave_;
      concave_in_.add(m.object);
      return;
    }
  }
}

// The corners of W's face at the ids of a file triangle, into AT; false
// when one of them is not among its corners.
bool Compare::corners_of(const Want &w, const int *id, std::uint32_t at[3]) const {
  const ModelFaces::Face &m = model_.faces[w.face];
  for (std::uint32_t j = 0; j < 3; ++j) {
    std::uint32_t k = 0;
    while (k < m.corners && model_ids_[m.first + k] != id[j]) ++k;
    if (k == m.corners) return false;
    at[j] = m.first + k;
  }
  return true;
}

// The twice-area vector of the model's triangle of corners AT.
std::array<double, 3> Compare::triangle_at(const std::uint32_t at[3]) const {
  const Point &a = model_.position[at[0]], &b = model_.position[at[1]],
              &c = model_.position[at[2]];
  const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
  const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// The twice-area vector of W's face, facing W's way.
std::array<double, 3> Compare::facing(const Want &w) const {
  const ModelFaces::Face &m = model_.faces[w.face];
  std::array<double, 3> a = area_vector(model_.position, m.first, m.corners);
  if (w.back)
    for (double &c : a) c = -c;
  return a;
}

// Whether the normals of a file triangle's corners (from FIRST) are those
// of W's corners AT, within a degree.
bool Compare::normals_agree(std::uint32_t first, const std::uint32_t at[3], const Want &w) const {
  for (int j = 0; j < 3; ++j) {
    const Point &n = model_.normal[at[j]], &r = normal_[first + static_cast<std::uint32_t>(j)];
    const double cosine = double(n[0]) * r[0] + double(n[1]) * r[1] + double(n[2]) * r[2];
    if ((w.back ? -cosine : cosine) < 0.9998) return false;
  }
  return true;
}

// The length of the outline of W's face.
double Compare::outline(const Want &w) const {
  const ModelFaces::Face &m = model_.faces[w.face];
  double length = 0;
  for (std::uint32_t k = 0; k < m.corners; ++k) {
    const Point &a = model_.position[m.first + k],
                &b = model_.position[m.first + (k + 1) % m.corners];
    length += std::sqrt(std::pow(double(a[0]) - b[0], 2) + std::pow(double(a[1]) - b[1], 2) +
                        std::pow(double(a[2]) - b[2], 2));
  }
  return length;
}

// Whether the outline of W's polygon, seen along its area vector, crosses
// itself, or runs along one of its edges twice the same way (round and
// round): no surface of one side, so no cut of it can make every triangle
// face one way.  Polygons of more than 4096 corners are not looked at.
bool Compare::crosses_itself(const Want &w) const {
  const ModelFaces::Face &m = model_.faces[w.face];
  if (m.corners < 4 || m.corners > 4096) return false;
  std::vector<std::pair<Point, Point>> edges;
  for (std::uint32_t k = 0; k < m.corners; ++k) {
    const Point &a = model_.position[m.first + k], &b = model_.position[m.first + (k + 1) % m.corners];
    if (a != b) edges.push_back({a, b});
  }
  std::sort(edges.begin(), edges.end());
  if (std::adjacent_find(edges.begin(), edges.end()) != edges.end()) return true;
  const std::array<double, 3> n = area_vector(model_.position, m.first, m.corners);
  // Seen along the axis the area vector is nearest to.
  const int drop = std::fabs(n[0]) >= std::fabs(n[1]) && std::fabs(n[0]) >= std::fabs(n[2]) ? 0
                   : std::fabs(n[1]) >= std::fabs(n[2])                                       ? 1
                                                                                               : 2;
  const int x = (drop + 1) % 3, y = (drop + 2) % 3;
  const Point *p = &model_.position[m.first];
  const auto side = [&](const Point &a, const Point &b, const Point &c) {
    const double t = (double(b[x]) - a[x]) * (double(c[y]) - a[y]) -
                     (double(b[y]) - a[y]) * (double(c[x]) - a[x]);
    return (t > 0) - (t < 0);
  };
  const std::uint32_t count = m.corners;
  for (std::uint32_t i = 0; i < count; ++i) {
    const Point &a = p[i], &b = p[(i + 1) % count];
    // Edges that share no corner with edge i: a proper crossing only.
    for (std::uint32_t j = i + 2; j < count; ++j) {
      if ((j + 1) % count == i) continue;
      const Point &c = p[j], &d = p[(j + 1) % count];
      if (side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0) return true;
    }
  }
  return false;
}

// Whether W's triangles so far and MORE stay within its area.
bool Compare::has_room(const Want &w, const std::array<double, 3> &more) const {
  const std::array<double, 3> whole = facing(w);
  const double size = std::sqrt(dot(whole, whole));
  const std::array<double, 3> sum = {w.area[0] + more[0], w.area[1] + more[1], w.area[2] + more[2]};
  return size > 0 && dot(sum, whole) / size <= size * (1 + 1e-3) + 4 * outline(w) * tolerance_;
}

// The file's triangles left, found among the polygons of the model left:
// the triangles of a polygon cut by the host.  A triangle goes to the
// polygon of its three corners that it faces the way of and whose look it
// shows (polygons may share corners); together a polygon's triangles must
// make up its area (their area vectors add up to its own, also for a
// polygon that is not flat), and each must face its way.
void Compare::match_pieces() {
  std::unordered_map<int, std::vector<std::uint32_t>> polygons_at;
  for (std::uint32_t i = 0; i < wants_.size(); ++i) {
    const ModelFaces::Face &m = model_.faces[wants_[i].face];
    if (wants_[i].taken || m.corners <= 3) continue;
    polygons_at[model_ids_[m.first]].push_back(i);
    for (std::uint32_t k = 1; k < m.corners; ++k) {
      auto &list = polygons_at[model_ids_[m.first + k]];
      if (list.empty() || list.back() != i) list.push_back(i);
    }
  }
  if (polygons_at.empty()) return;
  for (std::uint32_t f = 0; f < file_.faces.size(); ++f) {
    const XScene::Face &x = file_.faces[f];
    if (file_done_[f] || x.corners != 3) continue;
    const int *id = &file_ids_[x.first];
    const auto found = polygons_at.find(id[0]);
    if (id[1] < 0 || id[2] < 0 || found == polygons_at.end()) continue;
    const std::array<double, 3> own = area_vector(position_, x.first, 3);
    std::uint32_t best = 0, at[3], best_at[3];
    int best_fit = 0;
    for (const std::uint32_t i : found->second) {
      if (!corners_of(wants_[i], id, at)) continue;
      // Which way the triangle faces is the model's: a sliver's written
      // corners may turn it over.
      const bool ahead = dot(triangle_at(at), facing(wants_[i])) >= 0;
      int fit = 1 + ahead + (ahead && look_agrees(f, wants_[i]));
      if (fit == 3 && normals_agree(x.first, at, wants_[i])) ++fit;
      // Of two polygons alike (a face given twice), the one with room left.
      if (fit == 4 && has_room(wants_[i], own)) ++fit;
      if (fit <= best_fit) continue;
      best_fit = fit, best = i;
      std::copy(at, at + 3, best_at);
    }
    if (best_fit == 0) continue;
    Want &w = wants_[best];
    file_done_[f] = 1;
    for (int c = 0; c < 3; ++c) w.area[c] += own[c];
    ++pieces_;
    // A polygon's outline is looked at once, however many of its triangles face back.
    if (best_fit == 1 && w.crosses < 0) w.crosses = crosses_itself(w);
    if (best_fit == 1 && w.crosses) {
      ++crossed_, crossed_in_.add(model_.faces[w.face].object);
    } else if (best_fit == 1) {
      ++against_, against_in_.add(model_.faces[w.face].object);
    }
    for (std::uint32_t j = 0; j < 3; ++j) check_corner(x.first + j, best_at[j], w, f);
    check_look(f, w);
  }
  for (Want &w : wants_) {
    if (w.taken || (w.area[0] == 0 && w.area[1] == 0 && w.area[2] == 0)) continue;
    const std::array<double, 3> whole = facing(w);
    const std::array<double, 3> apart = {w.area[0] - whole[0], w.area[1] - whole[1],
                                         w.area[2] - whole[2]};
    w.taken = true;
    // The written digits move the triangles' corners: as much area as the
    // outline times what they may move a corner.
    if (std::sqrt(dot(apart, apart)) <=
        1e-3 * std::sqrt(dot(whole, whole)) + 4 * outline(w) * tolerance_) {
      ++polygons_cut_;
    } else {
      ++uncovered_;
      uncovered_in_.add(model_.faces[w.face].object);
    }
  }
}

// What is left on both sides, paired where every corner is within a few
// times what the written digits may move it: on a small model with deep
// frames, the digits move a corner nearer another point of the model than
// its own.  A few hundred left on each side at most.
void Compare::match_near() {
  std::vector<std::uint32_t> files, wants;
  for (std::uint32_t f = 0; f < file_done_.size(); ++f)
    if (!file_done_[f]) files.push_back(f);
  for (std::uint32_t i = 0; i < wants_.size(); ++i)
    if (!wants_[i].taken) wants.push_back(i);
  if (files.empty() || files.size() * wants.size() > 1000000) return;
  const double near = 3 * tolerance_;
  for (const std::uint32_t f : files) {
    const XScene::Face &x = file_.faces[f];
    for (const std::uint32_t i : wants) {
      Want &w = wants_[i];
      if (w.taken || model_.faces[w.face].corners != x.corners) continue;
      for (std::uint32_t r = 0; r < x.corners && !file_done_[f]; ++r) {
        bool all = true;
        for (std::uint32_t j = 0; j < x.corners && all; ++j) {
          const Point &a = position_[x.first + (r + j) % x.corners];
          const Point &b = model_.position[model_corner(w, j)];
          for (int c = 0; c < 3; ++c) all = all && std::fabs(double(a[c]) - b[c]) <= near;
        }
        if (all) file_done_[f] = 1, w.taken = true, ++near_;
      }
      if (file_done_[f]) break;
    }
  }
}

void Compare::run(const XReadProgress &progress) {
  const auto step = [&progress](int percent) {
    if (progress && !progress(percent)) throw percent;
  };
  ids();
  step(40);
  wants();
  step(60);
  file_done_.assign(file_.faces.size(), 0);
  match_whole(false);
  step(80);
  match_pieces();
  match_whole(true);
  match_near();
  step(95);
  out_.file_faces = static_cast<long>(file_.faces.size());
  out_.read = true;
  finish();
}

// Expected differences first, each one line.
void Compare::finish() {
  long lost = 0, extra = 0, copies = 0;
  Names lost_in;
  for (const Want &w : wants_) {
    // A polygon of no area within the written digits may be cut into no
    // triangle at all.
    const std::array<double, 3> whole = w.taken ? std::array<double, 3>{} : facing(w);
    if (!w.taken && std::sqrt(dot(whole, whole)) <= 4 * outline(w) * tolerance_) {
      ++collapsed_;
      continue;
    }
    if (!w.taken) ++lost, lost_in.add(model_.faces[w.face].object);
    if (w.taken && w.back) ++copies;
  }
  for (const char done : file_done_) extra += done ? 0 : 1;
  // A corner that is not a number is written as 0 (or the largest float
  // for an infinity): such faces are the model's own.
  const long from_source = std::min(extra, non_finite_);
  extra -= from_source;
  long corners = 0, vertices = 0;
  for (const XScene::Face &f : file_.faces) corners += f.corners;
  for (const XMesh &m : file_.meshes) vertices += static_cast<long>(m.vertices);
  add("two-sided", true, copies,
      count(copies, "two-sided face", "two-sided faces") +
          " written twice, the copy facing back (two_sided)");
  add("triangulated", true, polygons_cut_,
      count(polygons_cut_, "polygon", "polygons") + " written as " +
          count(pieces_, "triangle", "triangles") + " (triangulate)");
  if (rules_.optimize && vertices < corners)
    add("merged", true, corners - vertices,
        count(corners, "corner", "corners") + " written as " +
            count(vertices, "vertex", "vertices") + " (optimize_vertices)");
  add("lines", true, model_.lines,
      count(model_.lines, "line or point", "lines and points") +
          " not exported: a .x mesh holds faces only");
  if (rules_.decimals > 0 && rules_.decimals < 6 && worst_move_ > 0)
    add("decimals", true, 1,
        text("numbers cut to %d decimal places (decimals): corners moved by up to %g",
             rules_.decimals, worst_move_));
  add("texture-colours", true, model_.textured_own_colour,
      count(model_.textured_own_colour, "texture", "textures") +
          " used with several materials take the colours of the first (texture_material)");
  add("collapsed", true, collapsed_,
      count(collapsed_, "face", "faces") +
          " too small for the written digits to keep their corners apart: compared by "
          "position only");
  add("near", true, near_,
      count(near_, "face", "faces") +
          " whose corners the written digits moved nearer other points of the model "
          "(decimals: more digits keep them apart)");
  add("non-finite", true, non_finite_,
      count(non_finite_, "face", "faces") +
          " of the model with a corner that is not a number, written with 0 there");
  add("flipped-normals", true, rules_.flip && normal_corners_ > 0,
      "every normal turned the other way (flip_normals)");
  add("corner-order", true, rules_.corner_order, "faces in the modeller's corner order (winding)");
  if (!rules_.normals) add("no-normals", true, 1, "no normals written (normals)");
  if (!rules_.materials) add("no-materials", true, 1, "no materials written (materials)");
  finish_real(lost, lost_in, extra);
}

// Real differences, each with the objects it touches.
void Compare::finish_real(long lost, const Names &lost_in, long extra) {
  const std::vector<std::string> &names = model_.objects;
  const auto in = [&names](const Names &objects) { return " of " + objects.text(names); };
  add("concave", false, concave_,
      (concave_ == 1 ? std::string("concave polygon") : count(concave_, "", "concave polygons")) +
          " in " + concave_in_.text(names) + ": turn on Triangulate");
  add("missing", false, lost, count(lost, "face", "faces") + in(lost_in) + " not in the file");
  add("extra", false, extra,
      count(extra, "face", "faces") + " in the file that the model does not hold");
  add("winding", false, reversed_,
      count(reversed_, "face", "faces") + in(reversed_in_) + " facing the other way");
  add("crossing", true, crossed_,
      count(crossed_, "triangle", "triangles") + in(crossed_in_) +
          " facing against a polygon whose outline crosses or retraces itself (the model's "
          "own)");
  add("back-triangle", false, against_,
      count(against_, "triangle", "triangles") + in(against_in_) + " facing against their polygon");
  add("uncovered", false, uncovered_,
      "the triangles of " + count(uncovered_, "polygon", "polygons") + in(uncovered_in_) +
          " do not make up its area");
  add("normals", false, normals_none_,
      "no normals for " + count(normals_none_, "corner", "corners") + in(normals_in_));
  add("normals", false, normals_off_,
      "normals" + in(normals_in_) + ": " + std::to_string(normals_off_) + " of " +
          count(normal_corners_, "corner", "corners") +
          text(" more than 1 degree off, worst %.0f degrees", worst_angle_));
  add("texture-coordinates", false, uv_none_,
      "no texture coordinates for " + count(uv_none_, "corner", "corners") + in(uv_in_));
  add("texture-coordinates", false, uv_off_,
      "texture coordinates" + in(uv_in_) + ": " + count(uv_off_, "corner", "corners") +
          text(" off, worst by %g", worst_uv_));
  add("materials", false, looks_off_,
      count(looks_off_, "face", "faces") + in(looks_in_) + " showing another material or texture");
}

}  // namespace

void to_modeller_space(XScene *scene, const std::string &options) {
  const Rules rules(options);
  for (const XScene::Face &f : scene->faces) {
    for (std::uint32_t k = 0; k < f.corners; ++k) {
      Point &p = scene->position[f.first + k], &n = scene->normal[f.first + k];
      p[2] *= rules.z_sign;
      for (float &c : n) c *= rules.normal_sign;
      n[2] *= rules.z_sign;
    }
    if (!rules.reversed || f.corners < 3) continue;
    // The file's first corner stays first.
    std::reverse(scene->position.begin() + f.first + 1,
                 scene->position.begin() + f.first + f.corners);
    std::reverse(scene->normal.begin() + f.first + 1, scene->normal.begin() + f.first + f.corners);
    std::reverse(scene->uv.begin() + f.first + 1, scene->uv.begin() + f.first + f.corners);
    std::reverse(scene->vertex.begin() + f.first + 1, scene->vertex.begin() + f.first + f.corners);
  }
}

bool Verification::agrees() const {
  if (!read) return false;
  for (const VerifyDifference &d : differences)
    if (!d.expected) return false;
  return true;
}

std::string Verification::verdict() const {
  if (!read) return "verify: the .x could not be read back: " + error;
  if (agrees())
    return "verified: the .x agrees with the model (" + std::to_string(model_faces) + " faces)";
  std::string line = "verify: the .x differs from the model: ";
  bool first = true;
  for (const VerifyDifference &d : differences) {
    if (d.expected) continue;
    line += (first ? "" : "; ") + d.text;
    first = false;
  }
  return line;
}

Verification compare_with_model(const XScene &scene, const std::string &options,
                                const XReadProgress &progress) {
  Verification result;
  try {
    Compare(scene, options, &result).run(progress);
  } catch (int) {
    result = Verification();
    result.error = "stopped";
  } catch (const std::bad_alloc &) {
    result = Verification();
    result.error = "not enough memory to compare it with the model";
  }
  return result;
}

Verification verify_export(const std::string &file, const std::string &options, XScene *scene,
                           const XReadProgress &progress) {
  XScene own;
  XScene &read = scene != nullptr ? *scene : own;
  const auto part = [&progress](int from, int to) -> XReadProgress {
    if (!progress) return XReadProgress();
    return
        [&progress, from, to](int percent) { return progress(from + (to - from) * percent / 100); };
  };
  Verification result;
  if (!read_x_file(file, &read, &result.error, part(0, 60))) return result;
  to_modeller_space(&read, options);
  return compare_with_model(read, options, part(60, 100));
}

}  // namespace molv
