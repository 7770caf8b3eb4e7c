/*
 * The number text of the output file: the worked cases of both forms, the
 * decimal-places limit, cutting and carrying, negative zero, non-finite
 * values, the form a run's options choose, and a sweep of well over a
 * million floats against a reference built from snprintf.
 */
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/options.h"
#include "xwriter/numbers.h"

namespace qel {
namespace {

std::string fixed(float value, int decimal_places = 6) {
  char text[kNumberTextMax];
  std::memset(text, 'X', sizeof text);
  return std::string(text, format_number_to(text, value, true, decimal_places));
}

std::string short_form(float value) {
  char text[kNumberTextMax];
  std::memset(text, 'X', sizeof text);
  return std::string(text, format_number_to(text, value, false, 6));
}

float from_bits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

struct Example {
  float value;
  const char *fixed;
  const char *short_form;
};

// Each value as a float literal: the value is rounded to a float first.
TEST(FormatNumberWorkedExamples, BothFormsWithSixPlaces) {
  const Example examples[] = {
      {0.5f, "0.5", "0.5"},
      {-2.0f, "-2.0", "-2"},
      {1.0f, "1.0", "1"},
      {3.14159265f, "3.14159", "3.14159"},
      {100.0f, "100.0", "100"},
      {123456.7f, "123457.0", "123457"},
      {1234567.0f, "1234570.0", "1.23457e+06"},
      {0.000123456f, "0.000123", "0.000123456"},
      {0.0000001f, "0.0", "1e-07"},
      {-0.0000001f, "0.0", "-1e-07"},
      {0.0f, "0.0", "0"},
      {-0.0f, "0.0", "-0"},
  };
  for (const Example &e : examples) {
    SCOPED_TRACE(e.fixed);
    EXPECT_EQ(fixed(e.value, 6), e.fixed);
    EXPECT_EQ(short_form(e.value), e.short_form);
  }
}

TEST(FormatNumberWorkedExamples, ExponentFormOfTheShortForm) {
  // %e from an exponent of 6 on and below -4, judged on the rounded digits:
  // 1e-4f lies just below 0.0001 but rounds to 1.00000e-04.
  EXPECT_EQ(short_form(1e-4f), "0.0001");
  EXPECT_EQ(short_form(1e-5f), "1e-05");
  EXPECT_EQ(short_form(999999.0f), "999999");
  EXPECT_EQ(short_form(1e6f), "1e+06");
  EXPECT_EQ(short_form(1.5e-20f), "1.5e-20");
  EXPECT_EQ(short_form(-2.5e30f), "-2.5e+30");
  EXPECT_EQ(short_form(100000.0f), "100000");
  EXPECT_EQ(short_form(0.25f), "0.25");
}

TEST(FormatNumberDecimalPlaces, TwoPlacesCutTheFraction) {
  EXPECT_EQ(fixed(0.999999f, 2), "0.99");
  EXPECT_EQ(fixed(0.0199f, 2), "0.01");
  EXPECT_EQ(fixed(0.0123f, 2), "0.01");
  EXPECT_EQ(fixed(0.00999f, 2), "0.0");
  EXPECT_EQ(fixed(0.000123456f, 2), "0.0");
  // Magnitude one or more keeps six significant digits.
  EXPECT_EQ(fixed(3.14159265f, 2), "3.14159");
  EXPECT_EQ(fixed(-0.75f, 2), "-0.75");
}

TEST(FormatNumberDecimalPlaces, ZeroMeansNoLimit) {
  EXPECT_EQ(fixed(0.0000001f, 0), "0.0000001");
  EXPECT_EQ(fixed(-0.0000001f, 0), "-0.0000001");
  EXPECT_EQ(fixed(0.000123456f, 0), "0.000123456");
  EXPECT_EQ(fixed(1.5e-30f, 0), "0.0000000000000000000000000000015");
}

TEST(FormatNumberDecimalPlaces, OutOfRangeIsClamped) {
  // 1.23456e-8: nine places leave "12", no limit leaves all digits.
  EXPECT_EQ(fixed(1.23456e-8f, 9), "0.000000012");
  EXPECT_EQ(fixed(1.23456e-8f, 12), "0.000000012");
  EXPECT_EQ(fixed(1.23456e-8f, 0), "0.0000000123456");
  EXPECT_EQ(fixed(1.23456e-8f, -1), "0.0000000123456");
  EXPECT_EQ(fixed(1.23456e-8f, -48), "0.0000000123456");
  EXPECT_EQ(fixed(0.000123456f, 1), "0.0");
  EXPECT_EQ(fixed(0.5f, 1), "0.5");
}

TEST(FormatNumberTruncation, DigitsBeyondTheLimitAreDropped) {
  EXPECT_EQ(fixed(0.123456f, 3), "0.123");
  EXPECT_EQ(fixed(0.987654f, 4), "0.9876");
  EXPECT_EQ(fixed(0.00987654f, 4), "0.0098");
  EXPECT_EQ(fixed(-0.987654f, 1), "-0.9");
  // The six digits come rounded from the conversion; only the limit cuts.
  EXPECT_EQ(fixed(0.0123456789f, 9), "0.0123457");
  EXPECT_EQ(fixed(0.0123456789f, 6), "0.012345");
}

TEST(FormatNumberTruncation, IntegralDigitsAndZerosUpToThePoint) {
  EXPECT_EQ(fixed(12.5f), "12.5");
  EXPECT_EQ(fixed(-1234.5f), "-1234.5");
  EXPECT_EQ(fixed(16777216.0f), "16777200.0");
  EXPECT_EQ(fixed(1e10f), "10000000000.0");
  EXPECT_EQ(fixed(-FLT_MAX), "-340282" + std::string(33, '0') + ".0");
}

TEST(FormatNumberCarrying, RoundingCarriesIntoTheNextExponent) {
  // 999999.5 is a tie; to even makes it 1.00000e+06.
  EXPECT_EQ(fixed(999999.5f), "1000000.0");
  EXPECT_EQ(short_form(999999.5f), "1e+06");
  // Rounded first, then cut: 0.99999958 is 1.00000e+00 even with 2 places.
  EXPECT_EQ(fixed(0.9999996f, 2), "1.0");
  EXPECT_EQ(short_form(0.9999996f), "1");
  EXPECT_EQ(short_form(9.9999996e-5f), "0.0001");
  EXPECT_EQ(fixed(0.0999999f, 2), "0.09");
}

TEST(FormatNumberTies, HalfwayValuesGoToEven) {
  EXPECT_EQ(fixed(123456.5f), "123456.0");
  EXPECT_EQ(short_form(123456.5f), "123456");
  EXPECT_EQ(fixed(123457.5f), "123458.0");
  EXPECT_EQ(short_form(123457.5f), "123458");
  EXPECT_EQ(short_form(1234565.0f), "1.23456e+06");
  EXPECT_EQ(short_form(1234575.0f), "1.23458e+06");
  EXPECT_EQ(fixed(1.015625f), "1.01562");
  EXPECT_EQ(short_form(-1.046875f), "-1.04688");
}

TEST(FormatNumberNegativeZero, FixedFormNeverWritesMinusZero) {
  EXPECT_EQ(fixed(-0.0f, 6), "0.0");
  EXPECT_EQ(fixed(-0.0f, 0), "0.0");
  EXPECT_EQ(fixed(-0.0000001f, 6), "0.0");
  EXPECT_EQ(fixed(-0.004f, 2), "0.0");
  EXPECT_EQ(fixed(-1e-40f, 9), "0.0");
}

TEST(FormatNumberNegativeZero, ShortFormKeepsTheSign) {
  EXPECT_EQ(short_form(-0.0f), "-0");
  EXPECT_EQ(short_form(0.0f * -1.0f), "-0");
  EXPECT_EQ(short_form(-0.0000001f), "-1e-07");
}

TEST(FormatNumberNonFinite, NanIsZero) {
  const float nans[] = {std::nanf(""), -std::nanf(""), from_bits(0x7f800001u),
                        from_bits(0xffc00000u)};
  for (float nan : nans) {
    EXPECT_EQ(fixed(nan, 6), "0.0");
    EXPECT_EQ(fixed(nan, 0), "0.0");
    EXPECT_EQ(short_form(nan), "0");
  }
}

TEST(FormatNumberNonFinite, InfinityIsTheLargestFloat) {
  const std::string largest = "340282" + std::string(33, '0') + ".0";
  EXPECT_EQ(fixed(INFINITY, 6), largest);
  EXPECT_EQ(fixed(-INFINITY, 2), "-" + largest);
  EXPECT_EQ(short_form(INFINITY), "3.40282e+38");
  EXPECT_EQ(short_form(-INFINITY), "-3.40282e+38");
}

TEST(FormatNumberLengths, LongestTextsFitTheBuffer) {
  // The most negative float with a limit: sign, 39 digits, ".0".
  EXPECT_EQ(fixed(-FLT_MAX, 6).size(), 42u);
  // The smallest negative subnormal without a limit: "-0.", 44 zeros and
  // the five digits of 1.40130e-45.
  const std::string tiny = fixed(-std::numeric_limits<float>::denorm_min(), 0);
  EXPECT_EQ(tiny, "-0." + std::string(44, '0') + "14013");
  EXPECT_EQ(tiny.size(), 52u);
  EXPECT_LT(tiny.size(), kNumberTextMax);
  EXPECT_EQ(short_form(-std::numeric_limits<float>::denorm_min()), "-1.4013e-45");
}

// The form of a run comes from its options: opt_fixed_numbers and the
// digit of decimal places (clamped when it is none).
TEST(FormatNumberOfARun, FollowsTheOptions) {
  const std::string fixed_two = std::string(17, '0') + "1" + std::string(31, '0') + "2";
  const NumberForm fixed_form{Options(fixed_two.c_str())};
  EXPECT_STREQ(format_number(0.999999f, fixed_form).c_str(), "0.99");
  EXPECT_STREQ(format_number(-0.0f, fixed_form).c_str(), "0.0");
  EXPECT_STREQ(format_number(1234567.0f, fixed_form).c_str(), "1234570.0");
  const std::string short_two = std::string(49, '0') + "2";
  const NumberForm short_form{Options(short_two.c_str())};
  EXPECT_STREQ(format_number(0.999999f, short_form).c_str(), "0.999999");
  EXPECT_STREQ(format_number(-0.0f, short_form).c_str(), "-0");
  EXPECT_STREQ(format_number(1234567.0f, short_form).c_str(), "1.23457e+06");
  // A raw digit difference outside 0..9 handed in directly is clamped too.
  EXPECT_STREQ(format_number(0.0000001f, NumberForm(true, -48)).c_str(), "0.0000001");
}

// ---------------------------------------------------------------------------
// The sweep: every character against a reference built from snprintf.

// The "% .5e" conversion taken apart.
struct ReferenceDecimal {
  bool negative;
  std::string digits;  // d0 .. d5
  int exponent;
};

ReferenceDecimal reference_decimal(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "% .*e", 5, static_cast<double>(value));
  // " d.ddddde+XX" or "-d.ddddde-XX"
  ReferenceDecimal d;
  d.negative = text[0] == '-';
  d.digits = std::string(1, text[1]) + std::string(text + 3, 5);
  d.exponent = std::atoi(text + 9);
  return d;
}

std::string reference_fixed(const ReferenceDecimal &d, int decimal_places) {
  const int a = decimal_places == 0 ? 9999 : decimal_places;
  const int e = d.exponent;
  std::string text = d.negative ? "-" : "";
  if (e < -a) {
    text += "0.0";
  } else if (e < 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-e - 1), '0');
    text += d.digits.substr(0, static_cast<std::size_t>(std::min(6, a + e + 1)));
  } else {
    text += d.digits.substr(0, static_cast<std::size_t>(std::min(e + 1, 6)));
    if (e + 1 > 6) text.append(static_cast<std::size_t>(e + 1 - 6), '0');
    text += '.';
    text += e >= 5 ? std::string("0") : d.digits.substr(static_cast<std::size_t>(e + 1));
  }
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text += '0';
  if (text == "-0.0") text = "0.0";
  return text;
}

std::string reference_short(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

float next_up(float f) { return std::nextafter(f, INFINITY); }
float next_down(float f) { return std::nextafter(f, -INFINITY); }

void add_with_neighbours(std::vector<float> &values, float f, int steps) {
  float up = f;
  float down = f;
  values.push_back(f);
  for (int i = 0; i < steps; ++i) {
    up = next_up(up);
    down = next_down(down);
    values.push_back(up);
    values.push_back(down);
  }
}

std::vector<float> sweep_values(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<float> values;
  values.reserve(1600000);

  // Random bit patterns: every magnitude, both signs, subnormals included.
  while (values.size() < 600000) {
    const float f = from_bits(static_cast<uint32_t>(random()));
    if (std::isfinite(f)) values.push_back(f);
  }

  // Zeros, subnormals and the edges of the normal range.
  values.push_back(0.0f);
  values.push_back(-0.0f);
  add_with_neighbours(values, std::numeric_limits<float>::denorm_min(), 3);
  add_with_neighbours(values, -std::numeric_limits<float>::denorm_min(), 3);
  add_with_neighbours(values, FLT_MIN, 3);
  add_with_neighbours(values, -FLT_MIN, 3);
  add_with_neighbours(values, next_down(FLT_MAX), 1);
  add_with_neighbours(values, -next_down(FLT_MAX), 1);
  for (int i = 0; i < 50000; ++i) {
    const uint32_t mantissa = static_cast<uint32_t>(random()) & 0x007fffffu;
    const uint32_t sign = static_cast<uint32_t>(random()) & 0x80000000u;
    values.push_back(from_bits(sign | mantissa));
  }

  // Exact ties at the sixth digit: D x 10^q with D a seven-digit odd
  // multiple of 5, exactly a float when 5^-q divides D (q < 0) or D 5^q
  // fits the mantissa (q >= 0).
  for (int i = 0; i < 100000; ++i) {
    const int q = static_cast<int>(random() % 12) - 10;  // -10 .. 1
    const int power = q < 0 ? -q : 1;
    uint64_t five = 1;
    for (int k = 0; k < power; ++k) five *= 5;
    const uint64_t lowest = (1000000 + five - 1) / five;
    const uint64_t highest = (q == 1 ? 3355443 : 9999999) / five;
    if (lowest > highest) continue;
    uint64_t k = lowest + random() % (highest - lowest + 1);
    if (k % 2 == 0) k = k + 1 <= highest ? k + 1 : k - 1;
    if (k < lowest) continue;
    const uint64_t d = five * k;  // odd multiple of 5, seven digits
    // One correctly rounded operation on exact operands: exact when the
    // tie is a float.
    double scale = 1.0;
    for (int j = q; j < 0; ++j) scale *= 10.0;
    const double value = q == 1 ? static_cast<double>(d) * 10.0 : static_cast<double>(d) / scale;
    const float f = static_cast<float>(value);
    if (static_cast<double>(f) != value) {
      ADD_FAILURE() << "tie " << d << "e" << q << " is not a float";
      continue;
    }
    values.push_back((random() & 1) != 0 ? -f : f);
  }
  for (float tie : {123456.5f, 999999.5f, 1234565.0f, 0.5f, 1.015625f, 100000.5f}) {
    values.push_back(tie);
    values.push_back(-tie);
  }

  // Half-way points between six-digit results over the whole range, with
  // the floats nearest them and two neighbours on each side.
  char text[64];
  for (int i = 0; i < 60000; ++i) {
    const unsigned m = 100000u + static_cast<unsigned>(random() % 900000u);
    const int q = static_cast<int>(random() % 84) - 45;
    std::snprintf(text, sizeof text, "%u5e%d", m, q - 6);
    const float f = std::strtof(text, nullptr);
    if (!std::isfinite(f) || f == 0.0f) continue;
    const float signed_f = (random() & 1) != 0 ? -f : f;
    add_with_neighbours(values, signed_f, 2);
  }

  // Powers of ten, the carries just below them, and their neighbours.
  for (int q = -45; q <= 38; ++q) {
    for (const char *mantissa : {"1", "9.999995", "9.999994", "9.999996", "5"}) {
      std::snprintf(text, sizeof text, "%se%d", mantissa, q);
      const float f = std::strtof(text, nullptr);
      if (!std::isfinite(f) || f == 0.0f) continue;
      add_with_neighbours(values, f, 3);
      add_with_neighbours(values, -f, 3);
    }
  }

  // What a mesh holds: coordinates, normals, texture coordinates, and
  // short decimals.
  for (int i = 0; i < 100000; ++i) {
    const float unit = static_cast<float>(random() >> 8) / 16777216.0f;  // [0, 1)
    values.push_back(unit * 2000.0f - 1000.0f);
    values.push_back(unit * 2.0f - 1.0f);
  }
  for (int i = -100000; i <= 100000; i += 2) values.push_back(static_cast<float>(i) / 1000.0f);

  // The edges of the exact conversion (the common range, about 1e-22 up to
  // a million, in 64-bit arithmetic from about 1e-8): every float within a
  // few hundred steps of each binade boundary there, and of the powers of
  // ten where the six digits move on.
  for (int exponent = -80; exponent <= 24; ++exponent) {
    add_with_neighbours(values, std::ldexp(1.0f, exponent), 200);
  }
  for (int q = -23; q <= 7; ++q) {
    std::snprintf(text, sizeof text, "1e%d", q);
    add_with_neighbours(values, std::strtof(text, nullptr), 300);
  }
  // Random values of the common range, both signs.
  for (int i = 0; i < 100000; ++i) {
    const int binade = static_cast<int>(random() % 94) - 73;  // 2^-73 .. 2^20
    const uint32_t mantissa = static_cast<uint32_t>(random()) & 0x007fffffu;
    const uint32_t sign = static_cast<uint32_t>(random()) & 0x80000000u;
    values.push_back(from_bits(sign | static_cast<uint32_t>(binade + 127) << 23 | mantissa));
  }
  return values;
}

TEST(FormatNumberSweep, EveryCharacterMatchesTheSnprintfReference) {
  const uint32_t seed = 20240611u;
  const std::vector<float> values = sweep_values(seed);
  std::cout << "[          ] sweep seed " << seed << ", " << values.size() << " values"
            << std::endl;
  ASSERT_GE(values.size(), 1500000u);

  const int places[] = {0, 1, 2, 6, 9};
  char text[kNumberTextMax];
  long mismatches = 0;
  auto report = [&](float value, const char *form, const std::string &want, const char *got) {
    if (++mismatches <= 10) {
      char bits[16];
      uint32_t u;
      std::memcpy(&u, &value, sizeof u);
      std::snprintf(bits, sizeof bits, "%08x", u);
      ADD_FAILURE() << "value bits 0x" << bits << " (" << form << "): want \"" << want
                    << "\", got \"" << got << "\"";
    }
  };
  for (const float value : values) {
    const ReferenceDecimal d = reference_decimal(value);
    for (const int a : places) {
      const std::string want = reference_fixed(d, a);
      const std::size_t n = static_cast<std::size_t>(format_number_to(text, value, true, a) - text);
      text[n] = '\0';
      if (n != want.size() || std::memcmp(text, want.data(), n) != 0) {
        const std::string form = a == 0 ? "fixed, no limit" : "fixed, " + std::to_string(a);
        report(value, form.c_str(), want, text);
      }
    }
    const std::string want = reference_short(value);
    const std::size_t n = static_cast<std::size_t>(format_number_to(text, value, false, 6) - text);
    text[n] = '\0';
    if (n != want.size() || std::memcmp(text, want.data(), n) != 0) {
      report(value, "short", want, text);
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << values.size() << " values";
}

}  // namespace
}  // namespace qel
