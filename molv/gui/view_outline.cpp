/*
 * The chosen object's outline from a frame's stencil values.
 */
#include "gui/view_outline.h"

#include <algorithm>

namespace molv {
namespace gui {

FrameMarks frame_marks(const std::vector<TriangleRun> &subtree, TriangleRun chosen) {
  FrameMarks frame;
  // An object's own triangles run from its subtree's first to the next
  // object's first (tree order); the last ends with the whole model.
  const std::size_t total = subtree.empty() ? 0 : subtree[0].second;
  for (std::size_t i = 0; i < subtree.size(); ++i) {
    const std::size_t end = i + 1 < subtree.size() ? subtree[i + 1].first : total;
    if (end <= subtree[i].first) continue;
    if (frame.marks.size() == 255) {
      frame.marks.clear();
      break;
    }
    frame.marks.push_back({subtree[i].first, end, static_cast<unsigned char>(frame.marks.size() + 1)});
  }
  frame.per_object = !frame.marks.empty();
  if (!frame.per_object && chosen.second > chosen.first)
    frame.marks.push_back({chosen.first, chosen.second, 1});
  return frame;
}

bool marks_show(const FrameMarks &marks, TriangleRun chosen) {
  if (marks.per_object || chosen.second <= chosen.first) return true;
  return marks.marks.size() == 1 && marks.marks[0].first == chosen.first &&
         marks.marks[0].end == chosen.second;
}

std::vector<unsigned char> chosen_pixels(const std::vector<unsigned char> &values,
                                         const FrameMarks &marks, TriangleRun chosen) {
  // Which values are the chosen run's: the objects inside it.
  unsigned char inside[256] = {0};
  for (const Mark &mark : marks.marks)
    inside[mark.value] = mark.first >= chosen.first && mark.end <= chosen.second &&
                         chosen.second > chosen.first;
  std::vector<unsigned char> covered(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) covered[i] = inside[values[i]];
  return covered;
}

bool outline_image(const std::vector<unsigned char> &covered, int width, int height, int radius,
                   std::uint32_t colour, std::vector<std::uint32_t> *rgba) {
  const std::size_t count = static_cast<std::size_t>(width) * height;
  rgba->assign(count, 0);
  if (width <= 0 || height <= 0 || covered.size() != count) return false;
  // Near a covered pixel along its row, then along its column.
  std::vector<unsigned char> near_row(count);
  for (int y = 0; y < height; ++y) {
    const unsigned char *row = &covered[static_cast<std::size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      unsigned char near = 0;
      for (int d = std::max(0, x - radius); d <= std::min(width - 1, x + radius); ++d) near |= row[d];
      near_row[static_cast<std::size_t>(y) * width + x] = near;
    }
  }
  bool any = false;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      if (covered[at]) continue;
      unsigned char near = 0;
      for (int d = std::max(0, y - radius); d <= std::min(height - 1, y + radius) && !near; ++d)
        near = near_row[static_cast<std::size_t>(d) * width + x];
      if (near) {
        (*rgba)[at] = colour;
        any = true;
      }
    }
  return any;
}

}  // namespace gui
}  // namespace molv
