/*
 * The duplication list: the first written index of each host vertex, by
 * the vertices' places or by hash, against a plain map on random streams.
 */
#include "xwriter/first_written.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "api/host_memory.h"
#include "api/test_hooks.h"
#include "support/export_harness.h"

namespace {

using qel_test::RecordList;

TEST(FirstWritten, KeepsTheFirstIndexOfEveryVertexByPlaceByHashAndMixed) {
  std::vector<mo_vertex> own(300);
  std::vector<mo_vertex> strangers(40);
  std::vector<mo_vertex *> own_records;
  for (auto &v : own) own_records.push_back(&v);
  RecordList list(own_records);
  qel::VertexPlaces places;
  ASSERT_TRUE(places.measure(list.list, static_cast<int32_t>(own.size())));

  struct Way {
    const char *name;
    bool by_place;
    bool with_strangers;
  };
  for (const Way way : {Way{"by hash", false, false}, Way{"by hash with strangers", false, true},
                        Way{"by place", true, false}, Way{"by place with strangers", true, true}}) {
    SCOPED_TRACE(way.name);
    const long live = molv::live_allocations();
    {
      std::mt19937 random(4242);
      qel::FirstWritten first;
      // A small guess, so that the hash grows.
      ASSERT_TRUE(first.reserve(4, way.by_place ? &places : nullptr));
      std::map<const mo_vertex *, int32_t> expected;
      int32_t last_new = -1;
      for (int32_t index = 0; index < 2000; ++index) {
        mo_vertex *v = way.with_strangers && random() % 4 == 0 ? &strangers[random() % 40]
                                                                : &own[random() % 200];
        ASSERT_TRUE(first.note(v, index));
        if (expected.emplace(v, index).second) last_new = index;
      }
      EXPECT_EQ(first.count(), static_cast<int32_t>(expected.size()));
      EXPECT_EQ(first.length(), last_new + 1);
      // Vertices 200 to 299 and some strangers were never noted.
      for (auto &v : own) {
        const auto it = expected.find(&v);
        EXPECT_EQ(first.find(&v), it == expected.end() ? -1 : it->second);
      }
      for (auto &v : strangers) {
        const auto it = expected.find(&v);
        EXPECT_EQ(first.find(&v), it == expected.end() ? -1 : it->second);
      }
    }
    EXPECT_EQ(molv::live_allocations(), live) << "blocks not given back";
  }
}

TEST(FirstWritten, AFailedAllocationIsReportedAndLeavesNothingLive) {
  std::vector<mo_vertex> own(50);
  std::vector<mo_vertex *> records;
  for (auto &v : own) records.push_back(&v);
  RecordList list(records);
  qel::VertexPlaces places;
  ASSERT_TRUE(places.measure(list.list, 50));
  const long live = molv::live_allocations();
  for (long fail_after : {0L, 1L}) {
    {
      qel::FirstWritten first;
      molv::set_fail_alloc_after(fail_after);
      EXPECT_FALSE(first.reserve(50, &places));
    }
    molv::set_fail_alloc_after(-1);
    EXPECT_EQ(molv::live_allocations(), live);
  }
  {
    // The hash grows while noting: a failure there is reported too.
    qel::FirstWritten first;
    ASSERT_TRUE(first.reserve(4, nullptr));
    molv::set_fail_alloc_after(0);
    bool failed = false;
    for (int32_t i = 0; i < 50 && !failed; ++i) failed = !first.note(&own[i], i);
    molv::set_fail_alloc_after(-1);
    EXPECT_TRUE(failed);
  }
  EXPECT_EQ(molv::live_allocations(), live);
}

}  // namespace
