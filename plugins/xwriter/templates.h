/*
 * The templates ahead of the object tree: the declarations of the blocks
 * the DirectX runtime's loaders do not know by themselves, then one Material
 * per palette material and one per texture that the written meshes use.
 */
#ifndef QEL_XWRITER_TEMPLATES_H
#define QEL_XWRITER_TEMPLATES_H

namespace qel {

class ExportRun;

// The template of each block a written mesh holds that the runtime's
// loaders do not register: VertexDuplicationIndices (the retained-mode
// templates -- Mesh, Material, MeshNormals, ... -- they know).  Nothing
// when no mesh holds one.
void write_template_declarations(ExportRun &run);

void write_materials(ExportRun &run);
void write_texture_materials(ExportRun &run);

}  // namespace qel

#endif  // QEL_XWRITER_TEMPLATES_H
