/*
 * How much host memory plug-ins hold: the blocks they must give back and
 * the peak of what they held, and the process-wide choice to keep freed
 * memory.  The allocator itself is myalloc and myfree of
 * plugins/host/molv_host.h (host_memory.cpp).
 */
#ifndef MOLV_API_HOST_MEMORY_H
#define MOLV_API_HOST_MEMORY_H

#include <cstddef>

namespace molv {

// Live blocks of host memory: myalloc blocks, list nodes and surface copies
// handed to plug-ins.
long live_allocations();
// Bytes of host memory held by plug-ins (myalloc blocks and the records
// above), at most ever since the last reset: what an export needs at its
// peak, whether or not the process had those pages already.
size_t peak_held_bytes();
void reset_peak_held_bytes();

// Makes the process keep the memory it frees (no block from a mapping of
// its own, the heap's top never given back): loading a large model frees
// the importer's buffers right before an export needs as much again.  A
// setting of the whole process: programs call it first thing (molv, the
// benchmarks that stand in for it); the tests do not.
void keep_freed_memory();

}  // namespace molv

#endif  // MOLV_API_HOST_MEMORY_H
