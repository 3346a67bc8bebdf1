// Runs the fuzz target's checks without libFuzzer: over the documented
// shapes of the flattened vector, then over a seeded random sweep that
// favours the values the scanner treats specially. Exits non-zero (the
// target aborts) when an invariant breaks.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size);

namespace {

void run(const std::vector<double>& values) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(values.data()),
                         values.size() * sizeof(double));
}

double signalling_nan() { return std::numeric_limits<double>::signaling_NaN(); }

}  // namespace

int main() {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<double>> seeds = {
      {},
      {1},
      {7, 0},
      {1, 2, 0.1, 10, 0.5, 20},
      {1, 1, 0.5, 3, 2, 2, 0.1, 1, 0.9, 2},
      {1, 3, 0.1, 1, 0.5},
      {7, -3, 1, 2},
      {1, 2.5, 1, 2, 3, 4, 5, 6, 9},
      {1, 1e300, 1, 2},
      {1, std::nan(""), 2},
      {1, signalling_nan(), 2},
      {1, -inf},
  };
  for (const auto& seed : seeds) {
    run(seed);
  }

  const double special[] = {0.0,
                            -0.0,
                            0.5,
                            1.5,
                            2.5,
                            -0.5,
                            -1.5,
                            1.0,
                            2.0,
                            3.0,
                            -1,
                            1e300,
                            0x1p62,
                            0x1p52 + 1,
                            0x1p53,
                            inf,
                            -inf,
                            std::nan(""),
                            signalling_nan(),
                            0.49999999999999994};
  std::mt19937_64 random(20261209);
  constexpr int kRuns = 200000;
  for (int run_index = 0; run_index < kRuns; ++run_index) {
    std::vector<double> values(random() % 24);
    for (double& v : values) {
      switch (random() % 3) {
        case 0:
          v = special[random() % std::size(special)];
          break;
        case 1:
          v = static_cast<double>(static_cast<int>(random() % 9) - 2);
          break;
        default: {
          const std::uint64_t bits = random();
          std::memcpy(&v, &bits, sizeof v);
        }
      }
    }
    run(values);
  }
  std::printf("fuzz_replay: %zu seeds and %d random vectors checked\n", seeds.size(), kRuns);
  return 0;
}
