/*
 * Number text for the output file: the fixed form and the "%g" short form.
 *
 * Both forms start from one correctly rounded scientific conversion with
 * six significant digits (the digits and exponent "% .5e" gives) and lay
 * the digits out from there, so a number costs one conversion.
 *
 * The conversion: a float is m x 2^e with a 24-bit m, so for the values
 * meshes hold (1e-22 up to a million) value x 10^p, with p chosen so that
 * six or seven digits stand before the point, is m x 5^p x 2^(e+p) -- one
 * 128-bit product and a shift, exact.  Its integral part and the bits
 * shifted out give the six digits rounded to nearest, ties to even, as the
 * library rounds them.  Subnormals, values from a million up and values
 * below 1e-22 take std::to_chars instead (exact too, several times slower).
 */
#include "xwriter/numbers.h"

#include <cassert>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "core/output.h"

namespace qel {

namespace {

constexpr int kSignificantDigits = 6;
// The limit of the digits behind the point when decimal_places is 0.
constexpr int kNoLimit = 9999;

static_assert(kNumberTextMax <= Output::kMaxDirect,
              "a number must fit one reserve_tail of the output context");

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the digits are packed into a 64-bit word in memory order");

// Eight '0' characters in one word.
constexpr uint64_t kZeros = 0x3030303030303030ull;

// A finite value rounded to six significant digits: the digit string
// d0 d1 d2 d3 d4 d5 and the exponent E of d0.d1d2d3d4d5 x 10^E.
struct Decimal {
  bool negative;
  // The six digits as characters, then "00", as eight bytes in memory
  // order: the fixed form lays out the common cases with a few whole-word
  // stores (storing characters one by one and reading them back as a
  // word costs more than the arithmetic).
  uint64_t text;
  int exponent;
};

// The characters of a Decimal, then '0's, for the layouts that go
// character by character.
struct DigitChars {
  explicit DigitChars(const Decimal &d) noexcept {
    std::memcpy(c, &d.text, 8);
    std::memcpy(c + 8, &kZeros, 8);
  }
  char c[16];
};

// The characters of a six-digit integer 100000..999999, then "00".
uint64_t six_digits_text(uint32_t r) noexcept {
  auto pair = [](uint32_t two_digits) {
    uint16_t chars;
    std::memcpy(&chars, kDigitPairs + 2 * two_digits, 2);
    return static_cast<uint64_t>(chars);
  };
  return pair(r / 10000) | pair(r / 100 % 100) << 16 | pair(r % 100) << 32 | (kZeros << 48);
}

// 5^p for p = 0 .. 27, the powers that fit 63 bits.
constexpr int kMaxPow5 = 27;
struct Pow5Table {
  uint64_t value[kMaxPow5 + 1];
  constexpr Pow5Table() : value() {
    value[0] = 1;
    for (int p = 1; p <= kMaxPow5; ++p) value[p] = value[p - 1] * 5;
  }
};
constexpr Pow5Table kPow5;

// floor(b x log10(2)) for |b| < 1650 (78913 / 2^18 is log10(2) closely
// enough); the shift of a negative product rounds down, as GCC and Clang
// shift.
constexpr int floor_log10_pow2(int b) { return (b * 78913) >> 18; }
static_assert(floor_log10_pow2(-1) == -1 && floor_log10_pow2(10) == 3 &&
                  floor_log10_pow2(-126) == -38 && floor_log10_pow2(127) == 38,
              "arithmetic shift expected");

// The rounding of the exact conversion: s = n / 2^shift has six or seven
// digits before the point; its six leading digits, rounded to nearest,
// ties to even.  With seven digits the exponent goes up by one and the
// seventh digit joins the rest that decides.  999999.5 and the like carry
// into the next exponent too.  Written with selects rather than branches:
// whether a value has six or seven digits there is as good as random.
template <typename Unsigned>
uint64_t round_six_digits(Unsigned n, int shift, int *exponent) noexcept {
  assert(shift > 0 && shift < static_cast<int>(8 * sizeof(Unsigned)));
  const auto integral = static_cast<uint64_t>(n >> shift);
  const Unsigned one = static_cast<Unsigned>(1) << shift;  // a unit of the last digit
  const Unsigned rest = n & (one - 1);
  const bool seven = integral >= 1000000;
  assert(seven || integral >= 100000);
  // The kept digits and what is cut off, in units of 2^-shift, with half a
  // unit of the last kept digit.
  const uint64_t tenth = integral / 10;
  const uint64_t kept = seven ? tenth : integral;
  const Unsigned cut = seven ? static_cast<Unsigned>(integral - 10 * tenth) * one + rest : rest;
  const Unsigned half = seven ? 5 * one : one / 2;
  const bool up = cut > half || (cut == half && (kept & 1) != 0);
  uint64_t r = kept + (up ? 1 : 0);
  const bool carry = r == 1000000;
  r = carry ? 100000 : r;
  *exponent += (seven ? 1 : 0) + (carry ? 1 : 0);
  return r;
}

// The exact conversion for zeros and normal floats from 1e-22 up to a
// million (see the top of the file).  False for every other value; the
// caller then converts with the library.  Precondition: `value` is finite.
bool to_decimal_exact(float value, Decimal &d) noexcept {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  d.negative = (bits >> 31) != 0;
  const uint32_t biased = (bits >> 23) & 0xffu;
  const uint32_t fraction = bits & 0x7fffffu;
  if (biased == 0) {
    if (fraction != 0) return false;  // subnormal
    d.text = kZeros;
    d.exponent = 0;
    return true;
  }

  // Step 1: value = m x 2^(b - 23) lies in [2^b, 2^(b+1)), and
  // 10^e0 <= 2^b < 10^(e0+1), so its decimal exponent is e0 or e0 + 1.
  const int b = static_cast<int>(biased) - 127;
  const uint64_t m = fraction | 0x800000u;
  const int e0 = floor_log10_pow2(b);
  const int p = kSignificantDigits - 1 - e0;
  if (p < 0 || p > kMaxPow5) return false;

  // Step 2: s = value x 10^p = m x 5^p / 2^shift, exactly;
  // 10^5 <= s < 2 x 10^6.  The shift is at least 4 and below 90 in this
  // range.  Up to p = 13 (values from about 1e-8) the product fits 64 bits.
  const int shift = 23 - b - p;
  assert(shift > 0 && shift < 128);
  int exponent = e0;
  const uint64_t r =
      p <= 13 ? round_six_digits<uint64_t>(m * kPow5.value[p], shift, &exponent)
              : round_six_digits<unsigned __int128>(
                    static_cast<unsigned __int128>(m) * kPow5.value[p], shift, &exponent);
  d.text = six_digits_text(static_cast<uint32_t>(r));
  d.exponent = exponent;
  return true;
}

// The library's conversion, for the values to_decimal_exact leaves.
// Precondition: `value` is finite.
Decimal to_decimal_library(double value) noexcept {
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
  char digits[8] = {*p++, '0', '0', '0', '0', '0', '0', '0'};
  assert(*p == '.');
  ++p;
  std::memcpy(digits + 1, p, kSignificantDigits - 1);
  std::memcpy(&d.text, digits, 8);
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

// Precondition: `value` is finite.
Decimal to_decimal(float value) noexcept {
  Decimal d;
  if (to_decimal_exact(value, d)) return d;
  return to_decimal_library(static_cast<double>(value));
}

char *put_zeros(char *p, int count) noexcept {
  for (int i = 0; i < count; ++i) *p++ = '0';
  return p;
}

char *put_digits(char *p, const char *digits, int count) noexcept {
  std::memcpy(p, digits, static_cast<std::size_t>(count));
  return p + count;
}

// How many of the first `count` digits of `text` (1 to 6) end in a row of
// '0's.  Precondition: the first digit is not '0'.
int trailing_zero_digits(uint64_t text, int count) noexcept {
  // The bytes that differ from '0', of the first `count` characters only:
  // the highest one is the last digit to keep.
  const uint64_t differ = (text ^ kZeros) & (~uint64_t{0} >> (64 - 8 * count));
  assert(differ != 0);
  return (__builtin_clzll(differ) - (64 - 8 * count)) / 8;
}

// The fixed form of a value from one up, behind its sign: the limit of
// decimal places plays no part.
inline char *fixed_from_one(char *p, const Decimal &d) noexcept {
  const int e = d.exponent;
  const int integral = e + 1;
  if (e < kSignificantDigits - 1) {
    // Up to 99999.9: e + 1 digits, the point, the other 5 - e digits
    // without the '0's at their end; a point left bare keeps one.
    std::memcpy(p, &d.text, 8);
    p[integral] = '.';
    const uint64_t fraction = d.text >> (8 * integral) | kZeros << (64 - 8 * integral);
    std::memcpy(p + integral + 1, &fraction, 8);
    const int cut = trailing_zero_digits(d.text, kSignificantDigits);
    const int kept = kSignificantDigits - integral - cut;
    return p + integral + 1 + (kept > 0 ? kept : 1);
  }
  // From 100000 up: all six digits, zeros up to the point, ".0".
  const DigitChars digits(d);
  p = put_digits(p, digits.c, integral < kSignificantDigits ? integral : kSignificantDigits);
  if (integral > kSignificantDigits) p = put_zeros(p, integral - kSignificantDigits);
  *p++ = '.';
  *p++ = '0';
  return p;
}

// The fixed form.  Precondition: 0 <= decimal_places <= 9.
char *fixed_form(char *p, const Decimal &d, int decimal_places) noexcept {
  assert(decimal_places >= 0 && decimal_places <= 9);
  char *const start = p;
  const int e = d.exponent;
  const int a = decimal_places == 0 ? kNoLimit : decimal_places;
  if (d.negative) *p++ = '-';

  // The common cases copy eight characters at a time (the buffer has room
  // for them) and find the end of the text from the digits instead of
  // scanning back over the trailing '0's.
  const bool digits_zero = d.text == kZeros;
  if (e < -a || digits_zero) {
    // Below the limit of decimal places nothing is left; zero itself
    // ends the same way.  Never "-0.0".
    std::memcpy(start, "0.0", 3);
    return start + 3;
  }
  if (e >= 0) return fixed_from_one(p, d);

  // Below one: the leading zeros, then as many digits as the limit leaves
  // room for.  The rest is cut, not rounded.  Trailing '0's are cut within
  // the digits: the first one is not '0'.
  *p++ = '0';
  *p++ = '.';
  const int zeros = -e - 1;
  const int room = a + e + 1;  // >= 1, since e >= -a
  const int count = room < kSignificantDigits ? room : kSignificantDigits;
  if (zeros <= 8) {
    std::memcpy(p, &kZeros, 8);
    std::memcpy(p + zeros, &d.text, 8);
  } else {
    p = put_zeros(p, zeros) - zeros;
    put_digits(p + zeros, DigitChars(d).c, count);
  }
  return p + zeros + count - trailing_zero_digits(d.text, count);
}

// The "%g" form: precision 6, so %e when E < -4 or E >= 6, else %f with
// 5 - E digits behind the point; trailing zeros and a bare point removed.
char *short_form(char *p, const Decimal &decimal) noexcept {
  const int e = decimal.exponent;
  const DigitChars d(decimal);
  if (decimal.negative) *p++ = '-';

  if (e < -4 || e >= kSignificantDigits) {
    // The exponent form: d0[.d1..dk]e(+|-)XX, at least two exponent digits.
    int last = kSignificantDigits - 1;
    while (last > 0 && d.c[last] == '0') --last;
    *p++ = d.c[0];
    if (last > 0) {
      *p++ = '.';
      p = put_digits(p, d.c + 1, last);
    }
    *p++ = 'e';
    *p++ = e < 0 ? '-' : '+';
    const int magnitude = e < 0 ? -e : e;
    if (magnitude >= 100) *p++ = static_cast<char>('0' + magnitude / 100);
    *p++ = static_cast<char>('0' + magnitude / 10 % 10);
    *p++ = static_cast<char>('0' + magnitude % 10);
    return p;
  }

  // Positional: the same six digits laid out around the point
  // (rounding %f at 5 - E places rounds at the same digit as %e did).
  if (e >= 0) {
    p = put_digits(p, d.c, e + 1);
    if (e == kSignificantDigits - 1) return p;  // no point, nothing to trim
    *p++ = '.';
    p = put_digits(p, d.c + e + 1, kSignificantDigits - 1 - e);
  } else {
    *p++ = '0';
    *p++ = '.';
    p = put_zeros(p, -e - 1);
    p = put_digits(p, d.c, kSignificantDigits);
  }
  // Trailing zeros of the fraction go, and then a bare point.
  while (p[-1] == '0') --p;
  if (p[-1] == '.') --p;
  return p;
}

}  // namespace

char *format_number_to(char *out, float value, bool fixed, int decimal_places) noexcept {
  assert(out != nullptr);
  // Step 1: no reader takes "nan" or "inf": NaN is zero, an infinity the
  // largest finite float of its sign.
  if (std::isnan(value)) {
    if (!fixed) {
      *out = '0';
      return out + 1;
    }
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  if (std::isinf(value)) value = std::copysign(FLT_MAX, value);

  // Step 2: the limit of decimal places is a digit; whatever else the
  // option string holds is clamped to one.
  if (decimal_places < 0) decimal_places = 0;
  if (decimal_places > 9) decimal_places = 9;

  // Step 3: six significant digits of the value widened to double.
  const Decimal d = to_decimal(value);

  // Step 4: the layout of the form in use.
  char *end = fixed ? fixed_form(out, d, decimal_places) : short_form(out, d);
  assert(static_cast<std::size_t>(end - out) < kNumberTextMax);
  return end;
}

}  // namespace qel
