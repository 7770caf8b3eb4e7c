/*
 * The mesh writer.
 */
#include "xwriter/mesh.h"

namespace qel {

void x_output_surface_vertices(Output & /*out*/, mo_object * /*object*/, const float * /*offset*/) {}

}  // namespace qel
