#include "core/float_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace pykora::core {
namespace {

char* copy_text(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* write_non_finite(char* out, double v, const NonFiniteSpelling& spelling) {
  return copy_text(out, std::isnan(v) ? spelling.nan
                        : v > 0       ? spelling.inf
                                      : spelling.negative_inf);
}

// Whether v is an integer below 1e16 in magnitude: one that is written as
// its digits, by write_integral.
bool is_small_integer(double v) { return v == std::trunc(v) && std::fabs(v) < 1e16; }

// The digits of an integral v below 1e16 in magnitude, its sign included
// (-0.0 is "-0"), digits that cost a tenth of the shortest-digits search.
// Below 2**53 no other text reads back as v. From 2**53 on float64s are even
// integers 2 apart, so a text reads back as v only within 1 of it, and of
// those integers just v is even: none ending in a zero, and so none
// shorter, is another.
char* write_integral(char* out, double v) {
  if (std::signbit(v)) {
    *out++ = '-';
  }
  return std::to_chars(out, out + kMaxFloatText, static_cast<std::int64_t>(std::fabs(v))).ptr;
}

}  // namespace

char* write_exact(char* out, double v, const NonFiniteSpelling& spelling) {
  if (!std::isfinite(v)) {
    return write_non_finite(out, v, spelling);
  }
  const double magnitude = std::fabs(v);
  if (is_small_integer(v)) {
    out = write_integral(out, v);
    *out++ = '.';
    *out++ = '0';
    return out;
  }
  if (magnitude >= 1e-4 && magnitude < 1e16) {
    // repr's fixed range. Here the fewest characters in fixed notation are
    // the fewest significant digits: the integer part is written whole
    // either way, and below 1 every leading zero counts alike. A value with
    // a fraction keeps one, as repr's ".0" is only for integral values.
    return std::to_chars(out, out + kMaxFloatText, v, std::chars_format::fixed).ptr;
  }
  // Python's exponent form is C's: "1e-05", "1.5e+16", "1e+300".
  return std::to_chars(out, out + kMaxFloatText, v, std::chars_format::scientific).ptr;
}

char* write_idx_label(char* out, double idx) {
  return is_small_integer(idx) ? write_integral(out, idx) : write_exact(out, idx, kBareSpelling);
}

char* write_rounded(char* out, double v, int precision, const NonFiniteSpelling& spelling) {
  if (!std::isfinite(v)) {
    return write_non_finite(out, v, spelling);
  }
  precision = std::clamp(precision, kMinPrecision, kMaxPrecision);
  // format(v, ".{p}g") is C's "%.{p}g": the same correctly rounded digits,
  // trailing zeros dropped, exponent form for exponents below -4 or at
  // least p, two exponent digits at least.
  return std::to_chars(out, out + kMaxFloatText, v, std::chars_format::general, precision).ptr;
}

std::size_t joined_bound(std::size_t count, std::string_view separator) {
  const std::size_t each = kMaxFloatText + separator.size();
  if (each < separator.size() || count > std::numeric_limits<std::size_t>::max() / each) {
    return 0;
  }
  return count * each;
}

char* write_joined(char* out, std::span<const double> values, std::string_view separator,
                   const NonFiniteSpelling& spelling) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) {
      out = copy_text(out, separator);
    }
    out = write_exact(out, values[i], spelling);
  }
  return out;
}

char* write_joined_rounded(char* out, std::span<const double> values, int precision,
                           std::string_view separator, const NonFiniteSpelling& spelling) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) {
      out = copy_text(out, separator);
    }
    out = write_rounded(out, values[i], precision, spelling);
  }
  return out;
}

}  // namespace pykora::core
