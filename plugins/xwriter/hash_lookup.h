/*
 * The one open-addressing lookup of the mesh writer's tables (the merge of
 * equal surface vertices, the duplication list): slots in host memory, a
 * power-of-two count of them, linear probing (a probe that misses goes on
 * in the same cache line), twice the slots when three quarters are taken.
 *
 * A table says what its slots hold through its Hasher:
 *
 *   struct Hasher {
 *     using Slot = ...;                                  // trivially copyable
 *     static Slot empty_slot();                          // what an empty slot holds
 *     static bool is_empty(const Slot &slot);
 *     uint64_t hash(const Slot &slot) const;             // of an entry, to regrow
 *     bool equal(const Slot &slot, const Key &key) const;  // for each Key looked up
 *   };
 *
 * Ownership: the slots belong to the lookup and go back to the host with
 * it, on every path.
 */
#ifndef QEL_XWRITER_HASH_LOOKUP_H
#define QEL_XWRITER_HASH_LOOKUP_H

#include <cstdint>

#include "host/molv_host.h"

namespace qel {

// Fibonacci hashing of an address: the high half of the product mixes
// every address bit.
inline uint64_t pointer_hash(const void *pointer) {
  const uint64_t h =
      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer)) * 0x9E3779B97F4A7C15ull;
  return h >> 32;
}

template <class Hasher>
class HashLookup {
 public:
  using Slot = typename Hasher::Slot;

  explicit HashLookup(const Hasher &hasher = Hasher()) : hasher_(hasher) {}
  ~HashLookup() {
    if (slots_ != nullptr) myfree(slots_);
  }
  HashLookup(const HashLookup &) = delete;
  HashLookup &operator=(const HashLookup &) = delete;

  bool ready() const { return slots_ != nullptr; }

  // Room for `count` entries before the first growth, in at least 16
  // slots.  False when the host has no memory.
  bool reserve(uint32_t count) {
    uint32_t capacity = 16;
    while (capacity < count && capacity < kMaxSlots) capacity *= 2;
    return rehash(capacity);
  }

  // Where the probe for `hash` starts: fetched ahead of a lookup.
  const Slot *home(uint64_t hash) const { return &slots_[static_cast<uint32_t>(hash) & mask_]; }

  // The slot of the entry equal to `key`, or the empty slot where it would
  // go.  `hash` is the key's hash, as Hasher::hash gives it for an entry.
  template <class Key>
  Slot *find(const Key &key, uint64_t hash) const {
    for (uint32_t i = static_cast<uint32_t>(hash) & mask_;; i = (i + 1) & mask_) {
      Slot &slot = slots_[i];
      if (Hasher::is_empty(slot) || hasher_.equal(slot, key)) return &slot;
    }
  }

  // Puts `entry` into the empty slot `at` that find gave.  False when the
  // table had to grow and the host had no memory (the entry is in, but
  // the table is full: the caller ends the run).
  bool insert(Slot *at, const Slot &entry) {
    *at = entry;
    if (++count_ <= (mask_ + 1) / 4 * 3) return true;
    return mask_ + 1 < kMaxSlots && rehash((mask_ + 1) * 2);
  }

 private:
  static constexpr uint32_t kMaxSlots = uint32_t{1} << 31;

  bool rehash(uint32_t capacity) {
    auto *fresh = static_cast<Slot *>(myalloc(sizeof(Slot) * capacity));
    if (fresh == nullptr) return false;
    for (uint32_t i = 0; i < capacity; ++i) fresh[i] = Hasher::empty_slot();
    Slot *old = slots_;
    const uint32_t old_capacity = old != nullptr ? mask_ + 1 : 0;
    slots_ = fresh;
    mask_ = capacity - 1;
    for (uint32_t i = 0; i < old_capacity; ++i) {
      if (Hasher::is_empty(old[i])) continue;
      uint32_t slot = static_cast<uint32_t>(hasher_.hash(old[i])) & mask_;
      while (!Hasher::is_empty(slots_[slot])) slot = (slot + 1) & mask_;
      slots_[slot] = old[i];
    }
    if (old != nullptr) myfree(old);
    return true;
  }

  Hasher hasher_;
  Slot *slots_ = nullptr;
  uint32_t mask_ = 0;
  uint32_t count_ = 0;
};

}  // namespace qel

#endif  // QEL_XWRITER_HASH_LOOKUP_H
