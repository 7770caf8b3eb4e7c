/*
 * Material and texture templates.
 */
#include "xwriter/templates.h"

namespace qel {

void write_materials(Output & /*out*/) {}

void write_texture_materials(Output & /*out*/) {}

}  // namespace qel
