/*
 * The outline of the object chosen in the view, made from the pixels of a
 * frame rather than from the object's triangles: as the frame is drawn,
 * each object writes its own value into the stencil buffer where it is
 * seen (up to 255 objects; more, and only the chosen one is marked), the
 * view keeps those values, and the outline is the pixels near the chosen
 * object's that are not its own.  Choosing another object then costs a
 * pass over the pixels, whatever the objects' triangles.  No OpenGL here:
 * view.cpp draws with the marks and reads the values back.
 */
#ifndef MOLV_GUI_VIEW_OUTLINE_H
#define MOLV_GUI_VIEW_OUTLINE_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace molv {
namespace gui {

using TriangleRun = std::pair<std::size_t, std::size_t>;  // [first, end) of the indices

// A run of the index buffer drawn with VALUE into the stencil buffer.
struct Mark {
  std::size_t first = 0;
  std::size_t end = 0;
  unsigned char value = 0;
};

struct FrameMarks {
  std::vector<Mark> marks;  // in order, apart
  bool per_object = false;  // each object its value; else the chosen run is 1
};

// The marks of a frame of a model whose objects (in tree order) hold the
// runs SUBTREE (each object's and everything's below it), CHOSEN the run
// of the chosen object.
FrameMarks frame_marks(const std::vector<TriangleRun> &subtree, TriangleRun chosen);

// Whether the stencil values of a frame drawn with MARKS tell the pixels
// of CHOSEN (a frame drawn for another choice may not).
bool marks_show(const FrameMarks &marks, TriangleRun chosen);

// Per pixel of VALUES (a frame's stencil values under MARKS): 1 where
// CHOSEN is seen, else 0.
std::vector<unsigned char> chosen_pixels(const std::vector<unsigned char> &values,
                                         const FrameMarks &marks, TriangleRun chosen);

// The outline of COVERED (WIDTH x HEIGHT, 1 per pixel covered) as RGBA
// words: COLOUR on the pixels within RADIUS of a covered one that are not
// covered, 0 (transparent) elsewhere.  False when there is none.
bool outline_image(const std::vector<unsigned char> &covered, int width, int height, int radius,
                   std::uint32_t colour, std::vector<std::uint32_t> *rgba);

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_VIEW_OUTLINE_H
