/*
 * A model against the .x file `molv export --defaults` wrote from it, both
 * as Assimp reads them (world_faces.h), compared as multisets of faces.
 *
 * What the default options do to a model, and Assimp's .x reader undoes,
 * learnt from small hand-made models (an OBJ quad with vt and vn, an
 * asymmetric triangle, a two-sided glTF triangle):
 * - z becomes -z and every face's corners are written in reverse (options
 *   3 and 11); the reader mirrors z and reverses every face back, so
 *   positions, normals and winding come back as the model has them;
 * - v is written as 1 - v and the reader flips it back, so texture
 *   coordinates come back as they are; they are written only for a mesh
 *   with a texture (option 5), so they are compared only there;
 * - a face of a two-sided material is written twice (option 22): as it
 *   is, and a copy with its corners reversed and its normals turned round;
 * - a texture's name loses its folder (option 4: everything up to the
 *   last '/', '\\' or ':' that is not the name's last character) and a
 *   '"' becomes '_'; a texture's template has the colours of the first
 *   material the texture is used with (option 19);
 * - the reader gives a mesh's material reference the scene's material at
 *   the reference's place in the mesh's list rather than the template it
 *   names (Assimp 5.2: an OBJ of a red quad and a textured triangle reads
 *   back with the triangle red), so which template a face names cannot be
 *   seen.  What can: every material a face needs is among the templates,
 *   and the faces that come back with one material of one mesh had one
 *   material in the model.
 *
 * A face's key is its corners' positions, each taken to the model's point
 * within the number form's precision (six significant digits, six
 * decimals, summed over the frames), rotated to start at the least;
 * winding stays part of the key.  Faces with a non-finite corner in the
 * model and faces of zero area (below that precision; how such a face is
 * cut depends on the last bit) are left out on both sides.
 */
#ifndef QEL_TESTS_TESTMODELS_ROUNDTRIP_H
#define QEL_TESTS_TESTMODELS_ROUNDTRIP_H

#include <string>
#include <vector>

#include "world_faces.h"

namespace testmodels {

struct Comparison {
  long faces = 0;       // faces of the model compared (two-sided copies included)
  long non_finite = 0;  // faces of the model left out for a non-finite corner
  // One text per kind that differs: "normals: 812 of 856 corners more
  // than 1 degree off, worst 34 degrees".  The kind is the text before ':'.
  std::vector<std::string> differences;
};

Comparison compare(const WorldFaces &model, const WorldFaces &back);

}  // namespace testmodels

#endif
