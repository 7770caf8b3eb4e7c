/*
 * The built-in sample scene that `molv export` uses without a scene file.
 *
 * It is small but touches every block the .x file can hold under the
 * default options, and the corners that go with them:
 * - Props (a group, with a data text) holds
 *   - Crate: a textured cube (texture path with a folder, repeat and
 *     offset), flat quads that share their corners, u/v per corner, a data
 *     text spread over two lines;
 *   - 2-tone pyramid: untextured, a name that begins with a digit, a flat
 *     base and smooth sides in two palette materials, and a child;
 *   - Sign: a two-sided quad (the child of the pyramid);
 *   - Rock: a tetrahedron whose subdivided form (an octahedron) is what an
 *     export takes;
 * - Path: an object of line surfaces only (an open and a closed line);
 * - Sun: a light with a data text;
 * - Floor: one concave (L-shaped) polygon, the case triangulation cuts by
 *   ear clipping.
 * Palette material 0 is used by the rock and the floor, 1 and 2 by the
 * pyramid and the sign, 3 only by the textured crate; the world carries a
 * data text too.
 */
#include "import/scene_file.h"

namespace molv {

// The scene as data: a JSON text, read by the scene loader like a file.
constexpr const char kSampleScene[] = R"json({
  "palette": [
    { "name": "white" },
    { "name": "red", "diffuse": [0.8, 0.1, 0.1], "specular": [0.5, 0.5, 0.5], "shininess": 32 },
    { "name": "blue glass", "diffuse": [0.1, 0.2, 0.9], "ambient": [0.05, 0.05, 0.2],
      "specular": [0.9, 0.9, 1.0], "emissive": [0.0, 0.0, 0.1], "shininess": 64,
      "transparency": 0.4 },
    { "name": "crate wood", "diffuse": [0.6, 0.45, 0.25], "specular": [0.1, 0.1, 0.1],
      "shininess": 4 }
  ],
  "textures": ["maps/crate.png"],
  "world": {
    "data": "Sample scene\nbuilt into molv",
    "children": [
      {
        "name": "Props",
        "data": "things on the floor",
        "children": [
          {
            "name": "Crate",
            "data": "wooden crate\nhandle with care #",
            "texture": { "id": 0, "repeat": [2, 2], "offset": [0.5, 0] },
            "vertices": [
              [-1, 0, -1], [1, 0, -1], [1, 0, 1], [-1, 0, 1],
              [-1, 2, -1], [1, 2, -1], [1, 2, 1], [-1, 2, 1]
            ],
            "surfaces": [
              { "material": 3, "shading": "flat",
                "verts": [[0, 0, 0], [1, 1, 0], [2, 1, 1], [3, 0, 1]] },
              { "material": 3, "shading": "flat",
                "verts": [[4, 0, 0], [7, 1, 0], [6, 1, 1], [5, 0, 1]] },
              { "material": 3, "shading": "flat",
                "verts": [[3, 0, 0], [2, 1, 0], [6, 1, 1], [7, 0, 1]] },
              { "material": 3, "shading": "flat",
                "verts": [[1, 0, 0], [0, 1, 0], [4, 1, 1], [5, 0, 1]] },
              { "material": 3, "shading": "flat",
                "verts": [[2, 0, 0], [1, 1, 0], [5, 1, 1], [6, 0, 1]] },
              { "material": 3, "shading": "flat",
                "verts": [[0, 0, 0], [3, 1, 0], [7, 1, 1], [4, 0, 1]] }
            ]
          },
          {
            "name": "2-tone pyramid",
            "vertices": [[3, 0, -1], [5, 0, -1], [5, 0, 1], [3, 0, 1], [4, 1.5, 0]],
            "surfaces": [
              { "material": 1, "shading": "flat", "verts": [0, 1, 2, 3] },
              { "material": 1, "verts": [3, 2, 4] },
              { "material": 2, "verts": [2, 1, 4] },
              { "material": 1, "verts": [1, 0, 4] },
              { "material": 2, "verts": [0, 3, 4] }
            ],
            "children": [
              {
                "name": "Sign",
                "vertices": [[3.5, 1.5, 0], [4.5, 1.5, 0], [4.5, 2.25, 0], [3.5, 2.25, 0]],
                "surfaces": [
                  { "material": 2, "shading": "flat", "twosided": true, "verts": [0, 1, 2, 3] }
                ]
              }
            ]
          },
          {
            "name": "Rock",
            "vertices": [[-4.5, 0, -0.5], [-3.5, 0, -0.5], [-4, 0, 0.5], [-4, 1, 0]],
            "surfaces": [
              { "verts": [0, 1, 2] },
              { "verts": [0, 3, 1] },
              { "verts": [1, 3, 2] },
              { "verts": [2, 3, 0] }
            ],
            "subdivided": {
              "name": "Rock (smooth)",
              "vertices": [
                [-4, 0, 0], [-4, 1, 0], [-3.5, 0.5, 0], [-4.5, 0.5, 0], [-4, 0.5, 0.5],
                [-4, 0.5, -0.5]
              ],
              "surfaces": [
                { "verts": [1, 4, 2] }, { "verts": [1, 2, 5] },
                { "verts": [1, 5, 3] }, { "verts": [1, 3, 4] },
                { "verts": [0, 2, 4] }, { "verts": [0, 5, 2] },
                { "verts": [0, 3, 5] }, { "verts": [0, 4, 3] }
              ]
            }
          }
        ]
      },
      {
        "name": "Path",
        "vertices": [[0, 0, 3], [1, 0, 3], [2, 0, 3.5], [3, 0, 3]],
        "surfaces": [
          { "type": "line", "verts": [0, 1, 2] },
          { "type": "closed_line", "verts": [0, 1, 2, 3] }
        ]
      },
      {
        "name": "Sun",
        "type": "light",
        "centre": [10, 20, -5],
        "data": "intensity 0.8\ncolour warm white"
      },
      {
        "name": "Floor",
        "vertices": [
          [-6, -0.1, -4], [6, -0.1, -4], [6, -0.1, -2], [-2, -0.1, -2], [-2, -0.1, 4],
          [-6, -0.1, 4]
        ],
        "surfaces": [
          { "shading": "flat", "verts": [5, 4, 3, 2, 1, 0] }
        ]
      }
    ]
  }
}
)json";

const char *sample_scene_json() { return kSampleScene; }

}  // namespace molv
