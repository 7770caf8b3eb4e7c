/*
 * The hash lookup of the mesh writer's tables: every entry stays findable
 * through collisions, probes that wrap past the last slot and growth, and
 * a growth without memory is reported with nothing lost.
 */
#include "xwriter/hash_lookup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "api/host_memory.h"
#include "api/test_hooks.h"

namespace {

struct Entry {
  int32_t key;  // -1: empty
  int32_t value;
};

// Keys hashed by a table of their own, so a test chooses the collisions:
// all keys on one home slot, or on the last slot, or spread out.
struct ByKey {
  using Slot = Entry;
  uint64_t (*hash_of)(int32_t key);
  static Entry empty_slot() { return Entry{-1, 0}; }
  static bool is_empty(const Entry &entry) { return entry.key < 0; }
  uint64_t hash(const Entry &entry) const { return hash_of(entry.key); }
  bool equal(const Entry &entry, int32_t key) const { return entry.key == key; }
};

// Enters the keys in order with their first index as value, as the
// duplication list does, and checks every one against a plain map.
void enter_and_check(qel::HashLookup<ByKey> &lookup, uint64_t (*hash_of)(int32_t),
                     const std::vector<int32_t> &keys) {
  std::map<int32_t, int32_t> first;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const int32_t key = keys[i];
    Entry *slot = lookup.find(key, hash_of(key));
    if (slot->key == key) continue;
    ASSERT_LT(slot->key, 0);
    ASSERT_TRUE(lookup.insert(slot, Entry{key, static_cast<int32_t>(i)}));
    first.emplace(key, static_cast<int32_t>(i));
  }
  for (const auto &[key, index] : first) {
    const Entry *slot = lookup.find(key, hash_of(key));
    ASSERT_EQ(slot->key, key);
    EXPECT_EQ(slot->value, index) << "key " << key;
  }
  EXPECT_LT(lookup.find(1 << 30, hash_of(1 << 30))->key, 0);  // never entered
}

TEST(HashLookup, EveryEntryStaysFindableThroughCollisionsWrapsAndGrowth) {
  const long live = molv::live_allocations();
  std::mt19937 random(11);
  std::vector<int32_t> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back(static_cast<int32_t>(random() % 1000));

  struct Way {
    const char *name;
    uint64_t (*hash_of)(int32_t);
  } ways[] = {
      {"one home", [](int32_t) -> uint64_t { return 5; }},
      {"last slot", [](int32_t) -> uint64_t { return ~uint64_t{0}; }},
      {"spread",
       [](int32_t key) -> uint64_t {
         const uintptr_t address = uintptr_t{0x10000} + 24u * static_cast<uint32_t>(key);
         return qel::pointer_hash(reinterpret_cast<const void *>(address));
       }},
  };
  for (const Way &way : ways) {
    SCOPED_TRACE(way.name);
    qel::HashLookup<ByKey> lookup(ByKey{way.hash_of});
    ASSERT_TRUE(lookup.reserve(4));  // grows many times on the way
    enter_and_check(lookup, way.hash_of, keys);
  }
  EXPECT_EQ(molv::live_allocations(), live);
}

TEST(HashLookup, AGrowthWithoutMemoryIsReportedAndKeepsWhatWasEntered) {
  const long live = molv::live_allocations();
  auto hash_of = [](int32_t key) -> uint64_t { return static_cast<uint64_t>(key) * 7; };
  {
    qel::HashLookup<ByKey> lookup(ByKey{hash_of});
    ASSERT_TRUE(lookup.reserve(16));
    molv::set_fail_alloc_after(0);
    bool grown = true;
    int32_t entered = 0;
    while (grown) {
      Entry *slot = lookup.find(entered, hash_of(entered));
      grown = lookup.insert(slot, Entry{entered, entered});
      ++entered;
    }
    molv::set_fail_alloc_after(-1);
    EXPECT_EQ(entered, 13);  // three quarters of 16 slots, and the one beyond
    for (int32_t key = 0; key < entered; ++key) {
      EXPECT_EQ(lookup.find(key, hash_of(key))->value, key);
    }
  }
  EXPECT_EQ(molv::live_allocations(), live);
}

}  // namespace
