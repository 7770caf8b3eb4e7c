/*
 * Host memory: the allocator a plug-in uses for its own tables (myalloc,
 * myfree), and the pools that list nodes, surfaces and surface vertices
 * handed to a plug-in come from.
 *
 * Everything a plug-in must give back is counted, so a test can see that
 * an export returns all it took (live_allocations).  Only myalloc can be
 * made to fail (set_fail_alloc_after): the host's own lists and copies
 * never fail, as in the real modeller.
 *
 * Pools instead of one malloc per record: a plug-in clones every surface
 * of a mesh and builds lists of a million items, so taking and giving a
 * record is a pointer swap.  Under AddressSanitizer a free slot is
 * poisoned, so a plug-in that touches a record it gave back is caught.
 *
 * The process keeps the memory it frees: loading a large model frees the
 * importer's gigabyte of buffers right before an export needs as much for
 * its copies and tables, and memory handed back to the kernel costs a page
 * fault per 4 KiB page when it is taken again (a quarter of the first
 * export of a 1M-triangle grid, measured).  So every block comes from the heap, never from a
 * mapping of its own that free() would unmap, and the heap's top is not
 * given back (keep_freed_memory, which the molv program calls first
 * thing: a setting of the whole process belongs to the program, not to
 * every binary that links the host).  The peak stays what it was; only the
 * drop after it goes.
 */
#include <malloc.h>
#include <sys/mman.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "api/host_memory.h"
#include "api/pools.h"
#include "api/test_hooks.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define MOLV_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define MOLV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define MOLV_POISON(p, n) ((void)(p), (void)(n))
#define MOLV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace molv {
namespace {

// A free list over chunks of slots.  Chunks grow geometrically and are kept
// for the life of the process; a slot holds a T or, while free, the link
// to the next free slot.  The newest chunk is handed out from its start
// before it joins the free list: its slots are not walked to link them
// (a pass over megabytes of fresh memory on a large mesh's first copies).
template <class T>
class Pool {
 public:
  T *take() {
    Slot *slot = free_;
    if (slot != nullptr) {
      MOLV_UNPOISON(slot, sizeof(Slot));
      std::memcpy(&free_, slot->bytes, sizeof(Slot *));
    } else {
      if (fresh_ == fresh_end_) grow();
      slot = fresh_++;
      MOLV_UNPOISON(slot, sizeof(Slot));
    }
    std::memset(slot->bytes, 0, sizeof(slot->bytes));
    return reinterpret_cast<T *>(slot->bytes);
  }

  void give(T *record) {
    Slot *slot = reinterpret_cast<Slot *>(record);
    std::memcpy(slot->bytes, &free_, sizeof(Slot *));
    free_ = slot;
    MOLV_POISON(slot, sizeof(Slot));
  }

 private:
  static constexpr size_t kSlotSize = sizeof(T) > sizeof(void *) ? sizeof(T) : sizeof(void *);
  struct Slot {
    alignas(T) alignas(void *) unsigned char bytes[kSlotSize];
  };

  // Only when the free list and the newest chunk are both used up.
  void grow() {
    std::unique_ptr<Slot[]> chunk(new Slot[next_chunk_]);
    fresh_ = chunk.get();
    fresh_end_ = fresh_ + next_chunk_;
    MOLV_POISON(fresh_, sizeof(Slot) * next_chunk_);
    chunks_.push_back(std::move(chunk));
    if (next_chunk_ < (size_t{1} << 16)) next_chunk_ *= 2;
  }

  std::vector<std::unique_ptr<Slot[]>> chunks_;
  Slot *free_ = nullptr;
  Slot *fresh_ = nullptr;      // the newest chunk's slots not yet handed out
  Slot *fresh_end_ = nullptr;
  size_t next_chunk_ = 256;
};

// Blocks of one size: a surface copy with its corners and bare nodes.  A
// free list over chunks as in Pool, the size fixed when made.
class BlockPool {
 public:
  explicit BlockPool(size_t size) : size_(size) {}

  unsigned char *take() {
    unsigned char *block = free_;
    if (block != nullptr) {
      MOLV_UNPOISON(block, size_);
      std::memcpy(&free_, block, sizeof free_);
    } else {
      if (fresh_ == fresh_end_) grow();
      block = fresh_;
      fresh_ += size_;
      MOLV_UNPOISON(block, size_);
    }
    std::memset(block, 0, size_);
    return block;
  }

  void give(unsigned char *block) {
    std::memcpy(block, &free_, sizeof free_);
    free_ = block;
    MOLV_POISON(block, size_);
  }

 private:
  void grow() {
    // Blocks are multiples of 16 bytes; new[] of unsigned char aligns for
    // any fundamental type, so every block is aligned for its records.
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[size_ * next_chunk_]);
    fresh_ = chunk.get();
    fresh_end_ = fresh_ + size_ * next_chunk_;
    MOLV_POISON(fresh_, size_ * next_chunk_);
    chunks_.push_back(std::move(chunk));
    if (next_chunk_ < (size_t{1} << 14)) next_chunk_ *= 2;
  }

  size_t size_;
  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
  unsigned char *free_ = nullptr;
  unsigned char *fresh_ = nullptr;
  unsigned char *fresh_end_ = nullptr;
  size_t next_chunk_ = 64;
};

// A block: the surface, its corners, their bare nodes, 16 zero bytes.
constexpr size_t kBareNode = sizeof(mo_list_node);
static_assert(kBareNode == 16 && sizeof(Surface) % 16 == 0 && sizeof(SVertex) % 16 == 0,
              "a block's records stay aligned");
constexpr size_t block_size(size_t corners) {
  return sizeof(Surface) + corners * (sizeof(SVertex) + kBareNode) + kBareNode;
}

struct Memory {
  std::unique_ptr<BlockPool> blocks[kBlockCorners + 1];
  Pool<ListNode> nodes;
  Pool<Surface> surfaces;
  Pool<SVertex> svertices;
  long live_blocks = 0;     // myalloc
  long live_nodes = 0;      // handed list nodes
  long live_surfaces = 0;   // handed surfaces
  long live_svertices = 0;  // handed surface vertices
  size_t held_bytes = 0;    // the above, in bytes (myalloc blocks by their size)
  size_t peak_held_bytes = 0;
  long fail_after = -1;     // myalloc calls that still succeed; -1: off
  long calls_since = 0;
  uint32_t serial = 0;
};

Memory &memory() {
  // Never destroyed: plug-ins may give records back from static destructors.
  static Memory *m = new Memory;
  return *m;
}

void hold(Memory &m, size_t bytes) {
  m.held_bytes += bytes;
  if (m.held_bytes > m.peak_held_bytes) m.peak_held_bytes = m.held_bytes;
}

// myalloc blocks carry a header so that myfree can tell its own blocks and
// catch a block given back twice.  The magic sits last, right before the
// block: malloc keeps its own links in the first bytes of a freed chunk.
// 32 bytes keep the block aligned for any type, as malloc's are.
struct BlockHeader {
  uint64_t unused[2];
  uint64_t size;
  uint64_t magic;
};
static_assert(sizeof(BlockHeader) == 32, "header keeps malloc alignment");
constexpr uint64_t kLiveMagic = 0x6d6f6c76616c6c63ULL;  // "molvallc"
constexpr uint64_t kDeadMagic = 0x6d6f6c7666726565ULL;  // "molvfree"
// New blocks (below kHugeBlock) are filled with this byte, never zero: a
// plug-in that forgets to initialise its tables fails in tests, not by
// luck on a user's machine.
constexpr unsigned char kFreshByte = 0xA5;

// Blocks from this size on are tables a plug-in walks at random (a hash
// over a mesh's corners): large pages spare it most of the address
// translation misses.  Not beyond kHugeBlockMax: for hundreds of megabytes
// of large pages the kernel may first have to compact memory, which has
// cost more than the pages saved.
constexpr size_t kHugeBlock = size_t{4} << 20;
constexpr size_t kHugeBlockMax = size_t{64} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [start, start +
// size) with large pages, where it can.  Only a hint; nothing changes if it
// cannot.
void ask_for_huge_pages(void *start, size_t size) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(start) + size) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

void keep_freed_memory() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
}

void host_memory_fault(const char *what) {
  std::fprintf(stderr, "molv: host memory misused by the plug-in: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

uint32_t next_serial() { return ++memory().serial; }

ListNode *node_take() {
  Memory &m = memory();
  ListNode *node = m.nodes.take();
  node->set_owner(Owner::kHanded);
  node->serial = ++m.serial;
  ++m.live_nodes;
  hold(m, sizeof(ListNode));
  return node;
}

void node_give(ListNode *node) {
  if (node->owner() == Owner::kModel || is_bare(node)) return;
  if (node->owner() != Owner::kHanded) host_memory_fault("a list node freed twice");
  Memory &m = memory();
  node->set_owner(Owner::kFree);
  --m.live_nodes;
  m.held_bytes -= sizeof(ListNode);
  m.nodes.give(node);
}

Surface *surface_take() {
  Memory &m = memory();
  Surface *surface = m.surfaces.take();
  surface->owner = Owner::kHanded;
  ++m.live_surfaces;
  hold(m, sizeof(Surface));
  return surface;
}

Surface *surface_block_take(size_t corners) {
  Memory &m = memory();
  std::unique_ptr<BlockPool> &pool = m.blocks[corners];
  if (!pool) pool = std::make_unique<BlockPool>(block_size(corners));
  unsigned char *block = pool->take();
  auto *surface = reinterpret_cast<Surface *>(block);
  auto *svertices = reinterpret_cast<SVertex *>(block + sizeof(Surface));
  auto *links = reinterpret_cast<mo_list_node *>(block + sizeof(Surface) + corners * sizeof(SVertex));
  for (size_t k = 0; k < corners; ++k) {
    svertices[k].set_owner(Owner::kInBlock);
    links[k].item = &svertices[k].rec;
    links[k].next = k + 1 < corners ? &links[k + 1] : nullptr;
  }
  surface->rec.svertices = &links[0];
  surface->owner = Owner::kHanded;
  surface->block_corners = static_cast<uint8_t>(corners);
  // Counted as the records it holds, as if taken one by one.
  ++m.live_surfaces;
  m.live_svertices += static_cast<long>(corners);
  m.live_nodes += static_cast<long>(corners);
  hold(m, block_size(corners));
  return surface;
}

void surface_give(Surface *surface) {
  if (surface->owner == Owner::kModel) return;
  if (surface->owner != Owner::kHanded) host_memory_fault("a surface freed twice");
  Memory &m = memory();
  surface->owner = Owner::kFree;
  --m.live_surfaces;
  if (surface->block_corners > 0) {
    const size_t corners = surface->block_corners;
    m.live_svertices -= static_cast<long>(corners);
    m.live_nodes -= static_cast<long>(corners);
    m.held_bytes -= block_size(corners);
    m.blocks[corners]->give(reinterpret_cast<unsigned char *>(surface));
    return;
  }
  m.held_bytes -= sizeof(Surface);
  m.surfaces.give(surface);
}

SVertex *svertex_take() {
  Memory &m = memory();
  SVertex *svertex = m.svertices.take();
  svertex->set_owner(Owner::kHanded);
  ++m.live_svertices;
  hold(m, sizeof(SVertex));
  return svertex;
}

void svertex_give(SVertex *svertex) {
  if (svertex->owner() == Owner::kModel || svertex->owner() == Owner::kInBlock) return;
  if (svertex->owner() != Owner::kHanded) host_memory_fault("a surface vertex freed twice");
  Memory &m = memory();
  svertex->set_owner(Owner::kFree);
  --m.live_svertices;
  m.held_bytes -= sizeof(SVertex);
  m.svertices.give(svertex);
}

void surface_give_deep(Surface *surface) {
  if (surface == nullptr || surface->owner == Owner::kModel) return;
  // A surface given back already has no list to walk.
  if (surface->owner != Owner::kHanded) host_memory_fault("a surface freed twice");
  mo_list_node *link = surface->rec.svertices;
  while (link != nullptr) {
    mo_list_node *next = link->next;
    if (link->item != nullptr) svertex_give(as_svertex(static_cast<mo_svertex *>(link->item)));
    node_give(as_node(link));
    link = next;
  }
  surface->rec.svertices = nullptr;
  surface_give(surface);
}

size_t peak_held_bytes() { return memory().peak_held_bytes; }

void reset_peak_held_bytes() {
  Memory &m = memory();
  m.peak_held_bytes = m.held_bytes;
}

long live_allocations() {
  const Memory &m = memory();
  return m.live_blocks + m.live_nodes + m.live_surfaces + m.live_svertices;
}

void set_fail_alloc_after(long n) {
  Memory &m = memory();
  m.fail_after = n < 0 ? -1 : n;
  m.calls_since = 0;
}

}  // namespace molv

extern "C" {

void *myalloc(size_t size) {
  molv::Memory &m = molv::memory();
  if (m.fail_after >= 0 && ++m.calls_since > m.fail_after) return nullptr;
  if (size > SIZE_MAX - sizeof(molv::BlockHeader)) return nullptr;
  void *raw = std::malloc(sizeof(molv::BlockHeader) + size);
  if (raw == nullptr) return nullptr;
  molv::BlockHeader header{{0, 0}, size, molv::kLiveMagic};
  std::memcpy(raw, &header, sizeof header);
  unsigned char *block = static_cast<unsigned char *>(raw) + sizeof(molv::BlockHeader);
  if (size >= molv::kHugeBlock) {
    // A large mesh's table: the fill would cost a pass over memory the
    // plug-in is about to write anyway, and the tests meet the fill in the
    // smaller blocks of their scenes.
    if (size <= molv::kHugeBlockMax) {
      molv::ask_for_huge_pages(raw, sizeof(molv::BlockHeader) + size);
    }
  } else {
    std::memset(block, molv::kFreshByte, size);
  }
  ++m.live_blocks;
  molv::hold(m, size);
  return block;
}

void myfree(void *pointer) {
  if (pointer == nullptr) return;
  unsigned char *raw = static_cast<unsigned char *>(pointer) - sizeof(molv::BlockHeader);
  molv::BlockHeader header;
  std::memcpy(&header, raw, sizeof header);
  if (header.magic != molv::kLiveMagic) {
    molv::host_memory_fault(
        header.magic == molv::kDeadMagic
            ? "a myalloc block freed twice"
            : "myfree of a block that myalloc did not give (or gave back twice)");
  }
  header.magic = molv::kDeadMagic;
  std::memcpy(raw, &header, sizeof header);
  molv::Memory &m = molv::memory();
  --m.live_blocks;
  m.held_bytes -= header.size;
  std::free(raw);
}

}  // extern "C"
