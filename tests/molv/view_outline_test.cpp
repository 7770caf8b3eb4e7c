// The chosen object's pixels and outline, from a frame's stencil values.
#include "gui/view_outline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using molv::gui::TriangleRun;

// A world of a group (two boxes of 6 and 3 indices) and a third box.
const std::vector<TriangleRun> kTree = {{0, 15}, {0, 9}, {0, 6}, {6, 9}, {9, 15}};

TEST(ViewOutline, AnyChoiceComesFromOneFrameAndAnOutlineRingsItsPixels) {
  const auto marks = molv::gui::frame_marks(kTree, {6, 9});
  ASSERT_TRUE(marks.per_object);
  ASSERT_EQ(marks.marks.size(), 3u);  // the group and the world have no triangles of their own
  // A row of pixels: nothing, box 1, box 2, box 3.
  const std::vector<unsigned char> values = {0, 1, 2, 3};
  EXPECT_EQ(molv::gui::chosen_pixels(values, marks, kTree[1]),
            (std::vector<unsigned char>{0, 1, 1, 0}));
  EXPECT_TRUE(molv::gui::marks_show(marks, kTree[4]));

  // One pixel covered in the middle of 5 x 5: the ring of radius 1 around it.
  std::vector<unsigned char> covered(25, 0);
  covered[12] = 1;
  std::vector<std::uint32_t> rgba;
  ASSERT_TRUE(molv::gui::outline_image(covered, 5, 5, 1, 7, &rgba));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool ring = x >= 1 && x <= 3 && y >= 1 && y <= 3 && !(x == 2 && y == 2);
      EXPECT_EQ(rgba[y * 5 + x], ring ? 7u : 0u) << x << "," << y;
    }
  EXPECT_FALSE(molv::gui::outline_image(std::vector<unsigned char>(25, 0), 5, 5, 1, 7, &rgba));
}

// More objects than the stencil's values: only the chosen run is marked,
// and another choice needs a frame of its own.
TEST(ViewOutline, BeyondTwoHundredFiftyFiveObjectsOnlyTheChoiceIsMarked) {
  std::vector<TriangleRun> tree = {{0, 300 * 3}};
  for (size_t i = 0; i < 300; ++i) tree.push_back({i * 3, i * 3 + 3});
  const auto marks = molv::gui::frame_marks(tree, tree[10]);
  EXPECT_FALSE(marks.per_object);
  ASSERT_EQ(marks.marks.size(), 1u);
  EXPECT_EQ(marks.marks[0].value, 1);
  EXPECT_TRUE(molv::gui::marks_show(marks, tree[10]));
  EXPECT_FALSE(molv::gui::marks_show(marks, tree[11]));
  EXPECT_EQ(molv::gui::chosen_pixels({0, 1}, marks, tree[10]), (std::vector<unsigned char>{0, 1}));
}

}  // namespace
