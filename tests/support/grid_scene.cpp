/*
 * Grid scenes for tests.
 */
#include "support/grid_scene.h"

namespace qel_test {

std::string grid_object(const std::string &name, int size, int z) {
  std::string vertices, surfaces;
  for (int y = 0; y <= size; ++y)
    for (int x = 0; x <= size; ++x)
      vertices += (vertices.empty() ? "[" : ",[") + std::to_string(x) + "," + std::to_string(y) +
                  "," + std::to_string(z) + "]";
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const int a = y * (size + 1) + x, b = a + size + 1;
      surfaces += (surfaces.empty() ? "{\"verts\":[" : ",{\"verts\":[") + std::to_string(a) + "," +
                  std::to_string(a + 1) + "," + std::to_string(b + 1) + "," + std::to_string(b) +
                  "]}";
    }
  return "{\"name\":\"" + name + "\",\"vertices\":[" + vertices + "],\"surfaces\":[" + surfaces +
         "]}";
}

std::string scene_of(const std::vector<std::string> &objects) {
  std::string children;
  for (const auto &object : objects) children += (children.empty() ? "" : ",") + object;
  return "{\"world\":{\"children\":[" + children + "]}}";
}

std::string grid_scene(int size) { return scene_of({grid_object("grid", size, 0)}); }

}  // namespace qel_test
