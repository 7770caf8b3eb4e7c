/*
 * Step rounding of normals: halves away from zero, the division by the
 * reciprocal, the sign of a value that snaps to zero, and a sweep against
 * the rule computed with the library's split of a double.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

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

// The rule as written, with the library's split: what the inlined version
// must give for every value, bit for bit (sign of zero included).
double reference_round_to_step(double value, double step) {
  const double r = 1.0 / step;
  double integral = 0.0;
  const double fraction = std::modf(value * r, &integral);
  if (fraction >= 0.5) {
    integral += 1.0;
  } else if (fraction <= -0.5) {
    integral -= 1.0;
  }
  return integral / r;
}

bool same_bits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(RoundToStepSweep, EveryKindOfValueMatchesTheSplitByTheLibrary) {
  std::mt19937 random(7);
  std::vector<double> values = {0.0, -0.0, 0.5e-6, -0.5e-6, 1.5e-6, -1.5e-6, 4503599627370495.5,
                                -4503599627370495.5, 4503599627370496.0, 1e300, -1e300};
  // Floats of every exponent, as normals arrive widened from float.
  for (int i = 0; i < 400000; ++i) {
    const auto bits = static_cast<uint32_t>(random());
    float f;
    std::memcpy(&f, &bits, sizeof f);
    values.push_back(static_cast<double>(f));
  }
  // Unit normals and the halves between two steps, with their neighbours.
  for (int i = 0; i < 200000; ++i) {
    const double half = (static_cast<double>(random() % 2000001) - 1000000.0 + 0.5) / 1e6;
    values.push_back(half);
    values.push_back(std::nextafter(half, 2.0));
    values.push_back(std::nextafter(half, -2.0));
    values.push_back(static_cast<double>(static_cast<float>(half)));
  }
  int mismatches = 0;
  for (const double step : {kNormalStep, 1.0, 0.1}) {
    for (const double value : values) {
      const double got = round_to_step(value, step);
      const double want = reference_round_to_step(value, step);
      if (!same_bits(got, want) && ++mismatches <= 10) {
        ADD_FAILURE() << "value " << value << " step " << step << ": got " << got << ", want "
                      << want;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace qel
