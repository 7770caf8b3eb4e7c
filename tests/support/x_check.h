/*
 * A second reader for every exported file: Assimp's .x importer reads the
 * text in-process, and what it shows is compared with the model the host
 * held when the file was written.
 *
 * The importer splits each Mesh by material, gives every face corner its
 * own vertex, mirrors z into its own handedness, reverses every face and
 * flips v.  So the check compares what survives that: frame names and
 * nesting, per Mesh the faces of each material with their sizes, every
 * corner's position (frame translations composed, z and winding undone)
 * within what the number form written can hold, the material references
 * with their templates' colours and texture names, texture coordinates
 * and a normal for every corner when those blocks are written.
 *
 * What the reader cannot show is not checked: comments (data, lines, the
 * header), which corners were merged; of the vertex duplication indices,
 * read from the text, only what the template holds them to.  Its habits
 * are followed rather than reported:
 * - an unnamed frame that is its parent's only child, the parent holding
 *   no mesh, is folded into the parent (its own children are dropped);
 * - Meshes outside every frame go onto the root node, in place of its own;
 * - a texture name's "\\" pairs are read as one backslash;
 * - a material reference is given the scene's material at the reference's
 *   place in the mesh's list, not the template it names (Assimp 5.2), so
 *   the names of a mesh's references are not seen; that each names a
 *   template is (the reader warns when one does not), and so are the
 *   templates with their colours and textures, and which faces share a
 *   material.
 *
 * The expected side is read from the host through its plug-in interface
 * (plugins/host/molv_host.h), so the check runs in the process that holds
 * the model.  It asks the host for normals and triangulations as the
 * plug-in does, and gives back every copy it takes.
 */
#ifndef QEL_TESTS_SUPPORT_X_CHECK_H
#define QEL_TESTS_SUPPORT_X_CHECK_H

#include <string>
#include <vector>

#include "host/molv_host.h"

namespace qel_test {

struct XCheck {
  bool loaded = false;       // the reader took the file
  std::string reader_error;  // its reason when it did not
  // Every disagreement found (the first ones, up to a limit), each with
  // the frame path and the place in the mesh.
  std::vector<std::string> faults;

  // What was compared, so that a test can see the check saw something.
  int frames = 0;     // reader nodes compared with a frame
  int meshes = 0;     // Mesh blocks
  int submeshes = 0;  // per material, as the reader splits them
  int faces = 0;
  int large_faces = 0;  // of them, faces of more than 8 corners
  int corners = 0;      // positions compared
  int normals = 0;
  int texture_coords = 0;
  int materials = 0;  // templates compared with the palette or a texture

  // The host's model gave the file neither a frame nor a mesh: the reader
  // takes no such file, and refusing it is in order.
  bool nothing_to_read = false;

  bool ok() const { return (loaded || nothing_to_read) && faults.empty(); }
  // One text for a failure message: the reader's reason or the faults.
  std::string report() const;
};

// A whole exported file, against the host's current model and the
// 50-character option string the export ran with.
XCheck x_check(const std::string &x_text, const std::string &options);

// A Mesh body as the mesh writer writes it (what stands between "Mesh NAME
// {\n" and the closing "\n}\n"), for `object` written with `offset`.  The
// check wraps it in a file of its own, with stand-in templates for the
// materials the body should name.
XCheck x_check_mesh_body(const std::string &body, mo_object *object, const float offset[3],
                         const std::string &options);

// The start of a file up to the frames (header and templates): the
// templates against the palette and the texture table.
XCheck x_check_templates(const std::string &head, const std::string &options);

// The reader's view of a file in short, for tests that look at one thing:
// nodes depth first as "name" with their meshes' face counts.
struct XSummary {
  bool loaded = false;
  std::string reader_error;
  std::vector<std::string> nodes;          // depth first, indented two spaces a level
  int faces = 0;                           // over all meshes
  std::vector<int> face_sizes;             // every face, in the reader's order
  std::vector<std::string> texture_names;  // of every material, in order
  // Every corner position of every mesh (frame translations composed),
  // as the reader holds it, in the reader's order.
  std::vector<std::vector<float>> positions;
  // Every corner's normal, for the meshes that have normals.
  std::vector<std::vector<float>> normals;
};
XSummary x_read(const std::string &x_text);

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_X_CHECK_H
