/*
 * Number text for the output file.  Every float that reaches the file goes
 * through here, in one of two forms chosen per export:
 *
 *   - the fixed form: positional decimal text, six significant digits, the
 *     digits behind the point limited to decimal_places for values below
 *     one (cut, not rounded), and never an exponent;
 *   - the short form: exactly the text "%g" gives for the value widened to
 *     double.
 *
 * Neither form ever writes "nan" or "inf": a NaN is written as zero and an
 * infinity as the largest finite float of its sign.
 *
 * Ownership: format_number_to writes into the caller's buffer (the mesh
 * writer's is the output's own, the hot path of every export);
 * format_number returns the text by value.  Nothing here allocates or
 * keeps state.
 */
#ifndef QEL_XWRITER_NUMBERS_H
#define QEL_XWRITER_NUMBERS_H

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/options.h"

namespace qel {

// Bytes a number's text may take, a terminator included.  The longest
// text of a finite float is 52 characters (fixed form without a limit on
// the decimal places: "-0.", 44 zeros and the five digits of the smallest
// subnormal).
constexpr std::size_t kNumberTextMax = 64;

// Writes the text of `value` at `out` (room for kNumberTextMax bytes), no
// terminator, and returns the end of the text.  `fixed` selects the fixed
// form; `decimal_places` (fixed form only) is clamped to 0..9, and 0 means
// no limit.  "-0.0" never comes out of the fixed form: a negative value cut
// to nothing is written as "0.0".  The short form of negative zero stays
// "-0".
char *format_number_to(char *out, float value, bool fixed, int decimal_places) noexcept;

// The number form of a run, read once from its options: writers that lay
// out a whole line in the output buffer keep one at hand.
struct NumberForm {
  explicit NumberForm(const Options &options)
      : fixed(options.is_set(opt_fixed_numbers)), places(options.decimal_places()) {}
  NumberForm(bool fixed_form, int decimal_places) : fixed(fixed_form), places(decimal_places) {}

  char *put(char *out, float value) const { return format_number_to(out, value, fixed, places); }

  bool fixed;
  int places;
};

// The text of one number, held by value (for the rare texts written with
// printf: templates, frame matrices, line comments).
struct NumberText {
  const char *c_str() const { return text; }
  char text[kNumberTextMax];
};

inline NumberText format_number(float value, const NumberForm &form) noexcept {
  NumberText n;
  *form.put(n.text, value) = '\0';
  return n;
}

// Snaps `value` to the nearest multiple of `step` (> 0), halves away from
// zero.  A value that snaps to zero keeps its sign (-0.4 with step 1 gives
// negative zero).  Inline: the mesh writer rounds three normal components
// of every surface vertex.
inline double round_to_step(double value, double step) noexcept {
  assert(step > 0.0 && std::isfinite(step));
  // Step 1: the reciprocal of the step.
  const double r = 1.0 / step;
  // Step 2: integral and fractional parts, both with the sign of the
  // product (so -0.4 keeps a negative zero as its integral part).  Below
  // 2^52 the conversion to a 64-bit integer truncates exactly and the
  // difference is exact, which is what modf gives, without its library
  // call; copysign restores the sign a truncation to zero loses.  Larger
  // magnitudes, infinities and NaN go to modf itself.
  const double product = value * r;
  double integral = 0.0;
  double fraction = 0.0;
  if (std::fabs(product) < 4503599627370496.0) {
    integral = std::copysign(static_cast<double>(static_cast<int64_t>(product)), product);
    fraction = product - integral;
  } else {
    fraction = std::modf(product, &integral);
  }
  // Step 3: halves away from zero.  Written without branches (the steps
  // are integers, which compilers keep out of jumps), as whether a
  // component rounds up is a coin toss a branch predictor loses half the
  // time: integral - (-1) adds one, integral - 1 takes one away, and
  // integral - (+0) leaves it alone, also the sign of a zero.
  const int down = static_cast<int>(fraction <= -0.5) - static_cast<int>(fraction >= 0.5);
  integral -= static_cast<double>(down);
  // Step 4: back by dividing by r (dividing, not multiplying by the step:
  // 707107 / 1e6 is exactly the double nearest 0.707107).
  return integral / r;
}

}  // namespace qel

#endif  // QEL_XWRITER_NUMBERS_H
