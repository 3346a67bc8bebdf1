#include "core/vector_summary.hpp"

#include <algorithm>
#include <cmath>

#include "core/vector_blocks.hpp"

namespace pykora::core {
namespace {

void add(FiniteRange& range, double value) {
  if (std::isfinite(value)) {
    range.least = std::min(range.least, value);
    range.most = std::max(range.most, value);
  }
}

// The values of block `b`'s pairs that the vector holds: x at even offsets,
// y at odd ones. A block cut short after an x holds that x without its y.
void add_pairs(std::span<const double> vec, const Block& b, VectorSummary& summary) {
  const double* pairs = vec.data() + b.data();
  const std::size_t held = b.present / 2;
  for (std::size_t r = 0; r < held; ++r) {
    add(summary.x, pairs[2 * r]);
    add(summary.y, pairs[2 * r + 1]);
  }
  if (b.present % 2 != 0) {
    add(summary.x, pairs[b.present - 1]);
  }
}

void add_idx(double idx, double previous, bool first, VectorSummary& summary) {
  if (!std::isfinite(idx) || std::trunc(idx) != idx) {
    summary.idx_integral = false;
  }
  if (!first && !(idx > previous)) {
    summary.idx_increasing = false;
  }
}

}  // namespace

VectorSummary summarise_vector(std::span<const double> vec) {
  VectorSummary summary;
  double previous_idx = 0.0;
  const ScanStatus status = for_each_block(vec, [&](const Block& b) {
    const double idx = vec[b.start];
    add_idx(idx, previous_idx, summary.blocks == 0, summary);
    previous_idx = idx;
    const std::uint64_t held = b.present / 2;
    summary.least_pairs = summary.blocks == 0 ? b.rows : std::min(summary.least_pairs, b.rows);
    summary.most_pairs = std::max(summary.most_pairs, b.rows);
    summary.empty_blocks += b.rows == 0 ? 1 : 0;
    summary.pairs += held;
    summary.padded_pairs += b.rows - held;
    summary.last_start = b.start;
    summary.end = b.data() + b.present;
    ++summary.blocks;
    add_pairs(vec, b, summary);
  });
  summary.complete = status == ScanStatus::kOk;
  for (const double value : vec) {
    summary.nan_values += std::isnan(value) ? 1 : 0;
    summary.inf_values += std::isinf(value) ? 1 : 0;
  }
  return summary;
}

}  // namespace pykora::core
