/*
 * Assimp's reader as a planner (model_reader.h): every format Assimp reads
 * (OBJ with its .mtl, glTF 2, PLY, STL, 3DS, Collada, OFF and the rest)
 * read through our file system (model_files.h) and walked into the plan
 * of the model (assimp_builder.h).
 */
#ifndef MOLV_IMPORT_ASSIMP_PLANNER_H
#define MOLV_IMPORT_ASSIMP_PLANNER_H

#include <functional>
#include <string>
#include <vector>

#include "import/model_reader.h"

namespace molv {

// Reads PATH with Assimp and plans its model into *READ.
void plan_with_assimp(const std::string &path, const std::function<void(int)> &progress,
                      PlannedRead *read);

// The extensions Assimp reads (".obj" and the rest, as Assimp lists them).
std::vector<std::string> assimp_extensions();

}  // namespace molv

#endif  // MOLV_IMPORT_ASSIMP_PLANNER_H
