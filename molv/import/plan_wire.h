/*
 * A model's plan in bytes: the child process that reads a model hands
 * molv the plan it made (isolated_read.h), so that molv builds the model
 * without reading the file a second time.  Both ends are the same molv, so
 * numbers go as they are in memory.  One list of fields serves both ways
 * (plan_wire.cpp); a plan that does not come back whole is refused, never
 * half taken.
 */
#ifndef MOLV_IMPORT_PLAN_WIRE_H
#define MOLV_IMPORT_PLAN_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "import/model_plan.h"

namespace molv {

// Arrays start at a multiple of this many bytes from the start, so that
// molv reads them where its mapping of the answer holds them.
inline constexpr size_t kWireAlign = 8;

// Writes to a descriptor, the small fields gathered into writes of a few
// kilobytes; ok() is false from the first write that fails.  finish()
// writes what is gathered.
class WireOut {
 public:
  explicit WireOut(int fd) : fd_(fd) {}
  template <class T>
  bool pod(const T &value) {
    static_assert(std::is_trivially_copyable<T>::value, "bytes as they are");
    return bytes(&value, sizeof value);
  }
  bool text(const std::string &s) { return pod(uint64_t{s.size()}) && bytes(s.data(), s.size()); }
  template <class T>
  bool array(ArrayView<T> values) {
    static_assert(std::is_trivially_copyable<T>::value && alignof(T) <= kWireAlign,
                  "bytes as they are");
    return pod(uint64_t{values.size()}) && align() &&
           bytes(values.data, values.size() * sizeof(T));
  }
  template <class T>
  bool array(const std::vector<T> &values) {
    return array(ArrayView<T>(values));
  }
  template <class T>
  bool count(const std::vector<T> &values) {
    return pod(uint64_t{values.size()});
  }
  bool finish();
  bool ok() const { return ok_; }

 private:
  bool bytes(const void *data, size_t size);
  bool align();
  int fd_;
  bool ok_ = true;
  uint64_t offset_ = 0;
  std::string gathered_;
};

// Reads from bytes in memory; ok() is false from the first read past
// their end.  A count is never taken for more than the bytes left.
class WireIn {
 public:
  WireIn(const char *data, size_t size) : start_(data), data_(data), left_(size) {}
  template <class T>
  bool pod(T &value) {
    static_assert(std::is_trivially_copyable<T>::value, "bytes as they are");
    return bytes(&value, sizeof value);
  }
  bool text(std::string &s);
  // An array read where it is: VALUES views these bytes, which must stay
  // as long as it is read.
  template <class T>
  bool view(ArrayView<T> &values) {
    static_assert(std::is_trivially_copyable<T>::value && alignof(T) <= kWireAlign,
                  "bytes as they are");
    uint64_t n = 0;
    if (!pod(n) || !align() || n > left_ / sizeof(T)) return ok_ = false;
    if (reinterpret_cast<uintptr_t>(data_) % alignof(T) != 0) return ok_ = false;
    values = ArrayView<T>(reinterpret_cast<const T *>(data_), static_cast<size_t>(n));
    data_ += n * sizeof(T);
    left_ -= n * sizeof(T);
    return true;
  }
  // An array copied into VALUES.
  template <class T>
  bool array(std::vector<T> &values) {
    ArrayView<T> at;
    if (!view(at)) return false;
    values.assign(at.begin(), at.end());
    return true;
  }
  // Reads a count and sizes VALUES to it, each element taking at least
  // AT_LEAST bytes of what is left.
  template <class T>
  bool count(std::vector<T> &values, size_t at_least = 1) {
    uint64_t n = 0;
    if (!pod(n) || n > left_ / at_least) return ok_ = false;
    values.resize(static_cast<size_t>(n));
    return true;
  }
  bool ok() const { return ok_; }

 private:
  bool bytes(void *out, size_t size);
  bool align();
  const char *start_;
  const char *data_;
  size_t left_;
  bool ok_ = true;
};

bool send_plan(WireOut &out, const ModelPlan &plan);
// Fills *PLAN (a new one) from IN; false when the bytes are not a whole
// plan, or not one that holds together (a child before its parent, a
// corner naming a vertex the object lacks, ...).  The objects' arrays are
// read where IN's bytes hold them (Planned::received): the bytes must stay
// until the model is built.
bool take_plan(WireIn &in, ModelPlan *plan);

}  // namespace molv

#endif  // MOLV_IMPORT_PLAN_WIRE_H
