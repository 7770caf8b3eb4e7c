/*
 * The stand-in host's model, as the host itself sees it: the full records
 * behind the fields and opaque handles of plugins/host/molv_host.h, the
 * node, surface and surface-vertex pools, and the one process-wide model.
 *
 * Ownership: the model owns its objects, materials and textures, and every
 * record of its objects (vertices, surfaces, surface vertices and the nodes
 * of its lists) in per-object arrays that live as long as the model.  What
 * the host hands to a plug-in (list nodes from list_add_item and friends,
 * surfaces and surface vertices from surface_clone and
 * surface_get_triangulations) comes from pools and is counted by
 * live_allocations() until the plug-in gives it back.  Each pooled record
 * carries its owner, so giving back a model record is a quiet no-op and
 * giving back a record twice is caught.
 *
 * Nothing here is thread-safe: one host per process, one thread.
 */
#ifndef MOLV_MODEL_H
#define MOLV_MODEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/molv_host.h"

namespace molv {

enum class Owner : uint8_t {
  kInBlock = 0,  // part of a surface copy's block; goes with its surface
  kHanded = 1,   // handed to a plug-in, counted until given back
  kModel = 2,    // part of the model; never freed through the list functions
  kFree = 3      // a pool slot that nobody holds
};

// A list node.  A plug-in reads `link` only.  The first node of a list
// (is_head) also knows the list's last node and its length, so appending
// and counting take constant time; in every other node those two fields
// are stale and never read.  `serial` is unique per allocation and lets a
// cache tell a node from a later reuse of its memory.  32 bytes, the
// length, owner and head mark sharing one word: a large mesh has millions
// of nodes, and every pass over its lists reads them all.
struct ListNode {
  mo_list_node link;
  ListNode *last;
  uint32_t serial;
  uint32_t count : 29;  // up to 2^29 - 1 items, far beyond any memory
  uint32_t owner_bits : 2;
  uint32_t is_head : 1;

  Owner owner() const { return static_cast<Owner>(owner_bits); }
  void set_owner(Owner owner) { owner_bits = static_cast<uint32_t>(owner) & 3u; }
  void set_count(int32_t n) { count = static_cast<uint32_t>(n) & ((1u << 29) - 1); }
};
static_assert(sizeof(ListNode) == 32, "a list node is four words");

// The corner list of a small surface copy is made of bare nodes (item and
// next, 16 bytes) in one block with the surface and its corners, followed
// by 16 zero bytes.  Read as a ListNode, a bare node shows the next node's
// item and next, or the zeros: a user-space pointer's top three bits are
// zero, so it reads as owner kInBlock, not a head.  The list functions
// therefore walk such a list (a few corners) and never write a head's
// fields into it.
inline bool is_bare(const ListNode *node) { return node->owner() == Owner::kInBlock; }
// (The model's lists use bare nodes as well, all but their first node;
// giving one back is a no-op, as for any model node.)

inline ListNode *as_node(mo_list_node *node) { return reinterpret_cast<ListNode *>(node); }
inline mo_list_node *as_link(ListNode *node) { return reinterpret_cast<mo_list_node *>(node); }

// A vertex: the position a plug-in reads, then its place in its object's
// vertex list, which the normal calculation uses to gather the surfaces
// around a vertex without a hash lookup (the record at that place of the
// object's store is this one exactly when the vertex is the object's).
struct Vertex {
  mo_vertex pos;
  int32_t index;
};
static_assert(sizeof(Vertex) == 16, "a vertex is two words");

// A surface vertex: the record a plug-in reads, its owner kept in the
// record's tail padding (the fields end four bytes before its size), so
// that a copied corner is 32 bytes, not 40: a large mesh's copies hold
// millions of them.  The fields are written one by one, never by copying
// whole records, which leaves the padding alone.
union SVertex {
  mo_svertex rec;
  struct {
    unsigned char fields[offsetof(mo_svertex, normal) + sizeof(mo_svertex::normal)];
    Owner owner;
  } tail;

  Owner owner() const { return tail.owner; }
  void set_owner(Owner owner) { tail.owner = owner; }
};
static_assert(sizeof(SVertex) == sizeof(mo_svertex), "the owner fits the record's padding");

// A surface: the record a plug-in reads, then its kind.  32 bytes.
struct Surface {
  mo_surface rec;    // svertices, vertex_count, material, normal
  int32_t type;      // MO_SURF_*
  uint8_t shading;   // 0 flat, 1 smooth
  uint8_t twosided;  // 0 or 1
  Owner owner;
  uint8_t block_corners;  // a copy in one block: its corners (1 to kBlockCorners), else 0
};
static_assert(sizeof(Surface) == 32, "a surface is four words");

inline Surface *as_surface(mo_surface *s) { return reinterpret_cast<Surface *>(s); }
inline SVertex *as_svertex(mo_svertex *v) { return reinterpret_cast<SVertex *>(v); }
inline Vertex *as_vertex(mo_vertex *v) { return reinterpret_cast<Vertex *>(v); }

// ---- pools (memory.cpp) ---------------------------------------------------

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

// ---- lists (lists.cpp) ----------------------------------------------------

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

// ---- the model (model.cpp) ------------------------------------------------

// The records of one object: an array sized once and never resized, so the
// addresses handed out stay valid.  Not filled when made: the builder
// writes every field, and a pass of zeros over hundreds of megabytes would
// only add to the load.
template <class T>
class Store {
 public:
  void allocate(size_t count) {
    items_.reset(count > 0 ? new T[count] : nullptr);
    size_ = count;
  }
  size_t size() const { return size_; }
  T *data() { return items_.get(); }
  T &operator[](size_t i) { return items_[i]; }
  const T &operator[](size_t i) const { return items_[i]; }
  T *begin() { return items_.get(); }
  T *end() { return items_.get() + size_; }

 private:
  std::unique_ptr<T[]> items_;
  size_t size_ = 0;
};

}  // namespace molv

struct mo_material {
  std::string name;
  float diffuse[3];
  float ambient[3];
  float specular[3];
  float emissive[3];
  float shininess;
  float transparency;
};

struct mo_object {
  int type = MO_OBJ_GROUP;
  std::string name;
  bool has_data = false;
  std::string data;
  float centre[3] = {0.0f, 0.0f, 0.0f};

  bool has_texture = false;
  int texture_id = -1;
  float texture_repeat[2] = {1.0f, 1.0f};
  float texture_offset[2] = {0.0f, 0.0f};

  mo_object *subdivision = nullptr;  // the subdivided form, when present
  bool in_subdivision = false;       // part of a subdivided form (not counted)

  // The lists a plug-in gets from mo_object_get_contents.
  mo_list vertices = nullptr;  // items: mo_vertex*
  mo_list surfaces = nullptr;  // items: mo_surface*
  mo_list children = nullptr;  // items: mo_object*

  // Storage of the records above; sized once when the object is built and
  // never resized, so the addresses handed out stay valid.
  molv::Store<molv::Vertex> vertex_store;
  molv::Store<molv::Surface> surface_store;
  molv::Store<molv::SVertex> svertex_store;
  molv::Store<molv::ListNode> head_store;    // the first node of each list
  molv::Store<mo_list_node> link_store;      // the others, bare, then 16 zero bytes
};

namespace molv {

struct Model {
  // Every object, the world first; children and subdivided forms are
  // reached through the lists and pointers of their parents.
  std::vector<std::unique_ptr<mo_object>> objects;
  std::vector<std::unique_ptr<mo_material>> palette;
  std::vector<std::string> textures;
  double version = 6.0;
  std::string version_string = "molv 6.0";
  bool has_info = false;
  std::string info;

  mo_object *world() const { return objects.empty() ? nullptr : objects.front().get(); }
};

// The current model (an empty one until a scene is loaded).
Model &model();
// Replaces the current model.
void install_model(std::unique_ptr<Model> next);
// A model with an empty world named "world" and one white material.
std::unique_ptr<Model> make_empty_model();
// A material with the defaults of the scene format (white diffuse).
std::unique_ptr<mo_material> make_default_material();

// One object's contents, validated, in the form the builder takes.
struct SurfaceSpec {
  int32_t type = MO_SURF_POLYGON;
  int32_t shading = 1;
  int32_t twosided = 0;
  uint16_t material = 0;
  // corners: vertex index, u, v
  std::vector<int32_t> vertex_index;
  std::vector<float> u;
  std::vector<float> v;
};

// The surfaces of one object in flat arrays, as a large import builds
// them: three small vectors per surface would cost a model of millions of
// faces millions of allocations.
class SurfaceSet {
 public:
  struct Face {
    int32_t type;
    uint32_t corners;  // the surface's corners follow the previous surface's
    uint16_t material;
    uint8_t shading;
    uint8_t twosided;
  };

  void reserve(size_t surfaces, size_t corners) {
    faces_.reserve(surfaces);
    vertex_index_.reserve(corners);
    uv_.reserve(2 * corners);
  }
  // A new surface; its corners are the ones added until the next.
  void add_surface(int32_t type, int32_t shading, int32_t twosided, uint16_t material) {
    faces_.push_back(Face{type, 0, material, static_cast<uint8_t>(shading != 0),
                          static_cast<uint8_t>(twosided != 0)});
  }
  void add_corner(int32_t vertex_index, float u, float v) {
    ++faces_.back().corners;
    vertex_index_.push_back(vertex_index);
    uv_.push_back(u);
    uv_.push_back(v);
  }

  size_t size() const { return faces_.size(); }
  size_t corner_count() const { return vertex_index_.size(); }
  const Face &face(size_t s) const { return faces_[s]; }
  int32_t vertex_index(size_t corner) const { return vertex_index_[corner]; }
  float u(size_t corner) const { return uv_[2 * corner]; }
  float v(size_t corner) const { return uv_[2 * corner + 1]; }

 private:
  std::vector<Face> faces_;
  std::vector<int32_t> vertex_index_;
  std::vector<float> uv_;  // u, v per corner
};

// Fills the records and lists of `object` from its vertex positions (x, y,
// z per vertex), its surfaces and its children, in that order.  Indices
// must already be in range.
void build_object_from(mo_object *object, const std::vector<float> &positions,
                       const SurfaceSet &surfaces, const std::vector<mo_object *> &children);
// The same from one SurfaceSpec per surface.
void build_object(mo_object *object, const std::vector<float> &positions,
                  const std::vector<SurfaceSpec> &surfaces,
                  const std::vector<mo_object *> &children);

// The centre of the bounding box of an object's own vertices: each
// component (min + max) / 2 in float, min and max by strict comparison in
// vertex order (the first of equal values is kept); (0, 0, 0) without
// vertices.
void bounding_box_centre(const std::vector<float> &positions, float centre[3]);

}  // namespace molv

#endif  // MOLV_MODEL_H
