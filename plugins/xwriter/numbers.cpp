/*
 * Number text for the output file: the fixed form, the "%g" short form, the
 * ring of results and the step rounding of normals.
 *
 * Both forms start from one correctly rounded scientific conversion with
 * six significant digits (std::to_chars, which gives the characters of
 * "% .5e" without its leading space and without locale or allocation) and
 * lay the digits out from there, so a number costs one conversion.
 */
#include "xwriter/numbers.h"

#include <cassert>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "export/export_state.h"
#include "export/output.h"

namespace qel {

namespace {

constexpr int kSignificantDigits = 6;
// The limit of the digits behind the point when decimal_places is 0.
constexpr int kNoLimit = 9999;

static_assert(kNumberTextMax <= Output::kMaxDirect,
              "a number must fit one reserve_tail of the output context");

// A finite value rounded to six significant digits: the digit string
// d0 d1 d2 d3 d4 d5 and the exponent E of d0.d1d2d3d4d5 x 10^E.
struct Decimal {
  bool negative;
  char digits[kSignificantDigits];
  int exponent;
};

// Precondition: `value` is finite.
Decimal to_decimal(double value) noexcept {
  assert(std::isfinite(value));
  // Step 1: the "% .5e" characters: [-]d.ddddde(+|-)dd[d].
  char text[32];
  const std::to_chars_result r = std::to_chars(
      text, text + sizeof text, value, std::chars_format::scientific, kSignificantDigits - 1);
  assert(r.ec == std::errc());
  const char *p = text;
  const char *const end = r.ptr;

  // Step 2: the sign (negative zero included), then the digit string.
  Decimal d;
  d.negative = *p == '-';
  if (d.negative) ++p;
  d.digits[0] = *p++;
  assert(*p == '.');
  ++p;
  std::memcpy(d.digits + 1, p, kSignificantDigits - 1);
  p += kSignificantDigits - 1;

  // Step 3: the exponent behind the 'e'.
  assert(*p == 'e');
  ++p;
  const bool exponent_negative = *p == '-';
  ++p;
  int exponent = 0;
  for (; p < end; ++p) exponent = exponent * 10 + (*p - '0');
  d.exponent = exponent_negative ? -exponent : exponent;
  return d;
}

char *put_zeros(char *p, int count) noexcept {
  for (int i = 0; i < count; ++i) *p++ = '0';
  return p;
}

char *put_digits(char *p, const char *digits, int count) noexcept {
  std::memcpy(p, digits, static_cast<std::size_t>(count));
  return p + count;
}

// The fixed form.  Precondition: 0 <= decimal_places <= 9.
char *fixed_form(char *p, const Decimal &d, int decimal_places) noexcept {
  assert(decimal_places >= 0 && decimal_places <= 9);
  char *const start = p;
  const int e = d.exponent;
  const int a = decimal_places == 0 ? kNoLimit : decimal_places;
  if (d.negative) *p++ = '-';

  if (e < -a) {
    // Step 4a: below the limit of decimal places: nothing is left.
    p = put_digits(p, "0.0", 3);
  } else if (e < 0) {
    // Step 4b: below one: the leading zeros, then as many digits as the
    // limit leaves room for.  The rest is cut, not rounded.
    *p++ = '0';
    *p++ = '.';
    p = put_zeros(p, -e - 1);
    const int room = a + e + 1;  // >= 1, since e >= -a
    p = put_digits(p, d.digits, room < kSignificantDigits ? room : kSignificantDigits);
  } else {
    // Step 4c: one or more: all six digits, zeros up to the point, and
    // the digits that fall behind it.  The limit plays no part here.
    const int integral = e + 1;
    p = put_digits(p, d.digits, integral < kSignificantDigits ? integral : kSignificantDigits);
    if (integral > kSignificantDigits) p = put_zeros(p, integral - kSignificantDigits);
    *p++ = '.';
    if (e >= kSignificantDigits - 1) {
      *p++ = '0';
    } else {
      p = put_digits(p, d.digits + integral, kSignificantDigits - integral);
    }
  }

  // Step 5: trailing zeros go; a bare point gets one zero back.  Every
  // branch wrote a point, so the scan stops at it at the latest.
  while (p[-1] == '0') --p;
  if (p[-1] == '.') *p++ = '0';

  // Step 6: a negative value cut to nothing is zero, not "-0.0".
  if (p - start == 4 && std::memcmp(start, "-0.0", 4) == 0) {
    std::memcpy(start, "0.0", 3);
    p = start + 3;
  }
  return p;
}

// The "%g" form: precision 6, so %e when E < -4 or E >= 6, else %f with
// 5 - E digits behind the point; trailing zeros and a bare point removed.
char *short_form(char *p, const Decimal &d) noexcept {
  const int e = d.exponent;
  if (d.negative) *p++ = '-';

  if (e < -4 || e >= kSignificantDigits) {
    // Step 4a: d0[.d1..dk]e(+|-)XX, at least two exponent digits.
    int last = kSignificantDigits - 1;
    while (last > 0 && d.digits[last] == '0') --last;
    *p++ = d.digits[0];
    if (last > 0) {
      *p++ = '.';
      p = put_digits(p, d.digits + 1, last);
    }
    *p++ = 'e';
    *p++ = e < 0 ? '-' : '+';
    const int magnitude = e < 0 ? -e : e;
    if (magnitude >= 100) *p++ = static_cast<char>('0' + magnitude / 100);
    *p++ = static_cast<char>('0' + magnitude / 10 % 10);
    *p++ = static_cast<char>('0' + magnitude % 10);
    return p;
  }

  // Step 4b: positional, the same six digits laid out around the point
  // (rounding %f at 5 - E places rounds at the same digit as %e did).
  if (e >= 0) {
    p = put_digits(p, d.digits, e + 1);
    if (e == kSignificantDigits - 1) return p;  // no point, nothing to trim
    *p++ = '.';
    p = put_digits(p, d.digits + e + 1, kSignificantDigits - 1 - e);
  } else {
    *p++ = '0';
    *p++ = '.';
    p = put_zeros(p, -e - 1);
    p = put_digits(p, d.digits, kSignificantDigits);
  }
  // Step 5: trailing zeros of the fraction go, and then a bare point.
  while (p[-1] == '0') --p;
  if (p[-1] == '.') --p;
  return p;
}

}  // namespace

std::size_t format_number_into(char *out, float value, bool fixed, int decimal_places) noexcept {
  assert(out != nullptr);
  // Step 1: no reader takes "nan" or "inf": NaN is zero, an infinity the
  // largest finite float of its sign.
  if (std::isnan(value)) {
    const char *zero = fixed ? "0.0" : "0";
    const std::size_t n = std::strlen(zero);
    std::memcpy(out, zero, n + 1);
    return n;
  }
  if (std::isinf(value)) value = std::copysign(FLT_MAX, value);

  // Step 2: the limit of decimal places is a digit; whatever else the
  // option string holds is clamped to one.
  if (decimal_places < 0) decimal_places = 0;
  if (decimal_places > 9) decimal_places = 9;

  // Step 3: six significant digits of the value widened to double.
  const Decimal d = to_decimal(static_cast<double>(value));

  // Step 4 onwards: the layout of the form in use.
  char *end = fixed ? fixed_form(out, d, decimal_places) : short_form(out, d);
  *end = '\0';
  const std::size_t length = static_cast<std::size_t>(end - out);
  assert(length < kNumberTextMax);
  return length;
}

const char *format_number(float value) noexcept {
  static char ring[kNumberRingSize][kNumberTextMax];
  static int ring_index = 0;
  // Advance first: the first call after loading uses buffer 1.
  ring_index = ring_index + 1 == kNumberRingSize ? 0 : ring_index + 1;
  const ExportState &state = export_state();
  char *text = ring[ring_index];
  format_number_into(text, value, state.fixed_numbers != 0, state.decimal_places);
  return text;
}

void write_number(Output &out, float value) {
  const ExportState &state = export_state();
  char *tail = out.reserve_tail(kNumberTextMax);
  out.commit_tail(format_number_into(tail, value, state.fixed_numbers != 0, state.decimal_places));
}

double round_to_step(double value, double step) noexcept {
  assert(step > 0.0 && std::isfinite(step));
  // Step 1: the reciprocal of the step.
  const double r = 1.0 / step;
  // Step 2: integral and fractional parts, both with the sign of the
  // product (so -0.4 keeps a negative zero as its integral part).
  double integral = 0.0;
  const double fraction = std::modf(value * r, &integral);
  // Step 3: halves away from zero.
  if (fraction >= 0.5) {
    integral += 1.0;
  } else if (fraction <= -0.5) {
    integral -= 1.0;
  }
  // Step 4: back by dividing by r (dividing, not multiplying by the step:
  // 707107 / 1e6 is exactly the double nearest 0.707107).
  return integral / r;
}

}  // namespace qel
