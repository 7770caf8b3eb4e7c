/*
 * The vertex table: rows, buckets, the merge of equal surface vertices and
 * the written indices.
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
 * vertex is not in the object's list, an open-addressing hash keyed by the
 * six compared fields holds those rows.  Equal fields must hash alike, so
 * a zero float hashes as +0 whatever its sign; a row with a NaN can equal
 * nothing and never enters either.
 *
 * Speed of the hash: a large mesh has millions of rows and its hash does
 * not fit the caches, so each slot keeps 32 more bits of the hash beside
 * the row: a probe reads the surface vertex of a row only when those bits
 * agree, and the slot of a row a few rows ahead is fetched while the
 * current one is compared.  It starts at half the row count and grows when
 * three quarters are taken.  The merge is a pass of its own after the
 * listing, so that its polls ("Optimize Vertices") come while it works.
 */
#include "xwriter/vertex_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "binding/options.h"
#include "export/export_state.h"
#include "xwriter/host_array.h"

namespace qel {

namespace {

const char kCreateVertexListText[] = "Export X File - Create Vertex List ...";

// The rows of a table above this many would need hash slots beyond 32 bits.
constexpr int32_t kMaxRows = int32_t{1} << 30;

// Slots for `count` keys at a load of at most one half: a power of two.
uint32_t slot_capacity(int32_t count) {
  uint32_t capacity = 16;
  while (capacity < static_cast<uint32_t>(count) * 2u) capacity *= 2;
  return capacity;
}

int32_t *allocate_empty_slots(uint32_t capacity) {
  auto *slots = static_cast<int32_t *>(myalloc(sizeof(int32_t) * capacity));
  if (slots != nullptr) std::memset(slots, 0xff, sizeof(int32_t) * capacity);  // all -1
  return slots;
}

uint32_t pointer_hash(const void *pointer) {
  // Fibonacci hashing: the high half of the product mixes every address bit.
  uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer)) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(h >> 32);
}

// The bits a float contributes to the merge hash: both zeros as +0 (adding
// +0 turns -0 into +0 and changes nothing else; a NaN never gets here).
uint64_t float_key(float value) {
  const float folded = value + 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &folded, sizeof bits);
  return bits;
}

// 64 bits of the six compared fields: the low ones pick the slot, the
// high 32 are kept in it.  Each word is multiplied by a constant of its own
// (the products do not wait for each other), then the sum is mixed once.
uint64_t merge_hash(const mo_svertex *sv) {
  const uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(sv->vertex));
  uint64_t h = address * 0x9E3779B97F4A7C15ull;
  h ^= (float_key(sv->u) << 32 | float_key(sv->v)) * 0xC2B2AE3D27D4EB4Full;
  h ^= (float_key(sv->normal[0]) << 32 | float_key(sv->normal[1])) * 0x165667B19E3779F9ull;
  h ^= float_key(sv->normal[2]) * 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// The comparison of the merge, in its order: host vertex, u, v, normal.
bool merge_equal(const mo_svertex *a, const mo_svertex *b) {
  return a->vertex == b->vertex && a->u == b->u && a->v == b->v && a->normal[0] == b->normal[0] &&
         a->normal[1] == b->normal[1] && a->normal[2] == b->normal[2];
}

bool has_nan(const mo_svertex *sv) {
  return sv->u != sv->u || sv->v != sv->v || sv->normal[0] != sv->normal[0] ||
         sv->normal[1] != sv->normal[1] || sv->normal[2] != sv->normal[2];
}

// The hash of the merge: rows that stand for themselves, by their fields.
// Linear probing: a probe that misses goes on in the same cache line.
class MergeIndex {
 public:
  explicit MergeIndex(const VertexRow *rows) : rows_(rows) {}
  ~MergeIndex() {
    if (slots_ != nullptr) myfree(slots_);
  }
  MergeIndex(const MergeIndex &) = delete;
  MergeIndex &operator=(const MergeIndex &) = delete;

  // Room for `count` rows before the first growth.  False when the host
  // has no memory.
  bool reserve(int32_t count) {
    uint32_t capacity = 64;
    while (capacity < static_cast<uint32_t>(count) && capacity < (1u << 31)) capacity *= 2;
    return rehash(capacity);
  }

  // Where the probe for `hash` starts: fetched ahead of the lookup.
  const void *home(uint64_t hash) const { return &slots_[static_cast<uint32_t>(hash) & mask_]; }

  // The first earlier row equal to row j (whose hash is `hash`), or -1
  // after entering row j.  -2 when the host has no memory to grow.
  int32_t find_or_enter(int32_t j, uint64_t hash) {
    const mo_svertex *sv = rows_[j].svertex;
    const auto tag = static_cast<uint32_t>(hash >> 32);
    uint32_t slot = static_cast<uint32_t>(hash) & mask_;
    for (; slots_[slot].row >= 0; slot = (slot + 1) & mask_) {
      const Slot &taken = slots_[slot];
      if (taken.tag == tag && merge_equal(rows_[taken.row].svertex, sv)) return taken.row;
    }
    slots_[slot] = Slot{tag, j};
    // At three quarters a miss walks too far: twice the slots.
    if (++count_ > (mask_ + 1) / 4 * 3 && !rehash((mask_ + 1) * 2)) return -2;
    return -1;
  }

 private:
  struct Slot {
    uint32_t tag;  // the high half of the row's hash
    int32_t row;   // -1: empty
  };

  bool rehash(uint32_t capacity) {
    if (capacity == 0) return false;  // beyond 2^31 slots
    auto *fresh = static_cast<Slot *>(myalloc(sizeof(Slot) * capacity));
    if (fresh == nullptr) return false;
    std::memset(fresh, 0xff, sizeof(Slot) * capacity);  // every row -1
    const uint32_t mask = capacity - 1;
    if (slots_ != nullptr) {
      for (uint32_t i = 0; i <= mask_; ++i) {
        if (slots_[i].row < 0) continue;
        uint32_t slot = static_cast<uint32_t>(merge_hash(rows_[slots_[i].row].svertex)) & mask;
        while (fresh[slot].row >= 0) slot = (slot + 1) & mask;
        fresh[slot] = slots_[i];
      }
      myfree(slots_);
    }
    slots_ = fresh;
    mask_ = mask;
    return true;
  }

  const VertexRow *rows_;
  Slot *slots_ = nullptr;
  uint32_t mask_ = 0;
  uint32_t count_ = 0;
};

// The merge's polls: at rows 0, 100, 200, ... with the percentage done.
// True when the poll answers with a cancel.
class MergePolls {
 public:
  explicit MergePolls(int32_t row_count) : row_count_(row_count) {}

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
    return cancel_poll(text_);
  }

 private:
  int32_t row_count_;
  int shown_percent_ = -1;
  char text_[80];
};

// The merge by the hash of all compared fields.  False when the host has
// no memory for the hash.
bool merge_by_hash(VertexTable &table) {
  VertexRow *rows = table.rows;
  const int32_t count = table.entered_count;
  MergeIndex index(rows);
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
    a.nan = has_nan(sv);
    a.hash = a.nan ? 0 : merge_hash(sv);
    if (!a.nan) __builtin_prefetch(index.home(a.hash));
  };
  for (int32_t row = 0; row < kAhead; ++row) look_ahead(row);
  MergePolls polls(table.row_count);

  for (int32_t j = 0; j < count; ++j) {
    const Ahead current = ahead[j % kAhead];
    look_ahead(j + kAhead);
    if (!current.nan) {
      const int32_t first = index.find_or_enter(j, current.hash);
      if (first == -2) return false;
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
bool merge_by_vertex(VertexTable &table, const VertexPlaces &places) {
  VertexRow *rows = table.rows;
  const int32_t count = table.entered_count;
  HostArray<int32_t> newest;  // per vertex: its latest row that stands for itself
  HostArray<int32_t> older;   // per row that stands for itself: the one before it
  if (!newest.allocate(places.count()) || !older.allocate(static_cast<std::size_t>(count))) {
    return false;
  }
  std::fill(newest.items, newest.items + places.count(), -1);
  MergeIndex strangers(rows);
  bool strangers_ready = false;
  MergePolls polls(table.row_count);

  for (int32_t j = 0; j < count; ++j) {
    const mo_svertex *sv = rows[j].svertex;
    if (!has_nan(sv)) {
      int32_t first = -1;
      const int32_t place = places.of(sv->vertex);
      if (place >= 0) {
        for (int32_t row = newest.items[place]; row >= 0; row = older.items[row]) {
          if (merge_equal(rows[row].svertex, sv)) {
            first = row;
            break;
          }
        }
        if (first < 0) {
          older.items[j] = newest.items[place];
          newest.items[place] = j;
        }
      } else {
        if (!strangers_ready && !(strangers_ready = strangers.reserve(16))) return false;
        first = strangers.find_or_enter(j, merge_hash(sv));
        if (first == -2) return false;
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
bool merge_rows(VertexTable &table, const VertexPlaces *places) {
  return places != nullptr ? merge_by_vertex(table, *places) : merge_by_hash(table);
}

// The lookup index of vertex_table_find over the entered rows; on a failed
// allocation the lookups scan instead.
void make_find_index(VertexTable &table) {
  const uint32_t capacity = slot_capacity(table.entered_count);
  int32_t *slots = allocate_empty_slots(capacity);
  if (slots == nullptr) {
    table.find_scans = true;
    return;
  }
  const uint32_t mask = capacity - 1;
  for (int32_t row = 0; row < table.entered_count; ++row) {
    const mo_svertex *sv = table.rows[row].svertex;
    uint32_t slot = pointer_hash(sv) & mask;
    uint32_t probe = 0;
    // Rows go in ascending order and a surface vertex already there keeps
    // its slot, so a lookup answers with the first row.
    while (slots[slot] >= 0 && table.rows[slots[slot]].svertex != sv) {
      slot = (slot + ++probe) & mask;
    }
    if (slots[slot] < 0) slots[slot] = row;
  }
  table.find_slots = slots;
  table.find_mask = mask;
}

}  // namespace

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

int vertex_table_bucket(const VertexTable & /*table*/, const mo_svertex *svertex) {
  const auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(svertex->vertex));
  return static_cast<int>(low % static_cast<uint32_t>(kVertexBuckets));
}

// The first entered row after `row` that falls into `bucket`, or -1.
static int32_t next_in_bucket(const VertexTable &table, int bucket, int32_t row) {
  for (int32_t next = row + 1; next < table.entered_count; ++next) {
    if (vertex_table_bucket(table, table.rows[next].svertex) == bucket) return next;
  }
  return -1;
}

int32_t vertex_table_bucket_first(const VertexTable &table, int bucket) {
  return next_in_bucket(table, bucket, -1);
}

int32_t vertex_table_bucket_after(const VertexTable &table, int32_t row) {
  if (row < 0 || row >= table.entered_count) return -1;
  return next_in_bucket(table, vertex_table_bucket(table, table.rows[row].svertex), row);
}

VertexTableBuild vertex_table_build(VertexTable &table, mo_list surfaces, int32_t row_count,
                                    const VertexPlaces *places) {
  vertex_table_free(table);
  if (row_count < 0) row_count = 0;
  if (row_count > kMaxRows) return VertexTableBuild::out_of_memory;

  // 1. Counts and rows.
  if (row_count > 0) {
    table.rows =
        static_cast<VertexRow *>(myalloc(sizeof(VertexRow) * static_cast<std::size_t>(row_count)));
    if (table.rows == nullptr) return VertexTableBuild::out_of_memory;
  }
  table.row_count = row_count;
  table.remaining_count = row_count;

  // 2. and 3. One row per surface vertex, polling after every 100th.
  bool cancelled = false;
  VertexRow *const rows = table.rows;
  int32_t entered = 0;
  for (mo_list_node *node = surfaces; node != nullptr && !cancelled; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface == nullptr) continue;
    for (mo_list_node *sv = surface->svertices; sv != nullptr; sv = sv->next) {
      // The count is the caller's; a list longer than it never writes
      // past the rows.
      if (entered == row_count) break;
      rows[entered++] = VertexRow{static_cast<mo_svertex *>(sv->item), -1, -1};
      if (entered % 100 == 0) {
        table.entered_count = entered;
        if (cancel_poll(kCreateVertexListText)) {
          cancelled = true;
          break;
        }
      }
    }
  }
  table.entered_count = entered;

  // The merge, also after a cancel: it looks at row 0, polls and ends.
  if (option_is_set(opt_optimize_vertices) && !merge_rows(table, places)) {
    vertex_table_free(table);
    return VertexTableBuild::out_of_memory;
  }
  if (cancelled || table.entered_count < row_count) return VertexTableBuild::cut_short;
  return VertexTableBuild::complete;
}

int32_t vertex_table_find(VertexTable &table, const mo_svertex *svertex) {
  if (table.rows == nullptr || svertex == nullptr) return -1;
  if (table.find_slots == nullptr && !table.find_scans) make_find_index(table);
  if (table.find_scans) {
    for (int32_t row = 0; row < table.entered_count; ++row) {
      if (table.rows[row].svertex == svertex) return row;
    }
    return -1;
  }
  uint32_t slot = pointer_hash(svertex) & table.find_mask;
  uint32_t probe = 0;
  while (table.find_slots[slot] >= 0) {
    const int32_t row = table.find_slots[slot];
    if (table.rows[row].svertex == svertex) return row;
    slot = (slot + ++probe) & table.find_mask;
  }
  return -1;
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
  if (table.find_slots != nullptr) myfree(table.find_slots);
  table.rows = nullptr;
  table.find_slots = nullptr;
  table.find_mask = 0;
  table.find_scans = false;
  table.row_count = 0;
  table.remaining_count = 0;
  table.entered_count = 0;
}

}  // namespace qel
