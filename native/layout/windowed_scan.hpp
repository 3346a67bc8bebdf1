// Visiting the blocks of a flattened vector a window of values at a time.
//
// core::scan_blocks returns every block of its input in one list, 24 bytes
// a block. A file of millions of blocks would hold that list next to the
// arrays the layout is copied into; scanning a window at a time keeps the
// list to the blocks of one window. Pure C++: knows nothing of Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/vector_blocks.hpp"

namespace pykora::layout {

// Values scanned at a time: small enough that the scanner's list of blocks
// stays in cache, large enough that a window holds thousands of blocks.
inline constexpr std::size_t kWindow = std::size_t{1} << 16;

// Calls `visit(block)` for every block of `vec`, in order, with the block's
// start counted from the beginning of `vec`, and returns the scanner's
// status. Scanning stops at a count that cannot be read, as
// core::scan_blocks does; the blocks before it have been visited.
//
// A window that ends inside a block cuts that block short, which the
// scanner reports as a truncated block. Only the window that reaches the
// end of `vec` can hold the vector's truly truncated last block, so a block
// cut short anywhere else is scanned again from its start, in a window that
// holds it whole when it is longer than the usual window.
template <typename Visit>
core::ScanStatus for_each_block(std::span<const double> vec, Visit&& visit) {
  std::size_t from = 0;
  std::uint64_t window = kWindow;
  for (;;) {
    const std::size_t rest = vec.size() - from;
    const bool reaches_end = window >= rest;
    const core::Scan scan =
        core::scan_blocks(vec.subspan(from, reaches_end ? rest : static_cast<std::size_t>(window)));
    std::size_t next = from;  // where the first block not yet visited starts
    for (const core::Block& b : scan.blocks) {
      if (!reaches_end && b.truncated()) {
        break;
      }
      visit(core::Block{from + b.start, b.rows, b.present});
      next = from + b.data() + b.present;
    }
    if (scan.status != core::ScanStatus::kOk || reaches_end) {
      return scan.status;
    }
    if (next == from) {
      // The first block is longer than the window. Its count is at most
      // kCountCeiling, so its length cannot overflow.
      window = 2 + 2 * scan.blocks.front().rows;
    } else {
      from = next;
      window = kWindow;
    }
  }
}

}  // namespace pykora::layout
