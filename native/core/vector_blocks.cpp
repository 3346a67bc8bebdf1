#include "core/vector_blocks.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace pykora::core {
namespace {

// Value `j` of block `b`'s pairs (x of pair r at 2r, y at 2r + 1), or `nan`
// past the end of the vector. Copied through memcpy so NaN payloads survive.
inline void put(std::span<const double> vec, const Block& b, std::size_t j, double* dst,
                double nan) {
  if (j < b.present) {
    std::memcpy(dst, vec.data() + b.data() + j, sizeof(double));
  } else {
    std::memcpy(dst, &nan, sizeof(double));
  }
}

// Rows of the dense matrix filled per tile, so that the tile stays in cache
// while every block writes its columns into it.
constexpr std::size_t kTileRows = 64;

}  // namespace

double round_half_even(double x) {
  // std::round rounds halves away from zero in every rounding mode; a half
  // is then moved to the even neighbour, as CPython's float rounding does.
  // x / 2 is exact for every x that can be a half.
  const double rounded = std::round(x);
  if (std::fabs(x - rounded) == 0.5) {
    return 2.0 * std::round(x / 2.0);
  }
  return rounded;
}

bool is_signalling_nan(double x) {
  constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 51;
  return std::isnan(x) && (std::bit_cast<std::uint64_t>(x) & kQuietBit) == 0;
}

Scan scan_blocks(std::span<const double> vec) {
  Scan scan;
  scan.status = for_each_block(vec, [&scan](const Block& b) { scan.blocks.push_back(b); });
  return scan;
}

std::uint64_t max_rows(std::span<const Block> blocks) {
  std::uint64_t most = 0;
  for (const Block& b : blocks) {
    most = std::max(most, b.rows);
  }
  return most;
}

void copy_pairs(std::span<const double> vec, const Block& b, double* out, double nan) {
  const std::size_t values = static_cast<std::size_t>(2 * b.rows);
  const std::size_t present = std::min(values, b.present);
  if (present > 0) {  // an empty block may come with no buffer at all
    std::memcpy(out, vec.data() + b.data(), present * sizeof(double));
  }
  for (std::size_t j = present; j < values; ++j) {
    std::memcpy(out + j, &nan, sizeof(double));
  }
}

void fill_dense(std::span<const double> vec, std::span<const Block> blocks, std::size_t rows,
                double* out, double nan) {
  const std::size_t cols = 1 + 2 * blocks.size();
  for (std::size_t top = 0; top < rows; top += kTileRows) {
    const std::size_t bottom = std::min(rows, top + kTileRows);
    const Block& first = blocks.front();
    for (std::size_t r = top; r < bottom; ++r) {
      double* cell = out + r * cols;
      if (r < first.rows) {
        put(vec, first, 2 * r, cell, nan);
      } else {
        std::memcpy(cell, &nan, sizeof(double));
      }
    }
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      const Block& b = blocks[k];
      for (std::size_t r = top; r < bottom; ++r) {
        double* cell = out + r * cols + 1 + 2 * k;
        if (r < b.rows) {
          put(vec, b, 2 * r + 1, cell, nan);
          put(vec, b, 2 * r, cell + 1, nan);
        } else {
          std::memcpy(cell, &nan, sizeof(double));
          std::memcpy(cell + 1, &nan, sizeof(double));
        }
      }
    }
  }
}

}  // namespace pykora::core
