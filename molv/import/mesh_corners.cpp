/*
 * The corners of an imported mesh: positions in world coordinates joined
 * into host vertices where the model's normals agree, and those normals
 * carried into world space.
 */
#include "import/mesh_corners.h"

#include <cmath>
#include <cstring>

#include "import/position_index.h"

namespace molv {
namespace {

bool is_zero(const float *n) { return n[0] == 0.0f && n[1] == 0.0f && n[2] == 0.0f; }

// The direction of a normal, or (0, 0, 0) where the file gives none (a
// zero, infinite or NaN normal).
void unit_normal(const double n[3], float out[3]) {
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 1e-30) || !std::isfinite(length)) {
    out[0] = out[1] = out[2] = 0.0f;
    return;
  }
  out[0] = static_cast<float>(n[0] / length);
  out[1] = static_cast<float>(n[1] / length);
  out[2] = static_cast<float>(n[2] / length);
}

// Two normals agree within about a degree: a smooth surface's normals at
// one position differ at most by the file's rounding, a crease's by far
// more.  A corner without a normal agrees with any.
bool agree(const float *a, const float *b) {
  constexpr float kCosOneDegree = 0.99985f;
  if (is_zero(a) || is_zero(b)) return true;
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] >= kCosOneDegree;
}

bool is_finite(const Position &position) {
  return std::isfinite(position.p[0]) && std::isfinite(position.p[1]) &&
         std::isfinite(position.p[2]);
}

// Each vertex's normal in world coordinates: through the inverse
// transpose of the node transform's 3x3, in double, made unit length.
void world_normals(const aiMesh &mesh, const aiMatrix4x4 &global,
                   std::vector<float> *normals) {
  double m[3][3], inv[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[r][c] = global[r][c];
  }
  // The inverse transpose is the cofactor matrix over the determinant;
  // the determinant's size goes with the normalising, only its sign
  // counts (a mirroring transform turns the normals round with it).
  inv[0][0] = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  inv[0][1] = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  inv[0][2] = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  inv[1][0] = m[0][2] * m[2][1] - m[0][1] * m[2][2];
  inv[1][1] = m[0][0] * m[2][2] - m[0][2] * m[2][0];
  inv[1][2] = m[0][1] * m[2][0] - m[0][0] * m[2][1];
  inv[2][0] = m[0][1] * m[1][2] - m[0][2] * m[1][1];
  inv[2][1] = m[0][2] * m[1][0] - m[0][0] * m[1][2];
  inv[2][2] = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  const double det = m[0][0] * inv[0][0] + m[0][1] * inv[0][1] + m[0][2] * inv[0][2];
  const double sign = det < 0.0 ? -1.0 : 1.0;
  normals->resize(3 * size_t{mesh.mNumVertices});
  for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
    const aiVector3D &n = mesh.mNormals[i];
    const double x = n.x, y = n.y, z = n.z;
    const double w[3] = {sign * (inv[0][0] * x + inv[0][1] * y + inv[0][2] * z),
                  sign * (inv[1][0] * x + inv[1][1] * y + inv[1][2] * z),
                  sign * (inv[2][0] * x + inv[2][1] * y + inv[2][2] * z)};
    unit_normal(w, &(*normals)[3 * size_t{i}]);
  }
}

// With normals, per host vertex: its normal (the first corner's that has
// one) and the next host vertex at the same position, or -1.
struct NormalChains {
  std::vector<float> normal_of;
  std::vector<int32_t> same_place;

  // From FOUND on, the first vertex at its position whose normal agrees
  // with NORMAL (which it keeps when it had none), or NEXT, the new one at
  // the end of the chain.
  int32_t vertex_for(int32_t found, const float *normal, int32_t next) {
    int32_t vertex = found;
    while (!agree(&normal_of[3 * static_cast<size_t>(vertex)], normal)) {
      int32_t &after = same_place[static_cast<size_t>(vertex)];
      if (after < 0) after = next;
      vertex = after;
      if (vertex == next) return next;
    }
    float *kept = &normal_of[3 * static_cast<size_t>(vertex)];
    if (is_zero(kept)) std::memcpy(kept, normal, 3 * sizeof(float));
    return vertex;
  }
  void add(const float *normal) {
    normal_of.insert(normal_of.end(), normal, normal + 3);
    same_place.push_back(-1);
  }
};

}  // namespace

// The host vertices of a mesh: positions in world coordinates, the
// corners at one position joined where the file's normals there agree
// (all of them when it gives none), so that the host's normals keep the
// model's hard edges and its smooth parts smooth.  Texture coordinates
// never part corners: they belong to the surfaces.  host_index gets each
// of the mesh's vertices' host vertex, -1 for a position that is not
// finite (which becomes no host vertex); `normals` each vertex's normal
// in world coordinates (the inverse transpose of the node transform,
// made unit length; zero where the file gives none), or nothing when
// the mesh has no normals.
void join_corners(const aiMesh &mesh, const aiMatrix4x4 &global,
                  std::vector<float> &positions, std::vector<int32_t> &host_index,
                  std::vector<float> &normals) {
  const bool by_normal = mesh.HasNormals();
  if (by_normal) world_normals(mesh, global, &normals);
  PositionIndex joined(mesh.mNumVertices / 4);
  NormalChains chains;
  // The positions and hashes of the next kAhead corners, their slots
  // already on their way into the cache.
  constexpr unsigned kAhead = 16;
  struct Ahead {
    Position position;
    uint64_t hash;
  } ahead[kAhead];
  auto look_ahead = [&](unsigned i) {
    if (i >= mesh.mNumVertices) return;
    const aiVector3D at = global * mesh.mVertices[i];
    Ahead &a = ahead[i % kAhead];
    a.position = Position{{at.x, at.y, at.z}};
    a.hash = position_hash(a.position);
    joined.prefetch(a.hash);
  };
  for (unsigned i = 0; i < kAhead; ++i) look_ahead(i);
  for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
    const Ahead current = ahead[i % kAhead];
    look_ahead(i + kAhead);
    const Position &position = current.position;
    if (!is_finite(position)) {
      host_index[i] = -1;
      continue;
    }
    const auto next = static_cast<int32_t>(positions.size() / 3);
    // The position goes in first, so that the index can compare with it.
    positions.insert(positions.end(), position.p, position.p + 3);
    const int32_t found = joined.find_or_add(position, current.hash, positions, next);
    const float *normal = by_normal ? &normals[3 * size_t{i}] : nullptr;
    const int32_t vertex =
        found < 0 ? next : by_normal ? chains.vertex_for(found, normal, next) : found;
    if (vertex != next) {
      positions.resize(positions.size() - 3);
    } else if (by_normal) {
      chains.add(normal);
    }
    host_index[i] = vertex;
  }
}

// Whether the model's normals of a face's corners agree (about a
// degree; a corner without one agrees with any).
bool one_normal(const aiFace &face, const std::vector<float> &normals) {
  const float *first = &normals[3 * size_t{face.mIndices[0]}];
  for (unsigned k = 1; k < face.mNumIndices; ++k) {
    if (!agree(first, &normals[3 * size_t{face.mIndices[k]}])) return false;
  }
  return true;
}

}  // namespace molv
