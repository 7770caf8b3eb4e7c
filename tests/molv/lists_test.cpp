/*
 * The host's lists and memory: what plug-ins get from list_* and myalloc,
 * and what they must give back.
 *
 * Every check of a list also checks the bookkeeping of its first node
 * (last node and length), which the constant-time append and count rely
 * on, and that no later node still believes it is a first node.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/host_memory.h"
#include "api/model.h"
#include "api/records.h"
#include "api/test_hooks.h"
#include "import/scene_file.h"

namespace {

void *item(intptr_t n) { return reinterpret_cast<void *>(n); }

std::vector<intptr_t> items_of(mo_list list) {
  std::vector<intptr_t> out;
  for (mo_list_node *node = list; node != nullptr; node = node->next) {
    out.push_back(reinterpret_cast<intptr_t>(node->item));
  }
  return out;
}

mo_list make_list(std::initializer_list<intptr_t> values) {
  mo_list list = nullptr;
  for (intptr_t v : values) list_add_item(&list, item(v));
  return list;
}

// The list holds exactly `expected`, and its first node's bookkeeping
// matches what a walk finds.
void expect_list(mo_list list, const std::vector<intptr_t> &expected) {
  EXPECT_EQ(items_of(list), expected);
  EXPECT_EQ(list_count(list), static_cast<int>(expected.size()));
  if (list == nullptr) return;
  const molv::ListNode *head = molv::as_node(list);
  mo_list_node *last = list;
  while (last->next != nullptr) {
    EXPECT_FALSE(molv::as_node(last->next)->is_head) << "a later node still marked first";
    last = last->next;
  }
  EXPECT_TRUE(head->is_head);
  EXPECT_EQ(head->last, molv::as_node(last));
  EXPECT_EQ(head->count, static_cast<int>(expected.size()));
}

class ListsTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = molv::live_allocations(); }
  void TearDown() override { EXPECT_EQ(molv::live_allocations(), start_) << "nodes leaked"; }
  long start_ = 0;
};

TEST_F(ListsTest, AddItemAppendsAtTheTail) {
  mo_list list = nullptr;
  expect_list(list, {});
  for (intptr_t i = 1; i <= 5; ++i) list_add_item(&list, item(i));
  expect_list(list, {1, 2, 3, 4, 5});
  EXPECT_EQ(molv::live_allocations(), start_ + 5);
  list_free(list);
}

TEST_F(ListsTest, AddItemHeadPrependsAndTheTailStaysKnown) {
  mo_list list = nullptr;
  list_add_item_head(&list, item(2));
  expect_list(list, {2});
  list_add_item_head(&list, item(1));
  list_add_item(&list, item(3));
  expect_list(list, {1, 2, 3});
  list_free(list);
}

TEST_F(ListsTest, AppendListMovesAllItemsToTheTail) {
  mo_list a = make_list({1, 2});
  mo_list b = make_list({3, 4, 5});
  list_append_list(&a, b);
  expect_list(a, {1, 2, 3, 4, 5});
  // The tail is b's tail now: a further item goes behind it.
  list_add_item(&a, item(6));
  expect_list(a, {1, 2, 3, 4, 5, 6});
  list_free(a);
}

TEST_F(ListsTest, AppendListWithEmptyLists) {
  mo_list empty = nullptr;
  list_append_list(&empty, nullptr);
  expect_list(empty, {});

  mo_list a = make_list({1, 2});
  list_append_list(&a, nullptr);
  expect_list(a, {1, 2});

  list_append_list(&empty, a);
  expect_list(empty, {1, 2});
  EXPECT_EQ(empty, a);
  list_add_item(&empty, item(3));
  expect_list(empty, {1, 2, 3});
  list_free(empty);
}

TEST_F(ListsTest, AppendingAListToItselfOrItsOwnTailChangesNothing) {
  mo_list a = make_list({1, 2, 3});
  list_append_list(&a, a);
  expect_list(a, {1, 2, 3});
  list_append_list(&a, a->next);  // would close a cycle
  expect_list(a, {1, 2, 3});
  list_free(a);
}

TEST_F(ListsTest, ReverseInPlace) {
  mo_list list = nullptr;
  list_reverse(&list);
  expect_list(list, {});

  list_add_item(&list, item(1));
  list_reverse(&list);
  expect_list(list, {1});

  list_add_item(&list, item(2));
  list_add_item(&list, item(3));
  list_reverse(&list);
  expect_list(list, {3, 2, 1});
  // The old first node is the tail now.
  list_add_item(&list, item(0));
  list_add_item_head(&list, item(4));
  expect_list(list, {4, 3, 2, 1, 0});
  list_reverse(&list);
  list_reverse(&list);
  expect_list(list, {4, 3, 2, 1, 0});
  list_free(list);
}

TEST_F(ListsTest, CountGetAndIndex) {
  EXPECT_EQ(list_count(nullptr), 0);
  EXPECT_EQ(list_get_item(nullptr, 0), nullptr);
  EXPECT_EQ(list_index(nullptr, item(1)), -1);

  mo_list list = make_list({10, 20, 10, 30});
  EXPECT_EQ(list_get_item(list, 0), item(10));
  EXPECT_EQ(list_get_item(list, 3), item(30));
  EXPECT_EQ(list_get_item(list, 4), nullptr);
  EXPECT_EQ(list_get_item(list, -1), nullptr);
  EXPECT_EQ(list_index(list, item(10)), 0) << "the first equal item";
  EXPECT_EQ(list_index(list, item(30)), 3);
  EXPECT_EQ(list_index(list, item(40)), -1);
  // An integer item 0 is an item like any other.
  list_add_item(&list, item(0));
  EXPECT_EQ(list_index(list, item(0)), 4);
  list_free(list);
}

// Random access past the short walk uses a cache of node addresses; every
// change of the list must be seen.
TEST_F(ListsTest, GetItemFollowsEveryChangeOfALongList) {
  mo_list list = nullptr;
  for (intptr_t i = 0; i < 100; ++i) list_add_item(&list, item(i));
  for (int i = 99; i >= 0; --i) ASSERT_EQ(list_get_item(list, i), item(i));

  list_add_item(&list, item(100));
  EXPECT_EQ(list_get_item(list, 100), item(100));
  list_reverse(&list);
  EXPECT_EQ(list_get_item(list, 20), item(80));
  EXPECT_EQ(list_get_item(list, 100), item(0));
  list_add_item_head(&list, item(-1));
  EXPECT_EQ(list_get_item(list, 20), item(81));
  mo_list other = make_list({500, 501});
  list_append_list(&list, other);
  EXPECT_EQ(list_get_item(list, 102), item(500));
  EXPECT_EQ(list_get_item(list, 104), nullptr);

  // A list freed and rebuilt from the same recycled nodes is a new list.
  list_free(list);
  list = nullptr;
  for (intptr_t i = 0; i < 104; ++i) list_add_item(&list, item(1000 + i));
  EXPECT_EQ(list_get_item(list, 50), item(1050));
  list_free(list);
}

// A plug-in may treat any node as the start of a list of its own.
TEST_F(ListsTest, ANodeInsideAListWorksAsAList) {
  mo_list list = make_list({1, 2, 3, 4});
  mo_list tail = list->next->next;
  EXPECT_EQ(list_count(tail), 2);
  EXPECT_EQ(list_get_item(tail, 1), item(4));
  list_add_item(&tail, item(5));
  // The whole list sees the item added through its tail.
  expect_list(list, {1, 2, 3, 4, 5});
  list_add_item(&list, item(6));
  expect_list(list, {1, 2, 3, 4, 5, 6});
  list_free(list);
}

TEST_F(ListsTest, NullArgumentsAreHarmless) {
  list_add_item(nullptr, item(1));
  list_add_item_head(nullptr, item(1));
  list_append_list(nullptr, nullptr);
  list_reverse(nullptr);
  list_free(nullptr);
  mo_surfacelist_free(nullptr);
  EXPECT_EQ(molv::live_allocations(), start_);
}

TEST_F(ListsTest, AMillionItemsAppendAndCountInLinearTime) {
  // Quadratic appends would take minutes here; the test has no clock, the
  // suite's timeout is the limit.
  mo_list list = nullptr;
  for (intptr_t i = 0; i < 1000000; ++i) list_add_item(&list, item(i));
  EXPECT_EQ(list_count(list), 1000000);
  EXPECT_EQ(list_get_item(list, 999999), item(999999));
  list_free(list);
}

// ---- memory ------------------------------------------------------------------

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = molv::live_allocations(); }
  void TearDown() override {
    molv::set_fail_alloc_after(-1);
    EXPECT_EQ(molv::live_allocations(), start_);
  }
  long start_ = 0;
};

TEST_F(MemoryTest, MyallocBlocksAreCountedUntilFreed) {
  void *a = myalloc(16);
  void *b = myalloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(molv::live_allocations(), start_ + 2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % alignof(std::max_align_t), 0u);
  myfree(a);
  myfree(b);
  myfree(nullptr);
}

TEST_F(MemoryTest, PeakHeldBytesCountsBlocksAndRecordsUntilReset) {
  molv::reset_peak_held_bytes();
  const size_t base = molv::peak_held_bytes();
  void *a = myalloc(1000);
  mo_list list = nullptr;
  for (int i = 0; i < 10; ++i) list_add_item(&list, a);
  const size_t with_both = molv::peak_held_bytes();
  // The block by its size, each node by its record.
  EXPECT_GE(with_both, base + 1000 + 10 * sizeof(mo_list_node));
  myfree(a);
  list_free(list);
  // Giving back leaves the peak; a reset brings it down to what is held.
  EXPECT_EQ(molv::peak_held_bytes(), with_both);
  molv::reset_peak_held_bytes();
  EXPECT_EQ(molv::peak_held_bytes(), base);
  void *b = myalloc(10);
  EXPECT_EQ(molv::peak_held_bytes(), base + 10);
  myfree(b);
}

TEST_F(MemoryTest, FreshBlocksAreNotZeroed) {
  // A plug-in must fill its own tables; a zeroed block would hide that.
  unsigned char *block = static_cast<unsigned char *>(myalloc(64));
  ASSERT_NE(block, nullptr);
  int zeros = 0;
  for (int i = 0; i < 64; ++i) zeros += block[i] == 0;
  EXPECT_EQ(zeros, 0);
  myfree(block);
}

TEST_F(MemoryTest, FailAfterNLetsNCallsSucceed) {
  molv::set_fail_alloc_after(2);
  void *a = myalloc(8);
  void *b = myalloc(8);
  void *c = myalloc(8);
  void *d = myalloc(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(d, nullptr) << "every call after the n-th fails";
  // Host lists never fail.
  mo_list list = nullptr;
  list_add_item(&list, item(1));
  EXPECT_EQ(list_count(list), 1);
  list_free(list);

  molv::set_fail_alloc_after(-1);
  void *e = myalloc(8);
  EXPECT_NE(e, nullptr);
  myfree(a);
  myfree(b);
  myfree(e);
}

TEST_F(MemoryTest, FailAfterZeroFailsTheFirstCall) {
  molv::set_fail_alloc_after(0);
  EXPECT_EQ(myalloc(1), nullptr);
  // Counting starts anew at each setting.
  molv::set_fail_alloc_after(1);
  void *a = myalloc(1);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(myalloc(1), nullptr);
  myfree(a);
}

TEST_F(MemoryTest, GivingBackTwiceIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        void *a = myalloc(8);
        myfree(a);
        myfree(a);
      },
      "freed twice|AddressSanitizer");
  EXPECT_DEATH(
      {
        mo_list list = make_list({1});
        list_free(list);
        list_free(list);
      },
      "freed twice|AddressSanitizer");
  EXPECT_DEATH(
      {
        static int locals[16];
        myfree(&locals[8]);
      },
      "myalloc did not give|AddressSanitizer");
}

TEST_F(MemoryTest, ModelListsAreNotCountedAndCannotBeFreedByAPlugin) {
  std::string error;
  ASSERT_TRUE(molv::load_scene_text(
      R"({"world": {"children": [{"vertices": [[0,0,0],[1,0,0],[0,1,0]],
           "surfaces": [{"verts": [0, 1, 2]}]}]}})",
      "s.json", &error))
      << error;
  EXPECT_EQ(molv::live_allocations(), start_);
  mo_list kids = nullptr;
  mo_object_get_contents(mo_get_world(), nullptr, nullptr, nullptr, nullptr, nullptr, &kids);
  mo_list surfaces = nullptr;
  mo_object_get_contents(static_cast<mo_object *>(list_get_item(kids, 0)), nullptr, nullptr,
                         nullptr, nullptr, &surfaces, nullptr);
  // A plug-in that frees the model's lists by mistake frees nothing.
  mo_surfacelist_free(surfaces);
  list_free(kids);
  EXPECT_EQ(list_count(kids), 1);
  EXPECT_EQ(list_count(surfaces), 1);
  mo_surface *surface = static_cast<mo_surface *>(list_get_item(surfaces, 0));
  EXPECT_EQ(surface->vertex_count, 3);
  EXPECT_EQ(list_count(surface->svertices), 3);
  molv::clear_model();
}

}  // namespace
