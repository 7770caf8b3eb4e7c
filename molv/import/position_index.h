/*
 * The host vertices of one mesh by position, for the import's joining of
 * equal positions.
 */
#ifndef MOLV_IMPORT_POSITION_INDEX_H
#define MOLV_IMPORT_POSITION_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace molv {

// Equal positions are one vertex: compared as values (so -0 and +0 are one
// position, and a NaN is never equal to anything, not even itself).
struct Position {
  float p[3];
  bool operator==(const Position &other) const {
    return p[0] == other.p[0] && p[1] == other.p[1] && p[2] == other.p[2];
  }
};

inline uint64_t position_hash(const Position &position) {
  uint64_t hash = 1469598103934665603ull;
  for (float value : position.p) {
    if (value == 0.0f) value = 0.0f;  // -0 hashes like +0
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    hash = (hash ^ bits) * 1099511628211ull;
  }
  return hash ^ (hash >> 32);
}

// The host vertices of one mesh by position: open addressing over a table
// sized for the mesh's corners (a mesh read without joining has one vertex
// per face corner, millions for a large model), no allocation per entry.
class PositionIndex {
 public:
  explicit PositionIndex(size_t expected) {
    size_t capacity = 16;
    while (capacity < 2 * expected) capacity *= 2;
    slots_.assign(capacity, -1);
  }

  // The index given to an equal position before, or -1 after giving
  // `next` to this one.  A position with a NaN equals nothing and gets its
  // own index every time; it is not filed, as no lookup could find it
  // (and NaNs of one bit pattern, all in one run of slots, would make
  // every later lookup there walk past them all).
  int32_t find_or_add(const Position &position, uint64_t hash, const std::vector<float> &positions,
                      int32_t next) {
    if (!(position == position)) return -1;
    const size_t mask = slots_.size() - 1;
    size_t slot = static_cast<size_t>(hash) & mask;
    for (; slots_[slot] >= 0; slot = (slot + 1) & mask) {
      const float *p = &positions[3 * static_cast<size_t>(slots_[slot])];
      if (Position{{p[0], p[1], p[2]}} == position) return slots_[slot];
    }
    slots_[slot] = next;
    if (++count_ * 2 > slots_.size()) grow(positions);
    return -1;
  }

  // Starts fetching the slot where the lookup of `hash` begins: the table
  // of a large mesh is far larger than the caches.
  void prefetch(uint64_t hash) const {
    __builtin_prefetch(&slots_[static_cast<size_t>(hash) & (slots_.size() - 1)]);
  }

 private:
  void grow(const std::vector<float> &positions) {
    std::vector<int32_t> old(slots_.size() * 2, -1);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const int32_t index : old) {
      if (index < 0) continue;
      const float *p = &positions[3 * static_cast<size_t>(index)];
      size_t slot = static_cast<size_t>(position_hash(Position{{p[0], p[1], p[2]}})) & mask;
      while (slots_[slot] >= 0) slot = (slot + 1) & mask;
      slots_[slot] = index;
    }
  }

  std::vector<int32_t> slots_;
  size_t count_ = 0;
};

}  // namespace molv

#endif  // MOLV_IMPORT_POSITION_INDEX_H
