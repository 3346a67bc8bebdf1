// The texts of float64 values as Python writes them: repr(v), every digit
// of the shortest text that reads back as the same value, and
// format(v, ".{p}g"), p significant digits.
//
// Pure C++: the digits come from std::to_chars, which finds the same
// shortest and correctly rounded digits as the interpreter's own dtoa; only
// where the decimal point goes and when the exponent form is used are
// Python's choices, made here.
//
// Every routine writes into a buffer the caller provides and returns the end
// of what it wrote; none allocates.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace pykora::core {

// How NaN and the infinities are written: bare where a text is a field of
// its own (CSV, tables), quoted where it must be a JSON string.
struct NonFiniteSpelling {
  std::string_view nan;
  std::string_view inf;
  std::string_view negative_inf;
};
inline constexpr NonFiniteSpelling kBareSpelling{"NaN", "inf", "-inf"};
inline constexpr NonFiniteSpelling kQuotedSpelling{"\"NaN\"", "\"inf\"", "\"-inf\""};

// The most bytes the text of one value takes, in either form and either
// spelling: "-2.2250738585072014e-308" is 24, and so is ".17g" of the same.
inline constexpr std::size_t kMaxFloatText = 24;

// The precisions write_rounded takes.
inline constexpr int kMinPrecision = 1;
inline constexpr int kMaxPrecision = 17;

// repr(v): the shortest digits that round-trip, in fixed notation with at
// least one decimal ("1.0", "0.0001", "123456789012345.0") unless the value
// is below 1e-4 or at or above 1e16 in magnitude, which take the exponent
// form ("1e-05", "1.5e-07", "1e+16"). NaN's sign is not written, as Python
// does not write it. Writes at most kMaxFloatText bytes.
char* write_exact(char* out, double v, const NonFiniteSpelling& spelling);

// How a block's idx is named wherever the block is, for people to look it
// up: an integral idx below 1e16 in magnitude as its integer ("1234567",
// not "1.23457e+06"; "-0" for -0.0, so that the text names one float64),
// any other as write_exact writes it, bare. Writes at most kMaxFloatText
// bytes.
char* write_idx_label(char* out, double idx);

// format(v, ".{precision}g"): `precision` significant digits, correctly
// rounded (ties to even on the exact binary value), trailing zeros dropped,
// exponent form when the decimal exponent is below -4 or at least
// `precision`. `precision` is clamped to kMinPrecision..kMaxPrecision.
// Writes at most kMaxFloatText bytes.
char* write_rounded(char* out, double v, int precision, const NonFiniteSpelling& spelling);

// The bytes write_joined may write for `count` values and `separator`, or 0
// when that does not fit in a size_t.
std::size_t joined_bound(std::size_t count, std::string_view separator);

// write_exact of every value, with `separator` between them. `out` must hold
// joined_bound(values.size(), separator) bytes.
char* write_joined(char* out, std::span<const double> values, std::string_view separator,
                   const NonFiniteSpelling& spelling);

// write_rounded of every value, with `separator` between them, in as many
// bytes as write_joined.
char* write_joined_rounded(char* out, std::span<const double> values, int precision,
                           std::string_view separator, const NonFiniteSpelling& spelling);

}  // namespace pykora::core
