/*
 * The vertex table of one mesh: one row per surface vertex of the mesh
 * surfaces, in the order the mesh writer walks them (surfaces in array
 * order, each surface's vertex list from head to tail), so the row of the
 * surface vertex at position k of a surface is the sum of the vertex counts
 * of the surfaces before it, plus k.
 *
 * Under opt_optimize_vertices a surface vertex that repeats an earlier one
 * exactly (same host vertex, and the same u, v and normal as the vertex
 * form reads them; floats compared with ==, so +0 equals -0 and a NaN
 * equals nothing) is merged into the first such earlier row and is not
 * written again.  Every merged row names a row that is not merged itself.
 * The merge compares a row only with the earlier rows of its own host
 * vertex that stand for themselves (found by the vertex's place in the
 * object's vertex list, or by a hash of the compared fields), which finds
 * that first equal row in constant time.
 *
 * Ownership: every block of the table comes from the host allocator; the
 * table frees them in vertex_table_free, which its destructor calls, so a
 * mesh that ends early (cancel, failed allocation) never leaks one.
 */
#ifndef QEL_XWRITER_VERTEX_TABLE_H
#define QEL_XWRITER_VERTEX_TABLE_H

#include <cstdint>

#include "host/molv_host.h"
#include "xwriter/mesh.h"

namespace qel {

class ExportRun;

// How the mesh reads a surface vertex's texture coordinates and normal:
// as the host holds them, or settled by the export's options.  Texture
// coordinates read as 0 when the mesh writes none.  Under
// opt_surface_shading the normals read as 0 without opt_normals, else
// rounded to kNormalStep.  The host's surface vertices are never changed:
// the merge compares and the writer writes what these functions give.
class VertexForm {
 public:
  enum class Normals : uint8_t { as_held, zeroed, rounded };

  VertexForm() = default;
  VertexForm(bool zero_uv, Normals normals) : zero_uv_(zero_uv), normals_(normals) {}

  // True when every field reads as the host holds it.
  bool as_held() const { return !zero_uv_ && normals_ == Normals::as_held; }

  float u(const mo_svertex *sv) const { return zero_uv_ ? 0.0f : sv->u; }
  float v(const mo_svertex *sv) const { return zero_uv_ ? 0.0f : sv->v; }
  // Component c of the normal.
  float normal(const mo_svertex *sv, int c) const;

  // The step the normals are rounded to.
  static constexpr double kNormalStep = 0.000001;

 private:
  bool zero_uv_ = false;
  Normals normals_ = Normals::as_held;
};

struct VertexRow {
  mo_svertex *svertex;    // the surface vertex of this row
  int32_t merged_into;    // -1, or the earlier row it repeats
  int32_t written_index;  // -1 until written (or resolved)
};

struct VertexTable {
  VertexTable();
  ~VertexTable();
  VertexTable(const VertexTable &) = delete;
  VertexTable &operator=(const VertexTable &) = delete;

  VertexRow *rows = nullptr;  // row_count rows (host memory)
  int32_t row_count = 0;
  int32_t remaining_count = 0;  // rows that are written: row_count - merged rows
  int32_t entered_count = 0;    // rows the build entered (less after a cancel)
  bool cut_short = false;       // the build stopped early (a cancel): never written from
};

// The places of an object's host vertices, when they stand at equal steps
// in memory in list order (as a host that keeps them in an array hands
// them out): a vertex's place in the list is then a subtraction and an
// exact division away, no lookup.
class VertexPlaces {
 public:
  // True when the first `count` items of `vertices` stand at equal steps
  // upwards (one vertex alone counts); the places are valid only then.
  bool measure(mo_list vertices, int32_t count);

  // The place of `vertex` in the list, or -1 for any other address.
  int32_t of(const mo_vertex *vertex) const {
    const uint64_t offset = reinterpret_cast<uintptr_t>(vertex) - first_;
    if ((offset & low_mask_) != 0) return -1;
    // A quotient below the count times the odd part of the step stays
    // below 2^64, so a quotient below the count is exact: no other
    // address gives one.
    const uint64_t place = (offset >> shift_) * inverse_;
    return place < count_ ? static_cast<int32_t>(place) : -1;
  }

  uint32_t count() const { return count_; }

 private:
  uintptr_t first_ = 0;
  unsigned shift_ = 0;
  uint64_t low_mask_ = 0;
  uint64_t inverse_ = 1;
  uint32_t count_ = 0;
};

// Fills `table` from the mesh surfaces, `row_count` rows in all; runs the
// merge under the run's opt_optimize_vertices, comparing the fields as `form` reads
// them.  `places`, the places of the object's vertices when measured (else
// null), only speeds the merge up: with them it goes by host vertex; the
// result is the same either way.  Polls for a cancel after every 100th row
// entered ("Export X File - Create Vertex List ...") and, while merging, at
// rows 0, 100, 200, ... ("Export X File - Optimize Vertices ( %d %% ) ...").
// A cancel ends the pass it happens in and leaves the table cut short (some
// rows may be missing); the merge of a cut-short build still looks at row 0
// and polls once.  False when the host allocator failed; the table is then
// empty.
bool vertex_table_build(ExportRun &run, VertexTable &table, const MeshSurface *surfaces,
                        int32_t surface_count, int32_t row_count, const VertexForm &form,
                        const VertexPlaces *places = nullptr);

// Gives every row that was not written the written index of the row it was
// merged into.  Called once, after the vertex block.
void vertex_table_resolve(VertexTable &table);

// Gives every block back to the host allocator; the table is empty after.
void vertex_table_free(VertexTable &table);

}  // namespace qel

#endif  // QEL_XWRITER_VERTEX_TABLE_H
