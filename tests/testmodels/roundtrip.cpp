#include "roundtrip.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace testmodels {

namespace {

// The points of both files as numbers that compare exactly: a point read
// back is the model's nearest within the number form's precision, summed
// over the frames; a point of the model one already there within the
// precision of one number.
class PointIndex {
 public:
  explicit PointIndex(double tolerance) : tolerance_(tolerance) {}

  // -1 for a point that is not finite.
  int id(const aiVector3D &p, double within) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return -1;
    Bits bits{};
    std::memcpy(bits.data(), &p.x, sizeof(float));
    std::memcpy(bits.data() + 1, &p.y, sizeof(float));
    std::memcpy(bits.data() + 2, &p.z, sizeof(float));
    const auto exact = exact_.find(bits);
    if (exact != exact_.end()) return exact->second;
    const Bits at = cell(p);
    int found = nearest(p, at, within);
    if (found < 0) {
      found = static_cast<int>(points_.size());
      points_.push_back(p);
      auto &head = cells_.try_emplace(at, -1).first->second;
      next_.push_back(head);
      head = found;
    }
    exact_.emplace(bits, found);
    return found;
  }
  const aiVector3D &point(int id) const { return points_[static_cast<size_t>(id)]; }
  double tolerance() const { return tolerance_; }

 private:
  using Bits = std::array<int64_t, 3>;
  struct Hash {
    size_t operator()(const Bits &b) const {
      return static_cast<size_t>((b[0] * 73856093) ^ (b[1] * 19349663) ^ (b[2] * 83492791));
    }
  };
  Bits cell(const aiVector3D &p) const {
    const auto axis = [this](float v) {
      return static_cast<int64_t>(std::clamp(std::floor(v / tolerance_), -1e15, 1e15));
    };
    return {axis(p.x), axis(p.y), axis(p.z)};
  }
  int nearest(const aiVector3D &p, const Bits &at, double within) const {
    int best = -1;
    double best_distance = within * within;
    for (int d = 0; d < 27; ++d) {
      const auto found = cells_.find({at[0] + d % 3 - 1, at[1] + d / 3 % 3 - 1, at[2] + d / 9 - 1});
      if (found == cells_.end()) continue;
      for (int i = found->second; i >= 0; i = next_[static_cast<size_t>(i)]) {
        const aiVector3D &q = points_[static_cast<size_t>(i)];
        const double dx = p.x - q.x, dy = p.y - q.y, dz = p.z - q.z;
        const double distance = dx * dx + dy * dy + dz * dz;
        if (distance <= best_distance) best = i, best_distance = distance;
      }
    }
    return best;
  }

  double tolerance_;
  std::vector<aiVector3D> points_;
  std::vector<int> next_;  // the next point of the same cell, or -1
  std::unordered_map<Bits, int, Hash> cells_;
  std::unordered_map<Bits, int, Hash> exact_;
};

// A face of one side as compared: rotated to start at its least corner,
// and for the back of a two-sided face (or a check of the winding) read
// backwards.
struct FaceRef {
  uint32_t face;
  uint32_t rotation;
  bool reversed;
};

struct Side {
  const WorldFaces &faces;
  std::vector<int> ids;  // per corner, of the point index
  std::vector<FaceRef> refs;

  uint32_t size(const FaceRef &r) const { return faces.faces[r.face].corners; }
  // The corner index of the k-th corner of r.
  size_t corner(const FaceRef &r, uint32_t k) const {
    const WorldFaces::Face &f = faces.faces[r.face];
    const uint32_t n = f.corners;
    return f.first + (r.reversed ? (r.rotation + n - k % n) % n : (r.rotation + k) % n);
  }
  int id(const FaceRef &r, uint32_t k) const { return ids[corner(r, k)]; }
};

// Lexicographic order of two faces' corner points, the smaller face first.
bool before(const Side &a, const FaceRef &ra, const Side &b, const FaceRef &rb) {
  const uint32_t n = a.size(ra), m = b.size(rb);
  if (n != m) return n < m;
  for (uint32_t k = 0; k < n; ++k) {
    const int x = a.id(ra, k), y = b.id(rb, k);
    if (x != y) return x < y;
  }
  return false;
}

void normalise(const Side &side, FaceRef *r) {
  FaceRef best = *r;
  best.rotation = 0;
  for (FaceRef other = best; ++other.rotation < side.size(*r);) {
    if (before(side, other, side, best)) best = other;
  }
  *r = best;
}

void sort_refs(Side *side) {
  for (FaceRef &r : side->refs) normalise(*side, &r);
  std::sort(side->refs.begin(), side->refs.end(),
            [side](const FaceRef &a, const FaceRef &b) { return before(*side, a, *side, b); });
}

// Zero area: a corner twice in a row, or no height above the number
// form's precision over the longest side.
bool zero_area(const PointIndex &points, const Side &side, const FaceRef &r) {
  const uint32_t n = side.size(r);
  double normal[3] = {0, 0, 0}, longest = 0;
  for (uint32_t k = 0; k < n; ++k) {
    if (side.id(r, k) == side.id(r, k + 1)) return true;
    const aiVector3D &p = points.point(side.id(r, k)), &q = points.point(side.id(r, k + 1));
    normal[0] += (double(p.y) - q.y) * (double(p.z) + q.z);
    normal[1] += (double(p.z) - q.z) * (double(p.x) + q.x);
    normal[2] += (double(p.x) - q.x) * (double(p.y) + q.y);
    longest = std::max(longest, double((p - q).Length()));
  }
  const double twice_area =
      std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
  return twice_area <= points.tolerance() * longest;
}

// The faces of one side that take part, each once and the model's two-sided
// ones twice.  Counts those of the model left out for a non-finite corner.
void collect(PointIndex *points, Side *side, bool model, long *non_finite) {
  const WorldFaces &w = side->faces;
  side->ids.reserve(w.position.size());
  for (const aiVector3D &p : w.position) {
    // The model's points that one number written with six significant
    // digits cannot tell apart (the export writes such points once).
    const double own = 5e-6 * std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}) + 5e-7;
    side->ids.push_back(points->id(p, model ? own : points->tolerance()));
  }
  for (uint32_t f = 0; f < w.faces.size(); ++f) {
    const FaceRef r{f, 0, false};
    const WorldFaces::Face &face = w.faces[f];
    bool finite = true;
    for (uint32_t k = 0; k < face.corners; ++k) finite = finite && side->id(r, k) >= 0;
    if (!finite) {
      // A read-back face stays: it can only come out as one the model lacks.
      if (model) {
        ++*non_finite;
        continue;
      }
      side->refs.push_back(r);
      continue;
    }
    if (zero_area(*points, *side, r)) continue;
    side->refs.push_back(r);
    if (model && w.materials[face.material].two_sided) side->refs.push_back({f, 0, true});
  }
}

}  // namespace

namespace {

using Pair = std::pair<FaceRef, FaceRef>;

// Pairs the equal faces of two sorted lists; what has no partner stays in
// the lists, still sorted.
std::vector<Pair> match(const Side &a, std::vector<FaceRef> *left_a, const Side &b,
                        std::vector<FaceRef> *left_b) {
  std::vector<Pair> pairs;
  std::vector<FaceRef> only_a, only_b;
  size_t i = 0, j = 0;
  while (i < left_a->size() && j < left_b->size()) {
    const FaceRef &x = (*left_a)[i], &y = (*left_b)[j];
    if (before(a, x, b, y)) {
      only_a.push_back((*left_a)[i++]);
    } else if (before(b, y, a, x)) {
      only_b.push_back((*left_b)[j++]);
    } else {
      pairs.emplace_back((*left_a)[i++], (*left_b)[j++]);
    }
  }
  only_a.insert(only_a.end(), left_a->begin() + static_cast<long>(i), left_a->end());
  only_b.insert(only_b.end(), left_b->begin() + static_cast<long>(j), left_b->end());
  *left_a = std::move(only_a);
  *left_b = std::move(only_b);
  return pairs;
}

template <typename... Args>
std::string text(const char *format, Args... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

// The model's normals where it has them: a corner whose normal is zero or
// not finite has none (molv's host makes one there, as for a model
// without normals).
std::string check_normals(const Side &model, const Side &back, const std::vector<Pair> &pairs) {
  long corners = 0, off = 0, missing = 0;
  double worst = 0;
  for (const auto &[m, b] : pairs) {
    if (!model.faces.faces[m.face].normals) continue;
    const bool read_back = back.faces.faces[b.face].normals;
    for (uint32_t k = 0; k < model.size(m); ++k) {
      aiVector3D n = model.faces.normal[model.corner(m, k)];
      if (!(n.SquareLength() > 0.5f)) continue;
      if (m.reversed) n = -n;
      ++corners;
      if (!read_back) {
        ++missing;
        continue;
      }
      const double cosine = std::clamp(double(n * back.faces.normal[back.corner(b, k)]), -1.0, 1.0);
      const double degrees = std::acos(cosine) * 180.0 / M_PI;
      if (degrees > 1.0) ++off, worst = std::max(worst, degrees);
    }
  }
  if (missing > 0) return text("normals: none read back for %ld of %ld corners", missing, corners);
  if (off == 0) return {};
  return text("normals: %ld of %ld corners more than 1 degree off, worst %.0f degrees", off,
              corners, worst);
}

// Texture coordinates where the model has them and its face a texture
// (the only faces that are written with them).
std::string check_uv(const Side &model, const Side &back, const std::vector<Pair> &pairs) {
  long corners = 0, off = 0, missing = 0;
  double worst = 0;
  for (const auto &[m, b] : pairs) {
    const WorldFaces::Face &face = model.faces.faces[m.face];
    if (!face.uv || model.faces.materials[face.material].texture.empty()) continue;
    const bool read_back = back.faces.faces[b.face].uv;
    for (uint32_t k = 0; k < model.size(m); ++k) {
      ++corners;
      if (!read_back) {
        ++missing;
        continue;
      }
      const aiVector2D &t = model.faces.uv[model.corner(m, k)];
      const aiVector2D &r = back.faces.uv[back.corner(b, k)];
      const double by = std::max(std::fabs(t.x - r.x), std::fabs(t.y - r.y));
      if (!(by <= 1e-5 * std::max({1.0f, std::fabs(t.x), std::fabs(t.y)}))) {
        ++off, worst = std::max(worst, by);
      }
    }
  }
  if (missing > 0) {
    return text("texture coordinates: none read back for %ld of %ld corners", missing, corners);
  }
  if (off == 0) return {};
  return text("texture coordinates: %ld of %ld corners off, worst by %g", off, corners, worst);
}

// A material as the .x shows it: the diffuse colour and the texture's name.
struct Look {
  aiColor3D colour;
  std::string texture;
  bool operator==(const Look &o) const {
    return std::fabs(colour.r - o.colour.r) <= 1e-5f && std::fabs(colour.g - o.colour.g) <= 1e-5f &&
           std::fabs(colour.b - o.colour.b) <= 1e-5f && texture == o.texture;
  }
};

// A material without a diffuse colour is white in molv's host.
aiColor3D colour_of(const FaceMaterial &m) {
  return m.has_diffuse ? m.diffuse : aiColor3D(1.0f, 1.0f, 1.0f);
}

// The name of a texture as option 4 and the template write it.
std::string texture_name(const std::string &path) {
  size_t start = path.size();
  if (start > 0) --start;  // the last character is never taken for a separator
  while (start > 0 && std::strchr("/\\:", path[start - 1]) == nullptr) --start;
  std::string name = path.substr(start);
  std::replace(name.begin(), name.end(), '"', '_');
  return name;
}

// What the .x should show for each of the model's materials: a textured
// one has the colour of the first material its texture is used with.
std::vector<Look> expected_looks(const WorldFaces &model) {
  std::unordered_map<std::string, aiColor3D> first;
  for (const WorldFaces::Face &face : model.faces) {
    const FaceMaterial &m = model.materials[face.material];
    if (!m.texture.empty()) first.try_emplace(m.texture, colour_of(m));
  }
  std::vector<Look> looks;
  for (const FaceMaterial &m : model.materials) {
    const auto found = first.find(m.texture);
    looks.push_back({found != first.end() ? found->second : colour_of(m), texture_name(m.texture)});
  }
  return looks;
}

// Every material the faces use is among the templates read back, and the
// faces read back with one material of one mesh had one in the model.
std::string check_materials(const Side &model, const Side &back, const std::vector<Pair> &pairs) {
  const std::vector<Look> looks = expected_looks(model.faces);
  std::vector<Look> templates;
  for (const FaceMaterial &m : back.faces.materials) templates.push_back({colour_of(m), m.texture});
  std::vector<bool> used(looks.size());
  std::unordered_map<uint64_t, uint32_t> group_look;  // back mesh and material: a model material
  std::unordered_map<uint64_t, bool> mixed;
  for (const auto &[m, b] : pairs) {
    const uint32_t material = model.faces.faces[m.face].material;
    used[material] = true;
    const WorldFaces::Face &r = back.faces.faces[b.face];
    const uint64_t group = uint64_t{r.mesh} << 32 | r.material;
    const uint32_t first = group_look.try_emplace(group, material).first->second;
    if (!(looks[first] == looks[material])) mixed[group] = true;
  }
  long needed = 0, absent = 0;
  const Look *example = nullptr;
  for (size_t i = 0; i < looks.size(); ++i) {
    if (!used[i]) continue;
    ++needed;
    if (std::find(templates.begin(), templates.end(), looks[i]) != templates.end()) continue;
    ++absent;
    if (example == nullptr) example = &looks[i];
  }
  std::string result;
  if (absent > 0) {
    result = text("materials: %ld of %ld not among the templates read back (%g %g %g \"%s\")",
                  absent, needed, example->colour.r, example->colour.g, example->colour.b,
                  example->texture.c_str());
  }
  if (!mixed.empty()) {
    result += (result.empty() ? "materials: " : ", ") +
              text("%zu meshes read back with one material hold faces of several", mixed.size());
  }
  return result;
}

// The largest finite coordinate of the model.
float largest(const WorldFaces &model) {
  float most = 0;
  for (const aiVector3D &p : model.position) {
    for (const float v : {p.x, p.y, p.z}) {
      if (std::isfinite(v)) most = std::max(most, std::fabs(v));
    }
  }
  return most;
}

}  // namespace

Comparison compare(const WorldFaces &model, const WorldFaces &back) {
  // Six significant digits (and six decimals below 1) per number, summed
  // over a few frames' translations and the mesh's own positions.
  PointIndex points(5e-5 * largest(model) + 5e-6);
  Side ours{model, {}, {}}, theirs{back, {}, {}};
  long non_finite = 0;
  collect(&points, &ours, true, &non_finite);
  collect(&points, &theirs, false, &non_finite);
  sort_refs(&ours);
  sort_refs(&theirs);
  Comparison result;
  result.faces = static_cast<long>(ours.refs.size());
  std::vector<FaceRef> lost = ours.refs, extra = theirs.refs;
  const std::vector<Pair> pairs = match(ours, &lost, theirs, &extra);
  // Of the faces left, those that come back the other way round.
  for (FaceRef &r : lost) r.reversed = !r.reversed;
  ours.refs = lost;
  sort_refs(&ours);
  lost = ours.refs;
  const size_t reversed = match(ours, &lost, theirs, &extra).size();
  if (reversed > 0) result.differences.push_back(text("winding: %zu faces reversed", reversed));
  if (!lost.empty() || !extra.empty()) {
    result.differences.push_back(
        text("positions: %zu of %ld faces not read back, %zu read back "
             "that the model lacks",
             lost.size(), result.faces, extra.size()));
  }
  for (const std::string &found :
       {check_normals(ours, theirs, pairs), check_uv(ours, theirs, pairs),
        check_materials(ours, theirs, pairs)}) {
    if (!found.empty()) result.differences.push_back(found);
  }
  result.non_finite = non_finite;
  return result;
}

}  // namespace testmodels
