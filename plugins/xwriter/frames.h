/*
 * The frame hierarchy: the host's object tree as nested Frame blocks, with a
 * Mesh for every polygon object, data and line comments, and the trace of
 * the tree.
 */
#ifndef QEL_XWRITER_FRAMES_H
#define QEL_XWRITER_FRAMES_H

#include "host/molv_host.h"

namespace qel {

class ExportRun;

// Writes `object` and everything below it.  `offset` is the point the
// contents of the innermost enclosing Frame are written relative to.
// Returns early, writing no closing brace, when the run stops.
void write_object(ExportRun &run, mo_object *object, const float offset[3],
                  int own_number, int parent_number);

}  // namespace qel

#endif  // QEL_XWRITER_FRAMES_H
