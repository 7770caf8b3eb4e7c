/*
 * The vertex table: rows, the merge of equal surface vertices and the
 * written indices.
 *
 * The merge looks at the rows in ascending order and keeps, of the rows
 * that stand for themselves (not merged, no NaN), only what it needs to
 * find the first earlier equal row.  Those rows are pairwise unequal, so a
 * row is equal to at most one of them: the first earlier equal row, the
 * one a walk of the row's bucket would meet first.
 *
 * Two ways to find it.  When the object's host vertices stand at equal
 * steps in memory (a host that keeps them in an array), each vertex keeps
 * the chain of its rows that stand for themselves and a row is compared
 * with its vertex's chain only: neighbouring surfaces share vertices, so
 * the chains in use stay in the caches.  Otherwise, and for a row whose
 * vertex is not in the object's list, the hash lookup keyed by the six
 * compared fields holds those rows.  Equal fields must hash alike, so
 * a zero float hashes as +0 whatever its sign; a row with a NaN can equal
 * nothing and never enters either.
 *
 * Speed of the hash: a large mesh has millions of rows and its hash does
 * not fit the caches, so each slot keeps 32 more bits of the hash beside
 * the row: a probe reads the surface vertex of a row only when those bits
 * agree, and the slot of a row a few rows ahead is fetched while the
 * current one is compared.  It starts at half the row count.  The merge is a pass of its own after the
 * listing, so that its polls ("Optimize Vertices") come while it works.
 */
#include "xwriter/vertex_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/export_run.h"
#include "xwriter/hash_lookup.h"
#include "xwriter/host_array.h"
#include "xwriter/numbers.h"

namespace qel {

namespace {

const char kCreateVertexListText[] = "Export X File - Create Vertex List ...";

// The rows of a table above this many would need hash slots beyond 32 bits.
constexpr int32_t kMaxRows = int32_t{1} << 30;

// The bits a float contributes to the merge hash: both zeros as +0 (adding
// +0 turns -0 into +0 and changes nothing else; a NaN never gets here).
uint64_t float_key(float value) {
  const float folded = value + 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &folded, sizeof bits);
  return bits;
}

// 64 bits of the six compared fields as `form` reads them: the low ones
// pick the slot, the high 32 are kept in it.  Each word is multiplied by a
// constant of its own (the products do not wait for each other), then the
// sum is mixed once.
uint64_t merge_hash(const mo_svertex *sv, const VertexForm &form) {
  const uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(sv->vertex));
  uint64_t h = address * 0x9E3779B97F4A7C15ull;
  h ^= (float_key(form.u(sv)) << 32 | float_key(form.v(sv))) * 0xC2B2AE3D27D4EB4Full;
  h ^= (float_key(form.normal(sv, 0)) << 32 | float_key(form.normal(sv, 1))) *
       0x165667B19E3779F9ull;
  h ^= float_key(form.normal(sv, 2)) * 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// The comparison of the merge, in its order: host vertex, u, v, normal, as
// `form` reads them.  Fields equal as held read equal, so only surface
// vertices that differ as held are read through the form.
bool merge_equal(const mo_svertex *a, const mo_svertex *b, const VertexForm &form) {
  if (a->vertex != b->vertex) return false;
  if (a->u == b->u && a->v == b->v && a->normal[0] == b->normal[0] &&
      a->normal[1] == b->normal[1] && a->normal[2] == b->normal[2]) {
    return true;
  }
  if (form.as_held()) return false;
  return form.u(a) == form.u(b) && form.v(a) == form.v(b) &&
         form.normal(a, 0) == form.normal(b, 0) && form.normal(a, 1) == form.normal(b, 1) &&
         form.normal(a, 2) == form.normal(b, 2);
}

// A NaN among the fields as `form` reads them.  The form never makes a NaN
// of a number, so only a surface vertex with a NaN as held is read through it.
bool has_nan(const mo_svertex *sv, const VertexForm &form) {
  if (sv->u == sv->u && sv->v == sv->v && sv->normal[0] == sv->normal[0] &&
      sv->normal[1] == sv->normal[1] && sv->normal[2] == sv->normal[2]) {
    return false;
  }
  const float u = form.u(sv), v = form.v(sv);
  const float n0 = form.normal(sv, 0), n1 = form.normal(sv, 1), n2 = form.normal(sv, 2);
  return u != u || v != v || n0 != n0 || n1 != n1 || n2 != n2;
}

// The hash of the merge: rows that stand for themselves, by their fields.
// Each slot keeps the high half of its row's hash beside the row, so a
// probe reads a row's surface vertex only when those bits agree.
class MergeIndex {
 public:
  MergeIndex(const VertexRow *rows, const VertexForm &form)
      : lookup_(ByFields{rows, form}), rows_(rows) {}

  // Room for `count` rows before the first growth.  False when the host
  // has no memory.
  bool reserve(int32_t count) { return lookup_.reserve(static_cast<uint32_t>(count)); }
  bool ready() const { return lookup_.ready(); }

  // Where the probe for `hash` starts: fetched ahead of the lookup.
  const void *home(uint64_t hash) const { return lookup_.home(hash); }

  // The first earlier row equal to row j (whose hash is `hash`), or -1
  // after entering row j.  False when the host has no memory to grow.
  bool find_or_enter(int32_t j, uint64_t hash, int32_t *first) {
    const auto tag = static_cast<uint32_t>(hash >> 32);
    Slot *slot = lookup_.find(Row{rows_[j].svertex, tag}, hash);
    *first = slot->row;
    return slot->row >= 0 || lookup_.insert(slot, Slot{tag, j});
  }

 private:
  struct Slot {
    uint32_t tag;  // the high half of the row's hash
    int32_t row;   // -1: empty
  };
  struct Row {
    const mo_svertex *svertex;
    uint32_t tag;
  };
  struct ByFields {
    using Slot = MergeIndex::Slot;
    const VertexRow *rows;
    VertexForm form;
    static Slot empty_slot() { return Slot{0, -1}; }
    static bool is_empty(const Slot &slot) { return slot.row < 0; }
    uint64_t hash(const Slot &slot) const { return merge_hash(rows[slot.row].svertex, form); }
    bool equal(const Slot &slot, const Row &row) const {
      return slot.tag == row.tag && merge_equal(rows[slot.row].svertex, row.svertex, form);
    }
  };

  HashLookup<ByFields> lookup_;
  const VertexRow *rows_;
};

// The merge's polls: at rows 0, 100, 200, ... with the percentage done.
// True when the poll answers with a cancel.
class MergePolls {
 public:
  MergePolls(ExportRun &run, int32_t row_count) : run_(run), row_count_(row_count) {}

  bool cancelled_at(int32_t row) {
    if (row % 100 != 0) return false;
    // The text changes with the percentage only: a hundred times, not at
    // every one of the polls.
    const int percent = static_cast<int>(static_cast<int64_t>(row) * 100 / row_count_);
    if (percent != shown_percent_) {
      std::snprintf(text_, sizeof text_, "Export X File - Optimize Vertices ( %d %% ) ...",
                    percent);
      shown_percent_ = percent;
    }
    return run_.cancel_poll(text_);
  }

 private:
  ExportRun &run_;
  int32_t row_count_;
  int shown_percent_ = -1;
  char text_[80];
};

// The merge by the hash of all compared fields.  False when the host has
// no memory for the hash.
bool merge_by_hash(ExportRun &run, VertexTable &table, const VertexForm &form) {
  VertexRow *rows = table.rows;
  const int32_t count = table.entered_count;
  MergeIndex index(rows, form);
  if (!index.reserve(count / 2)) return false;

  // The hashes of the next kAhead rows, their slots already on their way
  // into the cache (a slot in a hash of millions comes from memory).  A
  // row with a NaN gets no hash: it equals nothing.
  constexpr int32_t kAhead = 16;
  struct Ahead {
    uint64_t hash;
    bool nan;
  } ahead[kAhead];
  auto look_ahead = [&](int32_t row) {
    if (row >= count) return;
    Ahead &a = ahead[row % kAhead];
    const mo_svertex *sv = rows[row].svertex;
    a.nan = has_nan(sv, form);
    a.hash = a.nan ? 0 : merge_hash(sv, form);
    if (!a.nan) __builtin_prefetch(index.home(a.hash));
  };
  for (int32_t row = 0; row < kAhead; ++row) look_ahead(row);
  MergePolls polls(run, table.row_count);

  for (int32_t j = 0; j < count; ++j) {
    const Ahead current = ahead[j % kAhead];
    look_ahead(j + kAhead);
    if (!current.nan) {
      int32_t first = -1;
      if (!index.find_or_enter(j, current.hash, &first)) return false;
      if (first >= 0) {
        rows[j].merged_into = first;
        --table.remaining_count;
      }
    }
    if (polls.cancelled_at(j)) break;
  }
  return true;
}

// The merge by host vertex, when the object's vertices stand at equal
// steps: only rows of one host vertex can be equal, so each vertex keeps
// the chain of its rows that stand for themselves, and a row is compared
// with that chain only.  The rows of neighbouring surfaces share vertices,
// so the chains in use stay in the caches, where a hash over every row of
// a large mesh does not.  The rows that stand for themselves are pairwise
// unequal, so a row meets at most one equal row in its chain, in whatever
// order it is walked: the same row the hash would find.  A row whose
// vertex is not in the object's list goes to the hash of all fields.
// False when the host has no memory.
bool merge_by_vertex(ExportRun &run, VertexTable &table, const VertexForm &form,
                     const VertexPlaces &places) {
  VertexRow *rows = table.rows;
  const int32_t count = table.entered_count;
  HostArray<int32_t> newest;  // per vertex: its latest row that stands for itself
  HostArray<int32_t> older;   // per row that stands for itself: the one before it
  if (!newest.allocate(places.count()) || !older.allocate(static_cast<std::size_t>(count))) {
    return false;
  }
  std::fill(newest.items, newest.items + places.count(), -1);
  MergeIndex strangers(rows, form);
  MergePolls polls(run, table.row_count);

  for (int32_t j = 0; j < count; ++j) {
    const mo_svertex *sv = rows[j].svertex;
    if (!has_nan(sv, form)) {
      int32_t first = -1;
      const int32_t place = places.of(sv->vertex);
      if (place >= 0) {
        for (int32_t row = newest.items[place]; row >= 0; row = older.items[row]) {
          if (merge_equal(rows[row].svertex, sv, form)) {
            first = row;
            break;
          }
        }
        if (first < 0) {
          older.items[j] = newest.items[place];
          newest.items[place] = j;
        }
      } else {
        if (!strangers.ready() && !strangers.reserve(16)) return false;
        if (!strangers.find_or_enter(j, merge_hash(sv, form), &first)) return false;
      }
      if (first >= 0) {
        rows[j].merged_into = first;
        --table.remaining_count;
      }
    }
    if (polls.cancelled_at(j)) break;
  }
  return true;
}

// The merge over the entered rows, by host vertex when their places are
// known, else by hash.  False when the host has no memory.
bool merge_rows(ExportRun &run, VertexTable &table, const VertexForm &form,
                const VertexPlaces *places) {
  return places != nullptr ? merge_by_vertex(run, table, form, *places)
                           : merge_by_hash(run, table, form);
}

}  // namespace

float VertexForm::normal(const mo_svertex *sv, int c) const {
  switch (normals_) {
    case Normals::as_held:
      return sv->normal[c];
    case Normals::zeroed:
      return 0.0f;
    case Normals::rounded:
      break;
  }
  return static_cast<float>(round_to_step(sv->normal[c], kNormalStep));
}

bool VertexPlaces::measure(mo_list vertices, int32_t count) {
  count_ = 0;
  if (vertices == nullptr || count <= 0) return false;
  const auto first = reinterpret_cast<uintptr_t>(vertices->item);
  uintptr_t step = 1;
  if (count > 1) {
    if (vertices->next == nullptr) return false;
    step = reinterpret_cast<uintptr_t>(vertices->next->item) - first;
    // Upwards, and the last vertex's address without a wrap.
    if (step == 0 || step > (uintptr_t{1} << 32) ||
        first > UINTPTR_MAX - step * static_cast<uintptr_t>(count - 1)) {
      return false;
    }
  }
  if (first == 0) return false;
  int32_t seen = 0;
  for (mo_list_node *node = vertices; node != nullptr && seen < count; node = node->next) {
    if (reinterpret_cast<uintptr_t>(node->item) != first + step * static_cast<uintptr_t>(seen)) {
      return false;
    }
    ++seen;
  }
  if (seen != count) return false;
  // step = 2^shift * odd; dividing by the odd part is multiplying by its
  // inverse modulo 2^64 (Newton's iteration: each round doubles the
  // correct low bits, from 3 to 96).
  shift_ = static_cast<unsigned>(__builtin_ctzll(step));
  const uint64_t odd = step >> shift_;
  uint64_t inverse = odd;
  for (int round = 0; round < 5; ++round) inverse *= 2 - odd * inverse;
  first_ = first;
  low_mask_ = (uint64_t{1} << shift_) - 1;
  inverse_ = inverse;
  count_ = static_cast<uint32_t>(count);
  return true;
}

VertexTable::VertexTable() = default;

VertexTable::~VertexTable() { vertex_table_free(*this); }

bool vertex_table_build(ExportRun &run, VertexTable &table, const MeshSurface *surfaces,
                        int32_t surface_count, int32_t row_count, const VertexForm &form,
                        const VertexPlaces *places) {
  vertex_table_free(table);
  if (row_count < 0) row_count = 0;
  if (row_count > kMaxRows) return false;
  if (row_count > 0) {
    table.rows =
        static_cast<VertexRow *>(myalloc(sizeof(VertexRow) * static_cast<std::size_t>(row_count)));
    if (table.rows == nullptr) return false;
  }
  table.row_count = row_count;
  table.remaining_count = row_count;

  // One row per surface vertex, polling after every 100th.
  bool cancelled = false;
  VertexRow *const rows = table.rows;
  int32_t entered = 0;
  for (int32_t s = 0; s < surface_count && !cancelled; ++s) {
    const mo_surface *surface = surfaces[s].surface;
    for (mo_list_node *sv = surface->svertices; sv != nullptr; sv = sv->next) {
      // The count is the caller's; a list longer than it never writes
      // past the rows.
      if (entered == row_count) break;
      rows[entered++] = VertexRow{static_cast<mo_svertex *>(sv->item), -1, -1};
      if (entered % 100 == 0) {
        table.entered_count = entered;
        if (run.cancel_poll(kCreateVertexListText)) {
          cancelled = true;
          break;
        }
      }
    }
  }
  table.entered_count = entered;

  // The merge, also after a cancel: it looks at row 0, polls and ends.
  if (run.options.is_set(opt_optimize_vertices) && !merge_rows(run, table, form, places)) {
    vertex_table_free(table);
    return false;
  }
  table.cut_short = cancelled || table.entered_count < row_count;
  return true;
}

void vertex_table_resolve(VertexTable &table) {
  VertexRow *rows = table.rows;
  for (int32_t row = 0; row < table.entered_count; ++row) {
    // A merged row names a row that is not merged itself, and that row was
    // written: one step is enough.
    if (rows[row].written_index == -1 && rows[row].merged_into >= 0) {
      rows[row].written_index = rows[rows[row].merged_into].written_index;
    }
  }
}

void vertex_table_free(VertexTable &table) {
  if (table.rows != nullptr) myfree(table.rows);
  table.rows = nullptr;
  table.cut_short = false;
  table.row_count = 0;
  table.remaining_count = 0;
  table.entered_count = 0;
}

}  // namespace qel
