/*
 * Scene texts of flat grids of quads, for tests that need an export long
 * enough to cancel or to overflow a buffer.
 */
#ifndef QEL_TESTS_SUPPORT_GRID_SCENE_H
#define QEL_TESTS_SUPPORT_GRID_SCENE_H

#include <string>
#include <vector>

namespace qel_test {

// One polygon object of size x size quads in the plane z, as scene JSON.
std::string grid_object(const std::string &name, int size, int z);
// A world holding the given objects.
std::string scene_of(const std::vector<std::string> &objects);
// A world holding one grid object named "grid" in the plane 0.
std::string grid_scene(int size);

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_GRID_SCENE_H
