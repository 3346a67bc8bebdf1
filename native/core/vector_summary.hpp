// What a flattened [idx, n, x1, y1, ...] vector holds, counted in one scan
// of its blocks: the description `pykora info` gives of a result file.
//
// Pure C++: works on a span of doubles and knows nothing of Python. Nothing
// is decoded and no padding is made: a block's padding is the difference of
// two counts, whatever the block declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace pykora::core {

// The least and the most of the finite values added; empty until one is.
struct FiniteRange {
  double least = std::numeric_limits<double>::infinity();
  double most = -std::numeric_limits<double>::infinity();

  bool empty() const { return least > most; }
};

struct VectorSummary {
  // Whether every count could be read. Otherwise the scan stopped at the
  // block starting at `end`, whose count is NaN or infinite, and the block
  // figures below cover only the blocks before it.
  bool complete = true;
  // Where the blocks end: the position after the last block read, or of the
  // block whose count cannot be read. A complete scan leaves at most one
  // value after it, which no block holds.
  std::size_t end = 0;
  std::size_t blocks = 0;
  std::size_t empty_blocks = 0;    // blocks that declare no pairs
  std::size_t last_start = 0;      // position of the last block's idx, when there is one
  std::uint64_t pairs = 0;         // pairs whose x and y the vector holds
  std::uint64_t padded_pairs = 0;  // pairs declared beyond those: NaN to the decoders
  std::uint64_t least_pairs = 0;   // the fewest and the most pairs a block declares,
  std::uint64_t most_pairs = 0;    // each at most kCountCeiling
  FiniteRange x;                   // over the x values present, an unpaired last one too
  FiniteRange y;
  bool idx_integral = true;    // every idx finite and a whole number
  bool idx_increasing = true;  // every idx above the one before it
  std::size_t nan_values = 0;  // over the whole vector, headers and leftover too
  std::size_t inf_values = 0;
};

// The summary of `vec`'s blocks, found by for_each_block, as the decoders
// find them.
VectorSummary summarise_vector(std::span<const double> vec);

}  // namespace pykora::core
