/*
 * The number text against a reference built from snprintf, on arbitrary
 * float bits: the short form once and the fixed form for every digit of
 * decimal places, plus one more count of places taken from the input (any
 * int, which the number text clamps into 0..9).
 *
 * Input: four bytes of float bits (little end first); a fifth byte, when
 * there, is the extra count of places as a signed byte.  Every way a number
 * reaches the file must give that text: format_number_to (the mesh writer's,
 * into the output's buffer) and format_number in a run's form.
 *
 * The step rounding of normals is checked on the same value against the
 * split into integral and fractional parts by the standard library, bit for
 * bit (the sign of a zero included).
 */
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_host.h"
#include "xwriter/numbers.h"

namespace {

// The value a reader gets instead of a non-finite one: NaN is zero, an
// infinity the largest finite float of its sign.
bool finite_stand_in(float value, float *out) {
  if (std::isnan(value)) return false;
  *out = std::isinf(value) ? std::copysign(FLT_MAX, value) : value;
  return true;
}

std::string reference_short(float value) {
  float v = 0.0f;
  if (!finite_stand_in(value, &v)) return "0";
  char text[64];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
  return text;
}

// The fixed form, step by step from the "% .5e" text.
std::string reference_fixed(float value, int decimal_places) {
  float v = 0.0f;
  if (!finite_stand_in(value, &v)) return "0.0";
  if (decimal_places < 0) decimal_places = 0;
  if (decimal_places > 9) decimal_places = 9;

  char e_text[64];
  std::snprintf(e_text, sizeof e_text, "% .*e", 5, static_cast<double>(v));
  // sign character, digit, '.', five digits, 'e', exponent
  const char sign = e_text[0];
  std::string digits;
  digits += e_text[1];
  digits.append(e_text + 3, 5);
  const int exponent = std::atoi(e_text + 9);
  const int a = decimal_places == 0 ? 9999 : decimal_places;

  std::string out;
  if (sign == '-') out += '-';
  if (exponent < -a) {
    out += "0.0";
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    const int count = a + exponent + 1 < 6 ? a + exponent + 1 : 6;
    out += digits.substr(0, static_cast<std::size_t>(count));
  } else {
    const int integral = exponent + 1;
    out += digits.substr(0, static_cast<std::size_t>(integral < 6 ? integral : 6));
    if (integral > 6) out.append(static_cast<std::size_t>(integral - 6), '0');
    out += '.';
    if (exponent >= 5) {
      out += '0';
    } else {
      out += digits.substr(static_cast<std::size_t>(integral));
    }
  }
  while (!out.empty() && out.back() == '0') out.pop_back();
  if (!out.empty() && out.back() == '.') out += '0';
  if (out == "-0.0") out = "0.0";
  return out;
}

std::string bits_text(uint32_t bits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", bits);
  return text;
}

// format_number_to in a buffer of exactly the promised size, so that a
// byte written past it is an address-sanitizer finding; no terminator is
// written.
std::string formatted(float value, bool fixed, int places, uint32_t bits) {
  std::unique_ptr<char[]> buffer(new char[qel::kNumberTextMax]);
  char *end = qel::format_number_to(buffer.get(), value, fixed, places);
  if (end < buffer.get() || end >= buffer.get() + qel::kNumberTextMax)
    qel_fuzz::finding("format_number_to: end out of the buffer for " + bits_text(bits));
  return std::string(buffer.get(), end);
}

// round_to_step as its steps read, with modf.
double reference_round(double value, double step) {
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

void compare_rounding(float value, uint32_t bits) {
  const double got = qel::round_to_step(static_cast<double>(value), 0.000001);
  const double expected = reference_round(static_cast<double>(value), 0.000001);
  if (std::isnan(got) && std::isnan(expected)) return;
  if (std::memcmp(&got, &expected, sizeof got) != 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%.17g, expected %.17g", got, expected);
    qel_fuzz::finding("round_to_step of " + bits_text(bits) + ": " + text);
  }
}

void compare(const std::string &got, const std::string &expected, const char *form, int places,
             uint32_t bits) {
  if (got == expected) return;
  qel_fuzz::finding(std::string(form) + " form of " + bits_text(bits) + " with " +
                    std::to_string(places) + " places: '" + got + "', expected '" + expected +
                    "'");
}

// The text the writers of a run take, in the run's form.
void compare_export_paths(float value, bool fixed, int places, const std::string &expected,
                          uint32_t bits) {
  compare(qel::format_number(value, qel::NumberForm(fixed, places)).c_str(), expected,
          "run's, fixed or short", places, bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const uint32_t bits = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                        static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);

  const std::string short_text = reference_short(value);
  compare(formatted(value, false, 6, bits), short_text, "short", 6, bits);
  compare_export_paths(value, false, 6, short_text, bits);

  for (int places = 0; places <= 9; ++places) {
    const std::string expected = reference_fixed(value, places);
    compare(formatted(value, true, places, bits), expected, "fixed", places, bits);
  }
  compare_rounding(value, bits);
  const int last = static_cast<int>(bits % 10);
  compare_export_paths(value, true, last, reference_fixed(value, last), bits);

  if (size >= 5) {
    const int places = static_cast<signed char>(data[4]);
    compare(formatted(value, true, places, bits), reference_fixed(value, places), "fixed", places,
            bits);
  }
  return 0;
}
