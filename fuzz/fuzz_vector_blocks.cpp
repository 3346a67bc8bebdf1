// libFuzzer target for the flattened-vector block scanner and the dense and
// per-block layouts built from its blocks.
//
// The input bytes are read as doubles (a trailing partial double is
// dropped). Every scan is checked against a plainly written scanner, and
// every layout is written into buffers of exactly the size the decoders
// allocate, so AddressSanitizer catches any write or read out of bounds.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vector_blocks.hpp"

namespace {

using pykora::core::Block;
using pykora::core::kCountCeiling;
using pykora::core::Scan;
using pykora::core::ScanStatus;

// Layouts larger than this are skipped: the decoders hand them to NumPy.
constexpr std::uint64_t kMaxCells = std::uint64_t{1} << 16;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

// The scanner as a direct reading of the format, for comparison.
Scan reference_scan(const std::vector<double>& v) {
  Scan scan;
  size_t i = 0;
  while (i + 1 < v.size()) {
    const double declared = v[i + 1];
    if (std::isnan(declared)) {
      std::uint64_t bits;
      std::memcpy(&bits, &declared, sizeof bits);
      scan.status = (bits >> 51 & 1) != 0 ? ScanStatus::kNanCount : ScanStatus::kSignallingNanCount;
      return scan;
    }
    if (std::isinf(declared)) {
      scan.status = ScanStatus::kInfiniteCount;
      return scan;
    }
    // The fuzzer runs in the default rounding mode, where nearbyint rounds
    // halves to even: an independent reading of the scanner's rounding.
    const double n = std::nearbyint(declared);
    const size_t start = i;
    i += 2;
    if (n <= 0) {
      scan.blocks.push_back({start, 0, 0});
      continue;
    }
    const double remaining = static_cast<double>(v.size() - i);
    if (2 * n <= remaining) {
      const auto rows = static_cast<std::uint64_t>(n);
      scan.blocks.push_back({start, rows, static_cast<size_t>(2 * rows)});
      i += static_cast<size_t>(2 * rows);
    } else {
      const std::uint64_t rows =
          n >= static_cast<double>(kCountCeiling) ? kCountCeiling : static_cast<std::uint64_t>(n);
      scan.blocks.push_back({start, rows, v.size() - i});
      i = v.size();
    }
  }
  return scan;
}

bool same_bits(const double* a, const double* b) { return std::memcmp(a, b, sizeof(double)) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::vector<double> values(size / sizeof(double));
  if (!values.empty()) {
    std::memcpy(values.data(), data, values.size() * sizeof(double));
  }
  const Scan scan = pykora::core::scan_blocks(values);
  const Scan expected = reference_scan(values);
  check(scan.status == expected.status, "status differs from the reference scanner");
  check(scan.blocks.size() == expected.blocks.size(), "block count differs");
  for (size_t k = 0; k < scan.blocks.size(); ++k) {
    const Block& b = scan.blocks[k];
    const Block& e = expected.blocks[k];
    check(b.start == e.start && b.rows == e.rows && b.present == e.present, "block differs");
    check(b.data() + b.present <= values.size(), "block reaches past the vector");
    check(!b.truncated() || k + 1 == scan.blocks.size(), "truncated block is not the last");
  }
  if (scan.status != ScanStatus::kOk || scan.blocks.empty()) {
    return 0;
  }

  const std::uint64_t rows = pykora::core::max_rows(scan.blocks);
  const std::uint64_t cols = 1 + 2 * scan.blocks.size();
  if (rows > kMaxCells / cols) {
    return 0;
  }
  const double nan = std::nan("");
  std::vector<double> dense(rows * cols);
  pykora::core::fill_dense(values, scan.blocks, rows, dense.data(), nan);
  for (size_t k = 0; k < scan.blocks.size(); ++k) {
    const Block& b = scan.blocks[k];
    std::vector<double> pairs(2 * b.rows);
    pykora::core::copy_pairs(values, b, pairs.data(), nan);
    for (size_t r = 0; r < rows; ++r) {
      const double* y = &dense[r * cols + 1 + 2 * k];
      if (r < b.rows) {
        check(same_bits(y, &pairs[2 * r + 1]) && same_bits(y + 1, &pairs[2 * r]),
              "dense columns differ from the block's pairs");
        if (k == 0) check(same_bits(&dense[r * cols], &pairs[2 * r]), "abscissa differs");
      } else {
        check(std::isnan(y[0]) && std::isnan(y[1]), "padding is not NaN");
      }
    }
  }
  return 0;
}
