// Scanning the engine's flattened vector [idx, n, x1, y1, ..., xn, yn, idx, n, ...]
// into its blocks, and laying blocks out as dense arrays.
//
// Pure C++: works on a span of doubles and knows nothing of Python.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pykora::core {

// Counts at or above this are not held exactly; such a block is always
// truncated (no vector that fits in memory has 2^63 values).
inline constexpr std::uint64_t kCountCeiling = std::uint64_t{1} << 62;

struct Block {
  std::size_t start;    // position of the block's idx in the vector
  std::uint64_t rows;   // pairs the block declares (0 for n <= 0), capped at kCountCeiling
  std::size_t present;  // values of its pairs present in the vector

  std::size_t data() const { return start + 2; }
  // A truncated block is the last one; its missing values read as NaN.
  bool truncated() const { return present < 2 * rows; }
};

enum class ScanStatus {
  kOk,
  kNanCount,            // a count is a quiet NaN: it cannot be rounded to an integer
  kSignallingNanCount,  // a count is a signalling NaN: rounding it also raises
                        // the floating-point "invalid" condition
  kInfiniteCount,       // a count is +-inf
};

struct Scan {
  std::vector<Block> blocks;
  ScanStatus status = ScanStatus::kOk;
};

// `x` rounded to the nearest integer, halves to the even one, whatever the
// floating-point rounding mode: what Python's round(float) gives.
double round_half_even(double x);

// Whether `x` is a signalling NaN (a NaN whose quiet bit is clear).
bool is_signalling_nan(double x);

// Calls `visit(block)` for each block of `vec`, in order, and returns the
// status. A count is rounded half to even; a block whose count is <= 0 has
// no pairs; a block announcing more pairs than remain takes what remains and
// ends the vector; a single trailing value is ignored. Scanning stops at the
// first count that is NaN or infinite, after visiting the blocks before it.
template <typename Visit>
ScanStatus for_each_block(std::span<const double> vec, Visit&& visit) {
  const std::size_t count = vec.size();
  std::size_t i = 0;
  while (count >= 2 && i < count - 1) {
    const std::size_t start = i;
    const double declared = vec[i + 1];
    if (std::isnan(declared)) {
      return is_signalling_nan(declared) ? ScanStatus::kSignallingNanCount : ScanStatus::kNanCount;
    }
    if (std::isinf(declared)) {
      return ScanStatus::kInfiniteCount;
    }
    const double n = round_half_even(declared);
    i += 2;
    if (!(n > 0)) {
      visit(Block{start, 0, 0});
      continue;
    }
    const std::size_t remaining = count - i;
    const std::uint64_t rows =
        n < static_cast<double>(kCountCeiling) ? static_cast<std::uint64_t>(n) : kCountCeiling;
    if (rows <= remaining / 2) {
      visit(Block{start, rows, static_cast<std::size_t>(2 * rows)});
      i += static_cast<std::size_t>(2 * rows);
    } else {
      visit(Block{start, rows, remaining});
      i = count;
    }
  }
  return ScanStatus::kOk;
}

// The blocks of `vec` as a list, with the status of the scan.
Scan scan_blocks(std::span<const double> vec);

// The largest row count over `blocks` (0 when there are none).
std::uint64_t max_rows(std::span<const Block> blocks);

// Writes block `b`'s pairs as a C-ordered (rows, 2) array: x in column 0,
// y in column 1, `nan` where the vector ran out. Values are copied bit for bit.
void copy_pairs(std::span<const double> vec, const Block& b, double* out, double nan);

// Fills the C-ordered (rows, 1 + 2 * blocks.size()) matrix `out`: column 0
// holds block 0's x values, columns 1 + 2k and 2 + 2k block k's y and x
// values, `nan` everywhere else.
void fill_dense(std::span<const double> vec, std::span<const Block> blocks, std::size_t rows,
                double* out, double nan);

}  // namespace pykora::core
