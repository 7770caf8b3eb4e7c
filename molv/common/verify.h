/*
 * The check of an export: the .x read back (x_read.h) against the model
 * the plug-in wrote it from, face by face in world space -- positions,
 * winding, normals, texture coordinates, and the material and texture of
 * every face -- with every difference told apart: expected from the
 * options chosen (two-sided copies, triangles from polygons, merged
 * vertices, lines and points not exported, digits cut) or real, with the
 * objects it touches and the fix where there is one.  The command line's
 * --verify and the window's read-back are this one check.
 *
 * It reads the process's model (api/model.h) and recalculates its normals
 * as the export does, so nothing may change the model while it runs: the
 * window refuses exports and loads meanwhile.
 */
#ifndef MOLV_COMMON_VERIFY_H
#define MOLV_COMMON_VERIFY_H

#include <string>
#include <vector>

#include "common/x_read.h"

namespace molv {

struct VerifyDifference {
  std::string kind;  // stable: "two-sided", "concave", "normals", ...
  bool expected = false;
  long count = 0;    // of faces, corners or polygons, as the text says
  std::string text;  // one line: "concave polygon in Floor: turn on Triangulate"
};

struct Verification {
  bool read = false;     // the file was read and compared
  std::string error;     // why it could not be read
  long model_faces = 0;  // faces of the model written (two-sided copies included)
  long file_faces = 0;
  std::vector<VerifyDifference> differences;

  // Read, and no real difference.
  bool agrees() const;
  // One line: "verified: the .x agrees with the model (22 faces)", or
  // "verify: the .x differs: concave polygon in Floor: turn on Triangulate".
  std::string verdict() const;
};

// SCENE, read from a .x the plug-in wrote under OPTIONS (the run's option
// string), in the modeller's space: z mirrored back where the options
// mirrored it, every face's corners in the modeller's order (its first
// corner kept first), the normals' signs undone.  Texture coordinates stay
// as the file holds them.
void to_modeller_space(XScene *scene, const std::string &options);

// Compares SCENE (in the modeller's space) with the process's model.  PROGRESS as for the
// reading (0 to 100 of the comparison).
Verification compare_with_model(const XScene &scene, const std::string &options,
                                const XReadProgress &progress = XReadProgress());

// Reads FILE and compares it; *SCENE (when given) keeps what was read, in
// the modeller's space.  PROGRESS goes 0 to 100 over both.
Verification verify_export(const std::string &file, const std::string &options,
                           XScene *scene = nullptr,
                           const XReadProgress &progress = XReadProgress());

}  // namespace molv

#endif  // MOLV_COMMON_VERIFY_H
