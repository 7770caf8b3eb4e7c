/*
 * The vertex table: rows, buckets, the merge of equal surface vertices and
 * the written indices.
 *
 * The merge keeps an open-addressing hash of the rows that stand for
 * themselves (not merged, no NaN), keyed by the six compared fields.  Rows
 * are looked at in ascending order and a row enters the hash only when no
 * equal row is there yet, so the row the hash finds is the first earlier row
 * with equal fields: the one a walk of the row's bucket would meet first.
 * Equal fields must hash alike, so a zero float hashes as +0 whatever its
 * sign; a row with a NaN can equal nothing and never enters the hash.
 */
#include "xwriter/vertex_table.h"

#include <cstdio>
#include <cstring>

#include "binding/options.h"
#include "export/export_state.h"

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

// The bits a float contributes to the merge hash: both zeros as +0.
uint32_t float_key(float value) {
  if (value == 0.0f) return 0;
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// One step of MurmurHash2.
uint32_t hash_update(uint32_t h, uint32_t k) {
  const uint32_t m = 0x5bd1e995;
  k *= m;
  k ^= k >> 24;
  k *= m;
  h *= m;
  h ^= k;
  return h;
}

uint32_t merge_hash(const mo_svertex *sv) {
  const uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(sv->vertex));
  uint32_t h = 0;
  h = hash_update(h, static_cast<uint32_t>(address));
  h = hash_update(h, static_cast<uint32_t>(address >> 32));
  h = hash_update(h, float_key(sv->u));
  h = hash_update(h, float_key(sv->v));
  h = hash_update(h, float_key(sv->normal[0]));
  h = hash_update(h, float_key(sv->normal[1]));
  h = hash_update(h, float_key(sv->normal[2]));
  h ^= h >> 13;
  h *= 0x5bd1e995;
  h ^= h >> 15;
  return h;
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

void enter_row(VertexTable &table, mo_svertex *svertex) {
  const int32_t row = table.entered_count++;
  table.rows[row] = VertexRow{svertex, -1, -1};
  table.bucket_next[row] = -1;
  const int bucket = vertex_table_bucket(table, svertex);
  if (table.bucket_tail[bucket] < 0) {
    table.bucket_head[bucket] = row;
  } else {
    table.bucket_next[table.bucket_tail[bucket]] = row;
  }
  table.bucket_tail[bucket] = row;
}

// The merge over the entered rows.  False when the host has no memory for
// the hash.
bool merge_rows(VertexTable &table) {
  const uint32_t capacity = slot_capacity(table.entered_count);
  const uint32_t mask = capacity - 1;
  int32_t *slots = allocate_empty_slots(capacity);
  if (slots == nullptr) return false;

  VertexRow *rows = table.rows;
  for (int32_t j = 0; j < table.entered_count; ++j) {
    mo_svertex *sv = rows[j].svertex;
    if (!has_nan(sv)) {
      uint32_t slot = merge_hash(sv) & mask;
      uint32_t probe = 0;
      bool merged = false;
      while (slots[slot] >= 0) {
        const int32_t i = slots[slot];
        if (merge_equal(rows[i].svertex, sv)) {
          rows[j].merged_into = i;
          --table.remaining_count;
          merged = true;
          break;
        }
        // Triangular probing visits every slot of a power-of-two table.
        slot = (slot + ++probe) & mask;
      }
      if (!merged) slots[slot] = j;
    }
    if (j % 100 == 0) {
      char text[80];
      std::snprintf(text, sizeof text, "Export X File - Optimize Vertices ( %d %% ) ...",
                    static_cast<int>(static_cast<int64_t>(j) * 100 / table.row_count));
      if (cancel_poll(text)) break;
    }
  }
  myfree(slots);
  return true;
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

VertexTable::VertexTable() {
  for (int b = 0; b < kVertexBuckets; ++b) bucket_head[b] = bucket_tail[b] = -1;
}

VertexTable::~VertexTable() { vertex_table_free(*this); }

int vertex_table_bucket(const VertexTable & /*table*/, const mo_svertex *svertex) {
  const auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(svertex->vertex));
  return static_cast<int>(low % static_cast<uint32_t>(kVertexBuckets));
}

VertexTableBuild vertex_table_build(VertexTable &table, mo_list surfaces, int32_t row_count) {
  vertex_table_free(table);
  if (row_count < 0) row_count = 0;
  if (row_count > kMaxRows) return VertexTableBuild::out_of_memory;

  // 1. Counts, rows and empty buckets.  Rows and bucket links share a block.
  if (row_count > 0) {
    const std::size_t rows_bytes = sizeof(VertexRow) * static_cast<std::size_t>(row_count);
    const std::size_t links_bytes = sizeof(int32_t) * static_cast<std::size_t>(row_count);
    void *block = myalloc(rows_bytes + links_bytes);
    if (block == nullptr) return VertexTableBuild::out_of_memory;
    table.rows = static_cast<VertexRow *>(block);
    table.bucket_next = reinterpret_cast<int32_t *>(static_cast<char *>(block) + rows_bytes);
  }
  table.row_count = row_count;
  table.remaining_count = row_count;

  // 2. and 3. One row per surface vertex, polling after every 100th.
  bool cancelled = false;
  for (mo_list_node *node = surfaces; node != nullptr && !cancelled; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface == nullptr) continue;
    for (mo_list_node *sv = surface->svertices; sv != nullptr; sv = sv->next) {
      // The count is the caller's; a list longer than it never writes
      // past the rows.
      if (table.entered_count == row_count) break;
      enter_row(table, static_cast<mo_svertex *>(sv->item));
      if (table.entered_count % 100 == 0 && cancel_poll(kCreateVertexListText)) {
        cancelled = true;
        break;
      }
    }
  }

  // The merge, also after a cancel: it looks at row 0, polls and ends.
  if (option_is_set(opt_optimize_vertices) && !merge_rows(table)) {
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
  if (table.rows != nullptr) myfree(table.rows);  // the bucket links too
  if (table.find_slots != nullptr) myfree(table.find_slots);
  table.rows = nullptr;
  table.bucket_next = nullptr;
  table.find_slots = nullptr;
  table.find_mask = 0;
  table.find_scans = false;
  table.row_count = 0;
  table.remaining_count = 0;
  table.entered_count = 0;
  for (int b = 0; b < kVertexBuckets; ++b) table.bucket_head[b] = table.bucket_tail[b] = -1;
}

}  // namespace qel
