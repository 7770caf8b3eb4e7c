/*
 * The host's lists as the host builds them: the lists of a model, linked
 * at load time, a builder for new lists handed to a plug-in, and access by
 * index.  The list functions a plug-in calls (list_add_item and the rest)
 * are those of plugins/host/molv_host.h, in lists.cpp.
 */
#ifndef MOLV_API_LISTS_H
#define MOLV_API_LISTS_H

#include <cstddef>
#include <cstdint>

#include "api/pools.h"
#include "api/records.h"

namespace molv {

// Links one list of the model holding `items` in order and returns it
// (null for none): its first node is `head`, a model node; the others are
// bare nodes (see is_bare) from `tail` on, count - 1 of them, which read
// as model nodes too.  Whatever follows the last of them must read as a
// bare node: the next list's bare nodes, or 16 zero bytes.  A model list
// of millions of items then costs 16 bytes an item, not 32.
mo_list link_model_list(ListNode *head, mo_list_node *tail, void *const *items, size_t count);
// The same for `count` records that stand `stride` bytes apart from
// `first`, each item the record's address.
mo_list link_model_records(ListNode *head, mo_list_node *tail, void *first, size_t stride,
                           size_t count);
// Builds a new list of nodes handed to a plug-in, item by item, without the
// bookkeeping of list_add_item at every step: the copies of a surface's
// corners are millions of nodes on a large mesh.
class ListBuilder {
 public:
  void add(void *item) {
    ListNode *node = node_take();
    node->link.item = item;
    if (last_ != nullptr) {
      last_->link.next = as_link(node);
    } else {
      first_ = node;
    }
    last_ = node;
    ++count_;
  }
  // The finished list (null when empty), its first node the head.
  mo_list finish();

 private:
  ListNode *first_ = nullptr;
  ListNode *last_ = nullptr;
  int32_t count_ = 0;
};
// The node at `index` of a list, or null when out of range.  Repeated
// access to one unchanged list (any order) takes constant time.
mo_list_node *list_node_at(mo_list list, int index);

}  // namespace molv

#endif  // MOLV_API_LISTS_H
