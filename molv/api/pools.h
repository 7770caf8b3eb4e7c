/*
 * The pools that records handed to a plug-in come from (list nodes,
 * surfaces, surface vertices and surface copies in one block), and the
 * report of a plug-in that misuses them.  Implemented in host_memory.cpp
 * with myalloc and myfree.
 */
#ifndef MOLV_API_POOLS_H
#define MOLV_API_POOLS_H

#include <cstddef>
#include <cstdint>

#include "api/records.h"

namespace molv {

// Records handed to plug-ins.  Never null: host-internal allocations do not
// fail (set_fail_alloc_after affects myalloc only).  The returned record is
// zeroed apart from owner (kHanded) and, for a node, a fresh serial.
ListNode *node_take();
void node_give(ListNode *node);
Surface *surface_take();
void surface_give(Surface *surface);
SVertex *svertex_take();
void svertex_give(SVertex *svertex);
uint32_t next_serial();

// Copies of surfaces of up to this many corners are one block each.
constexpr size_t kBlockCorners = 16;

// A surface handed to a plug-in in one block with `corners` (1 to
// kBlockCorners) surface vertices and the bare nodes of its corner list,
// linked in order; all zeroed apart from the owners and the links.  The
// corners and nodes go with the surface.
Surface *surface_block_take(size_t corners);

// Frees a surface handed to a plug-in with its surface vertices and the
// nodes of its vertex list; a model surface is left alone.
void surface_give_deep(Surface *surface);

// Reports a misuse of host memory (a record given back twice, a block that
// myalloc never gave) on stderr and aborts: the plug-in has a bug that
// would otherwise corrupt memory.
[[noreturn]] void host_memory_fault(const char *what);

}  // namespace molv

#endif  // MOLV_API_POOLS_H
