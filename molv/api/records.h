/*
 * The full records behind the fields and opaque handles of
 * plugins/host/molv_host.h, as the host itself sees them: list nodes,
 * vertices, surface vertices and surfaces with their owners, the arrays an
 * object keeps them in, and the object and material records.
 *
 * Ownership: the model owns its objects, materials and textures, and every
 * record of its objects (vertices, surfaces, surface vertices and the nodes
 * of its lists) in per-object arrays that live as long as the model.  What
 * the host hands to a plug-in (list nodes from list_add_item and friends,
 * surfaces and surface vertices from surface_clone and
 * surface_get_triangulations) comes from the pools (pools.h) and is counted
 * until the plug-in gives it back.  Each pooled record carries its owner,
 * so giving back a model record is a quiet no-op and giving back a record
 * twice is caught.
 *
 * Nothing here is thread-safe: one host per process, one thread.
 */
#ifndef MOLV_API_RECORDS_H
#define MOLV_API_RECORDS_H

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
  const T *data() const { return items_.get(); }
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

  // The model's own normal of each record of svertex_store (x, y, z, in
  // its order), for an object imported from a model that carries normals;
  // empty for every other object.  (0, 0, 0) where the model gives none.
  // Kept apart from the records, so that objects without them pay nothing.
  std::vector<float> model_normals;
};

#endif  // MOLV_API_RECORDS_H
