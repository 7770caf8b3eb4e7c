/*
 * Step rounding of normals: halves away from zero, the division by the
 * reciprocal, and the sign of a value that snaps to zero.
 */
#include <gtest/gtest.h>

#include <cmath>

#include "xwriter/numbers.h"

namespace qel {
namespace {

constexpr double kNormalStep = 0.000001;

TEST(RoundToStepMicroSteps, NearestMultiple) {
  // The result is i / 1e6, the double nearest the decimal, so it compares
  // equal to the literal.
  EXPECT_EQ(round_to_step(0.7071067690849304, kNormalStep), 0.707107);
  EXPECT_EQ(round_to_step(-0.7071067690849304, kNormalStep), -0.707107);
  EXPECT_EQ(round_to_step(0.0000001, kNormalStep), 0.0);
  EXPECT_EQ(round_to_step(1.0, kNormalStep), 1.0);
  EXPECT_EQ(round_to_step(0.123456449, kNormalStep), 0.123456);
}

TEST(RoundToStepMicroSteps, HalvesAwayFromZero) {
  EXPECT_EQ(round_to_step(0.0000025, kNormalStep), 0.000003);
  EXPECT_EQ(round_to_step(-0.0000025, kNormalStep), -0.000003);
}

TEST(RoundToStepWholeSteps, HalvesAwayFromZero) {
  EXPECT_EQ(round_to_step(2.5, 1.0), 3.0);
  EXPECT_EQ(round_to_step(-2.5, 1.0), -3.0);
  EXPECT_EQ(round_to_step(0.5, 1.0), 1.0);
  EXPECT_EQ(round_to_step(-0.5, 1.0), -1.0);
  EXPECT_EQ(round_to_step(2.4999999, 1.0), 2.0);
  EXPECT_EQ(round_to_step(-7.0, 1.0), -7.0);
}

TEST(RoundToStepSignOfZero, SnappedValuesKeepTheirSign) {
  const double negative = round_to_step(-0.4, 1.0);
  EXPECT_EQ(negative, 0.0);
  EXPECT_TRUE(std::signbit(negative));
  const double positive = round_to_step(0.4, 1.0);
  EXPECT_EQ(positive, 0.0);
  EXPECT_FALSE(std::signbit(positive));
  EXPECT_TRUE(std::signbit(round_to_step(-0.0000001, kNormalStep)));
  EXPECT_TRUE(std::signbit(round_to_step(-0.0, kNormalStep)));
}

TEST(RoundToStepDivision, DividesByTheReciprocal) {
  // With step 0.1, r is 10: 3 / 10 is the double nearest 0.3, whereas
  // 3 * 0.1 would be 0.30000000000000004.
  EXPECT_EQ(round_to_step(0.29, 0.1), 0.3);
  EXPECT_NE(round_to_step(0.29, 0.1), 3.0 * 0.1);
}

TEST(RoundToStepNonFinite, PassesThrough) {
  EXPECT_TRUE(std::isnan(round_to_step(std::nan(""), kNormalStep)));
  EXPECT_EQ(round_to_step(INFINITY, kNormalStep), INFINITY);
  EXPECT_EQ(round_to_step(-INFINITY, kNormalStep), -INFINITY);
}

}  // namespace
}  // namespace qel
