/*
 * The host's singly linked lists, as plug-ins use them.
 *
 * A list is its first node; a plug-in walks item/next itself and calls the
 * functions below for everything else.  The first node of a list also keeps
 * the list's last node and length, so that appending an item or a list and
 * counting take constant time: a model of a million surfaces and a plug-in
 * that appends every surface vertex to a bucket both stay linear.  Every
 * function keeps that bookkeeping right, including list_add_item_head,
 * list_reverse and list_append_list.
 *
 * A plug-in may also hand in a node from the middle of a list as a list of
 * its own (the real host walks, so that works there); such a node is not a
 * head, and the functions then walk from it.  When nodes were appended
 * through such a node, the head notices at its next use (its last node has
 * a successor) and catches up.
 */
#include <vector>

#include "api/lists.h"

namespace molv {
namespace {

// Indices below this are reached by walking; the cache pays off beyond.
constexpr int kWalkLimit = 16;

// The head's last node and count, brought up to date after appends made
// through a node behind the head.
ListNode *settle(ListNode *head) {
  ListNode *last = head->last;
  while (last->link.next != nullptr) {
    last = as_node(last->link.next);
    head->set_count(head->count + 1);
  }
  head->last = last;
  return head;
}

// Last node and length of the list that starts at `first`.
void measure(ListNode *first, ListNode **last, int *count) {
  if (first->is_head) {
    settle(first);
    *last = first->last;
    *count = first->count;
    return;
  }
  int n = 1;
  ListNode *node = first;
  while (node->link.next != nullptr) {
    node = as_node(node->link.next);
    ++n;
  }
  *last = node;
  *count = n;
}

// A bare node (see is_bare) has no head fields: such a list is walked.
void make_head(ListNode *node, ListNode *last, int count) {
  if (is_bare(node)) return;
  node->is_head = true;
  node->last = last;
  node->set_count(count);
}

void clear_head(ListNode *node) {
  if (!is_bare(node)) node->is_head = false;
}

// Random access into one list: the node addresses of the list last asked
// for.  Valid while the list keeps its first node (the same allocation, by
// serial), its last node and its length; every change a plug-in can make
// through the list functions alters one of them, and reversing twice
// restores the very order the cache holds.
struct IndexCache {
  const ListNode *head = nullptr;
  uint32_t serial = 0;
  const ListNode *last = nullptr;
  int32_t count = 0;
  std::vector<mo_list_node *> nodes;
};

IndexCache &index_cache() {
  static IndexCache *cache = new IndexCache;
  return *cache;
}

}  // namespace

namespace {

// Links a model list of `count` items, item i given by item(i): its head
// a full node, the rest bare nodes from `tail` on (count - 1 of them).
template <class Item>
mo_list link_model_nodes(ListNode *head, mo_list_node *tail, size_t count, Item item) {
  if (count == 0) return nullptr;
  head->link.item = item(0);
  head->link.next = count > 1 ? &tail[0] : nullptr;
  head->serial = next_serial();
  head->set_owner(Owner::kModel);
  for (size_t i = 1; i < count; ++i) {
    tail[i - 1].item = item(i);
    tail[i - 1].next = i + 1 < count ? &tail[i] : nullptr;
  }
  make_head(head, count > 1 ? as_node(&tail[count - 2]) : head, static_cast<int32_t>(count));
  return as_link(head);
}

}  // namespace

mo_list link_model_list(ListNode *head, mo_list_node *tail, void *const *items, size_t count) {
  return link_model_nodes(head, tail, count, [items](size_t i) { return items[i]; });
}

mo_list link_model_records(ListNode *head, mo_list_node *tail, void *first, size_t stride,
                           size_t count) {
  unsigned char *const base = static_cast<unsigned char *>(first);
  return link_model_nodes(head, tail, count, [base, stride](size_t i) -> void * {
    return base + i * stride;
  });
}

mo_list ListBuilder::finish() {
  if (first_ == nullptr) return nullptr;
  make_head(first_, last_, count_);
  mo_list list = as_link(first_);
  first_ = last_ = nullptr;
  count_ = 0;
  return list;
}

mo_list_node *list_node_at(mo_list list, int index) {
  if (list == nullptr || index < 0) return nullptr;
  ListNode *head = as_node(list);
  if (index < kWalkLimit || !head->is_head) {
    mo_list_node *node = list;
    for (int i = 0; i < index && node != nullptr; ++i) node = node->next;
    return node;
  }
  settle(head);
  if (index >= head->count) return nullptr;
  IndexCache &cache = index_cache();
  if (cache.head != head || cache.serial != head->serial || cache.last != head->last ||
      cache.count != head->count) {
    cache.nodes.clear();
    cache.nodes.reserve(static_cast<size_t>(head->count));
    for (mo_list_node *node = list; node != nullptr; node = node->next) cache.nodes.push_back(node);
    cache.head = head;
    cache.serial = head->serial;
    cache.last = head->last;
    cache.count = head->count;
  }
  return cache.nodes[static_cast<size_t>(index)];
}

}  // namespace molv

using molv::as_link;
using molv::as_node;
using molv::ListNode;

extern "C" {

void list_add_item(mo_list *list, void *item) {
  if (list == nullptr) return;
  ListNode *node = molv::node_take();
  node->link.item = item;
  node->link.next = nullptr;
  if (*list == nullptr) {
    molv::make_head(node, node, 1);
    *list = as_link(node);
    return;
  }
  ListNode *first = as_node(*list);
  if (first->is_head) {
    molv::settle(first);
    first->last->link.next = as_link(node);
    first->last = node;
    first->set_count(first->count + 1);
    return;
  }
  mo_list_node *end = *list;
  while (end->next != nullptr) end = end->next;
  end->next = as_link(node);
}

void list_add_item_head(mo_list *list, void *item) {
  if (list == nullptr) return;
  ListNode *node = molv::node_take();
  node->link.item = item;
  node->link.next = *list;
  if (*list == nullptr) {
    molv::make_head(node, node, 1);
  } else {
    ListNode *old = as_node(*list);
    ListNode *last = nullptr;
    int count = 0;
    molv::measure(old, &last, &count);
    molv::clear_head(old);
    molv::make_head(node, last, count + 1);
  }
  *list = as_link(node);
}

void list_append_list(mo_list *list, mo_list other) {
  if (list == nullptr || other == nullptr || other == *list) return;
  ListNode *second = as_node(other);
  ListNode *second_last = nullptr;
  int second_count = 0;
  molv::measure(second, &second_last, &second_count);
  if (*list == nullptr) {
    molv::make_head(second, second_last, second_count);
    *list = other;
    return;
  }
  ListNode *first = as_node(*list);
  ListNode *first_last = nullptr;
  int first_count = 0;
  molv::measure(first, &first_last, &first_count);
  // A list that ends where this one ends is already part of it: appending
  // it would close a cycle.
  if (first_last == second_last) return;
  first_last->link.next = other;
  molv::clear_head(second);
  if (first->is_head) {
    first->last = second_last;
    first->set_count(first_count + second_count);
  }
}

void list_reverse(mo_list *list) {
  if (list == nullptr || *list == nullptr) return;
  ListNode *old_first = as_node(*list);
  mo_list_node *previous = nullptr;
  mo_list_node *node = *list;
  int count = 0;
  while (node != nullptr) {
    mo_list_node *next = node->next;
    node->next = previous;
    previous = node;
    node = next;
    ++count;
  }
  molv::clear_head(old_first);
  molv::make_head(as_node(previous), old_first, count);
  *list = previous;
}

int list_count(mo_list list) {
  if (list == nullptr) return 0;
  ListNode *last = nullptr;
  int count = 0;
  molv::measure(as_node(list), &last, &count);
  return count;
}

void *list_get_item(mo_list list, int index) {
  mo_list_node *node = molv::list_node_at(list, index);
  return node != nullptr ? node->item : nullptr;
}

int list_index(mo_list list, const void *item) {
  int index = 0;
  for (mo_list_node *node = list; node != nullptr; node = node->next, ++index) {
    if (node->item == item) return index;
  }
  return -1;
}

void list_free(mo_list list) {
  while (list != nullptr) {
    mo_list_node *next = list->next;
    molv::node_give(as_node(list));
    list = next;
  }
}

void mo_surfacelist_free(mo_list list) {
  while (list != nullptr) {
    mo_list_node *next = list->next;
    molv::surface_give_deep(molv::as_surface(static_cast<mo_surface *>(list->item)));
    molv::node_give(as_node(list));
    list = next;
  }
}

}  // extern "C"
