/*
 * The duplication list of a mesh: for each host vertex, the index of the
 * first written vertex that stands on it.
 */
#ifndef QEL_XWRITER_FIRST_WRITTEN_H
#define QEL_XWRITER_FIRST_WRITTEN_H

#include <algorithm>
#include <cstdint>

#include "host/molv_host.h"
#include "xwriter/host_array.h"
#include "xwriter/vertex_table.h"

namespace qel {

// The duplication list: for each host vertex, the index of the first
// written vertex that stands on it.  By the vertex's place in the object's
// vertex list when the vertices stand at equal steps, else (and for a
// vertex not in the list) in an open-addressing hash grown as host
// vertices come.  Its length, as the list would have it, is the highest
// first index plus one.
class FirstWritten {
 public:
  FirstWritten() = default;
  ~FirstWritten() {
    if (slots_ != nullptr) myfree(slots_);
  }
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
    uint32_t capacity = 16;
    while (capacity < static_cast<uint32_t>(expected) * 2u && capacity < (1u << 30)) capacity *= 2;
    return rehash(capacity);
  }

  // Records `index` for `vertex` unless the vertex has one already.  False
  // on a failed allocation.
  bool note(const mo_vertex *vertex, int32_t index) {
    const int32_t place = places_ != nullptr ? places_->of(vertex) : -1;
    if (place >= 0) {
      if (by_place_.items[place] < 0) {
        by_place_.items[place] = index;
        ++count_;
        length_ = index + 1;
      }
      return true;
    }
    if (static_cast<uint32_t>(hashed_ + 1) * 2u > mask_ + 1) {
      if (mask_ + 1 >= (1u << 30) || !rehash((mask_ + 1) * 2)) return false;
    }
    Slot *slot = probe(vertex);
    if (slot->vertex == nullptr) {
      slot->vertex = vertex;
      slot->index = index;
      ++hashed_;
      ++count_;
      length_ = index + 1;
    }
    return true;
  }

  // The first written index of `vertex`; -1 when none was written.
  int32_t find(const mo_vertex *vertex) const {
    const int32_t place = places_ != nullptr ? places_->of(vertex) : -1;
    if (place >= 0) return by_place_.items[place];
    const Slot *slot = probe(vertex);
    return slot->vertex != nullptr ? slot->index : -1;
  }

  int32_t count() const { return count_; }
  int32_t length() const { return length_; }

 private:
  struct Slot {
    const mo_vertex *vertex;  // null: empty
    int32_t index;
  };

  static uint32_t hash(const mo_vertex *vertex) {
    const uint64_t h =
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(vertex)) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32);
  }

  // The slot holding `vertex`, or the empty slot where it would go.
  Slot *probe(const mo_vertex *vertex) const {
    uint32_t i = hash(vertex) & mask_;
    uint32_t step = 0;
    while (slots_[i].vertex != nullptr && slots_[i].vertex != vertex) i = (i + ++step) & mask_;
    return &slots_[i];
  }

  bool rehash(uint32_t capacity) {
    auto *fresh = static_cast<Slot *>(myalloc(sizeof(Slot) * capacity));
    if (fresh == nullptr) return false;
    for (uint32_t i = 0; i < capacity; ++i) fresh[i] = Slot{nullptr, -1};
    Slot *old = slots_;
    const uint32_t old_capacity = old != nullptr ? mask_ + 1 : 0;
    slots_ = fresh;
    mask_ = capacity - 1;
    for (uint32_t i = 0; i < old_capacity; ++i) {
      if (old[i].vertex != nullptr) *probe(old[i].vertex) = old[i];
    }
    if (old != nullptr) myfree(old);
    return true;
  }

  const VertexPlaces *places_ = nullptr;
  HostArray<int32_t> by_place_;
  Slot *slots_ = nullptr;
  uint32_t mask_ = 0;
  int32_t hashed_ = 0;  // vertices in the hash
  int32_t count_ = 0;   // vertices noted
  int32_t length_ = 0;
};

}  // namespace qel

#endif  // QEL_XWRITER_FIRST_WRITTEN_H
