/*
 * Pass 1 of every export: which palette materials and textures the written
 * meshes use (the material and texture maps), and the surface, vertex and
 * surface-vertex totals.
 */
#ifndef QEL_EXPORT_PASS1_H
#define QEL_EXPORT_PASS1_H

#include "host/molv_host.h"

namespace qel {

class ExportRun;

// Walks the object and everything below it, depth first; creates the run's
// maps on the first call of a run and adds to its totals.
void collect_materials(ExportRun &run, mo_object *object);

}  // namespace qel

#endif  // QEL_EXPORT_PASS1_H
