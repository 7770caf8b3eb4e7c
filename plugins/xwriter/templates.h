/*
 * The Material templates ahead of the object tree: one per palette material
 * and one per texture that the written meshes use.
 */
#ifndef QEL_XWRITER_TEMPLATES_H
#define QEL_XWRITER_TEMPLATES_H

namespace qel {

class Output;

void write_materials(Output &out);
void write_texture_materials(Output &out);

}  // namespace qel

#endif  // QEL_XWRITER_TEMPLATES_H
