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
  kFree = 0,    // a pool slot that nobody holds
  kHanded = 1,  // handed to a plug-in, counted until given back
  kModel = 2    // part of the model; never freed through the list functions
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

inline ListNode *as_node(mo_list_node *node) { return reinterpret_cast<ListNode *>(node); }
inline mo_list_node *as_link(ListNode *node) { return reinterpret_cast<mo_list_node *>(node); }

// A vertex: the position a plug-in reads, then where it belongs (its object
// and its place in the object's vertex list), which the normal calculation
// uses to gather the surfaces around a vertex without a hash lookup.
struct Vertex {
  mo_vertex pos;
  mo_object *object;
  int32_t index;
};

struct SVertex {
  mo_svertex rec;
  Owner owner;
};

struct Surface {
  mo_surface rec;    // svertices, vertex_count, material, normal
  int32_t type;      // MO_SURF_*
  int32_t shading;   // 0 flat, 1 smooth
  int32_t twosided;  // 0 or 1
  Owner owner;
};

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

// Frees a surface handed to a plug-in with its surface vertices and the
// nodes of its vertex list; a model surface is left alone.
void surface_give_deep(Surface *surface);

// Reports a misuse of host memory (a record given back twice, a block that
// myalloc never gave) on stderr and aborts: the plug-in has a bug that
// would otherwise corrupt memory.
[[noreturn]] void host_memory_fault(const char *what);

// ---- lists (lists.cpp) ----------------------------------------------------

// Links `count` nodes of a model array into one list holding `items` in
// order and returns its head (null for none).  The nodes become model
// nodes.
mo_list link_model_list(ListNode *nodes, void *const *items, size_t count);
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
  std::vector<molv::Vertex> vertex_store;
  std::vector<molv::Surface> surface_store;
  std::vector<molv::SVertex> svertex_store;
  std::vector<molv::ListNode> node_store;
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

// Fills the records and lists of `object` from its vertex positions (x, y,
// z per vertex), its surfaces and its children, in that order.  Indices
// must already be in range.
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
