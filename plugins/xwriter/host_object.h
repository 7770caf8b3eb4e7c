/*
 * What the writers read of a host object: its contents in one record, and
 * the form of it that is written (its subdivided form under
 * opt_subdivision).  Pass 1, the frame writer and the mesh writer all
 * read objects this way, so they agree on what a mesh holds.
 */
#ifndef QEL_XWRITER_HOST_OBJECT_H
#define QEL_XWRITER_HOST_OBJECT_H

#include "core/options.h"
#include "host/molv_host.h"

namespace qel {

struct ObjectContents {
  int vertex_count = 0;
  int surface_count = 0;
  int child_count = 0;
  mo_list vertices = nullptr;
  mo_list surfaces = nullptr;
  mo_list children = nullptr;
};

inline ObjectContents contents_of(mo_object *object) {
  ObjectContents c;
  mo_object_get_contents(object, &c.vertex_count, &c.surface_count, &c.child_count, &c.vertices,
                         &c.surfaces, &c.children);
  return c;
}

// The object whose mesh is written for `object`: its subdivided form when
// opt_subdivision is set and the host has one, else the object itself.
inline mo_object *written_form(mo_object *object, const Options &options) {
  if (options.is_set(opt_subdivision) && mo_object_is_subdivided(object)) {
    mo_object *subdivided = mo_object_get_subdivision(object);
    if (subdivided != nullptr) return subdivided;
  }
  return object;
}

}  // namespace qel

#endif  // QEL_XWRITER_HOST_OBJECT_H
