/*
 * The duplication list of a mesh: for each host vertex, the index of the
 * first written vertex that stands on it.
 */
#ifndef QEL_XWRITER_FIRST_WRITTEN_H
#define QEL_XWRITER_FIRST_WRITTEN_H

#include <algorithm>
#include <cstdint>

#include "host/molv_host.h"
#include "xwriter/hash_lookup.h"
#include "xwriter/host_array.h"
#include "xwriter/vertex_table.h"

namespace qel {

// The duplication list: for each host vertex, the index of the first
// written vertex that stands on it.  By the vertex's place in the object's
// vertex list when the vertices stand at equal steps, else (and for a
// vertex not in the list) in the hash lookup by its address.  Its length,
// as the list would have it, is the highest first index plus one.
class FirstWritten {
 public:
  FirstWritten() = default;
  FirstWritten(const FirstWritten &) = delete;
  FirstWritten &operator=(const FirstWritten &) = delete;

  // Room for about `expected` host vertices, or for the vertices at
  // `places` (may be null).  False on a failed allocation.
  bool reserve(int32_t expected, const VertexPlaces *places) {
    if (places != nullptr) {
      if (!by_place_.allocate(places->count())) return false;
      std::fill(by_place_.items, by_place_.items + places->count(), -1);
      places_ = places;
      expected = 8;  // the hash is for strangers only
    }
    return hashed_.reserve(static_cast<uint32_t>(expected) * 2u);
  }

  // Records `index` for `vertex` unless the vertex has one already.  False
  // on a failed allocation.
  bool note(const mo_vertex *vertex, int32_t index) {
    const int32_t place = places_ != nullptr ? places_->of(vertex) : -1;
    if (place >= 0) {
      if (by_place_.items[place] < 0) {
        by_place_.items[place] = index;
        first_noted(index);
      }
      return true;
    }
    Entry *slot = hashed_.find(vertex, pointer_hash(vertex));
    if (slot->vertex != nullptr) return true;
    first_noted(index);
    return hashed_.insert(slot, Entry{vertex, index});
  }

  // The first written index of `vertex`; -1 when none was written.
  int32_t find(const mo_vertex *vertex) const {
    const int32_t place = places_ != nullptr ? places_->of(vertex) : -1;
    if (place >= 0) return by_place_.items[place];
    return hashed_.find(vertex, pointer_hash(vertex))->index;
  }

  int32_t count() const { return count_; }
  int32_t length() const { return length_; }

 private:
  struct Entry {
    const mo_vertex *vertex;  // null: empty
    int32_t index;
  };
  struct ByAddress {
    using Slot = Entry;
    static Entry empty_slot() { return Entry{nullptr, -1}; }
    static bool is_empty(const Entry &entry) { return entry.vertex == nullptr; }
    uint64_t hash(const Entry &entry) const { return pointer_hash(entry.vertex); }
    bool equal(const Entry &entry, const mo_vertex *vertex) const { return entry.vertex == vertex; }
  };

  void first_noted(int32_t index) {
    ++count_;
    length_ = index + 1;
  }

  const VertexPlaces *places_ = nullptr;
  HostArray<int32_t> by_place_;
  HashLookup<ByAddress> hashed_;
  int32_t count_ = 0;  // vertices noted
  int32_t length_ = 0;
};

}  // namespace qel

#endif  // QEL_XWRITER_FIRST_WRITTEN_H
