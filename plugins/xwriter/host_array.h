/*
 * A block of the host allocator holding items of one type, owned by the
 * code that took it: the tables of a mesh must go back to the host on
 * every path (normal end, a cancel, a failed allocation), so they are
 * given back by the destructor.
 */
#ifndef QEL_XWRITER_HOST_ARRAY_H
#define QEL_XWRITER_HOST_ARRAY_H

#include <cstddef>
#include <cstdint>

#include "host/molv_host.h"

namespace qel {

template <class T>
class HostArray {
 public:
  HostArray() = default;
  ~HostArray() {
    if (items != nullptr) myfree(items);
  }
  HostArray(const HostArray &) = delete;
  HostArray &operator=(const HostArray &) = delete;

  // Room for `n` items, not initialised; none takes no block.  False when
  // the host has no memory.
  bool allocate(std::size_t n) {
    if (n == 0) return true;
    items = static_cast<T *>(myalloc(sizeof(T) * n));
    return items != nullptr;
  }

  // Room for `n` items, the `count` in use kept (items must be trivially
  // copyable).  False, the items untouched, when the host has no memory.
  bool reallocate(std::size_t n) {
    T *larger = static_cast<T *>(myalloc(sizeof(T) * (n > 0 ? n : 1)));
    if (larger == nullptr) return false;
    for (int32_t i = 0; i < count; ++i) larger[i] = items[i];
    if (items != nullptr) myfree(items);
    items = larger;
    return true;
  }

  T *items = nullptr;
  int32_t count = 0;  // the items in use, where the owner counts them
};

}  // namespace qel

#endif  // QEL_XWRITER_HOST_ARRAY_H
