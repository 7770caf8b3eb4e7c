/*
 * The Material templates ahead of the object tree: one per palette material
 * and one per texture that the written meshes use.
 */
#ifndef QEL_XWRITER_TEMPLATES_H
#define QEL_XWRITER_TEMPLATES_H

namespace qel {

class ExportRun;

void write_materials(ExportRun &run);
void write_texture_materials(ExportRun &run);

}  // namespace qel

#endif  // QEL_XWRITER_TEMPLATES_H
