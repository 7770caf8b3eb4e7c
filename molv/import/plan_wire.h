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

// Writes to a descriptor; ok() is false from the first write that fails.
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
  bool array(const std::vector<T> &values) {
    static_assert(std::is_trivially_copyable<T>::value, "bytes as they are");
    return count(values) && bytes(values.data(), values.size() * sizeof(T));
  }
  template <class T>
  bool count(const std::vector<T> &values) {
    return pod(uint64_t{values.size()});
  }
  bool ok() const { return ok_; }

 private:
  bool bytes(const void *data, size_t size);
  int fd_;
  bool ok_ = true;
};

// Reads from bytes in memory; ok() is false from the first read past
// their end.  A count is never taken for more than the bytes left.
class WireIn {
 public:
  WireIn(const char *data, size_t size) : data_(data), left_(size) {}
  template <class T>
  bool pod(T &value) {
    static_assert(std::is_trivially_copyable<T>::value, "bytes as they are");
    return bytes(&value, sizeof value);
  }
  bool text(std::string &s);
  template <class T>
  bool array(std::vector<T> &values) {
    static_assert(std::is_trivially_copyable<T>::value, "bytes as they are");
    return count(values, sizeof(T)) && bytes(values.data(), values.size() * sizeof(T));
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
  const char *data_;
  size_t left_;
  bool ok_ = true;
};

bool send_plan(WireOut &out, const ModelPlan &plan);
// Fills *PLAN (a new one) from IN; false when the bytes are not a whole
// plan, or not one that holds together (a child before its parent, a
// corner naming a vertex the object lacks, ...).
bool take_plan(WireIn &in, ModelPlan *plan);

}  // namespace molv

#endif  // MOLV_IMPORT_PLAN_WIRE_H
