/*
 * The one list of the plug-in's options: number, name, default character
 * and what the option does when set.  Everything that names an option is
 * made from it: the plug-in's enum and default string, the host's --set
 * names and --help lines, and the tests that hold the dialog against it.
 * Adding an option is one line here (and its label in the dialog script).
 *
 * The meanings fit one line of --help: at most 50 characters.
 *
 * On the floor: a list of data, it includes nothing.
 */
#ifndef QEL_CORE_OPTION_TABLE_H
#define QEL_CORE_OPTION_TABLE_H

// X(number, name, default, meaning)
#define QEL_OPTION_TABLE(X)                                                                  \
  X(1, model_info, '0', "model information and vertex totals in the header")                \
  X(2, data_comments, '0', "object data texts as comments")                                 \
  X(3, z_axis, '0', "z as the modeller holds it (0: z becomes -z)")                         \
  X(4, strip_texture_path, '1', "texture names without their folder")                       \
  X(5, textures, '1', "texture names and coordinates (with materials)")                     \
  X(6, materials, '1', "materials and a material list per mesh")                            \
  X(7, normals, '1', "a MeshNormals block per mesh")                                        \
  X(8, flip_normals, '0', "every normal turned to the other side")                          \
  X(9, triangulate, '0', "polygons become triangles")                                       \
  X(10, no_frames, '0', "no frames; meshes keep the modeller's positions")                  \
  X(11, winding, '0', "faces in the modeller's corner order (0: reversed)")                 \
  X(12, surface_shading, '1', "flat surfaces take their surface normal")                    \
  X(13, duplication_indices, '0', "a VertexDuplicationIndices block per mesh")              \
  X(14, object_names, '1', "frame and mesh names carry the object's name")                  \
  X(15, index_names, '0', "names carry the object's place (FRM_..., MSH_...)")              \
  X(17, fixed_numbers, '1', "fixed form, six significant digits (0: %g form)")              \
  X(18, no_specular, '0', "power and specular colour 0 in every material")                  \
  X(19, texture_material, '1', "textures take the colours of their first material")         \
  X(20, no_leaf_frames, '0', "no frame for a polygon object without children")              \
  X(21, line_comments, '0', "line surfaces as comments with their positions")               \
  X(22, two_sided, '1', "two-sided polygons twice, the copy facing back")                   \
  X(23, optimize_vertices, '1', "equal vertices of a mesh written once")                    \
  X(28, subdivision, '1', "subdivided objects in their subdivided form")                    \
  X(29, digit_prefix, '1', "'_' before a name that begins with a digit")                    \
  X(49, decimals, '6', "fixed form's decimal places below 1 (0: no limit)")

// Characters without effect in the plug-in whose default is not '0': the
// dialog script may keep settings of its own there.  X(number, default)
#define QEL_OPTION_RESERVED(X) X(24, '1') X(25, '1') X(26, '1')

#endif  // QEL_CORE_OPTION_TABLE_H
