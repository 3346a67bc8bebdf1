// Worked cases of the pure C++ core, run by ctest (cmake -DPYKORA_PYTHON=OFF
// -DPYKORA_TESTS=ON). The Python suite covers the same ground through the
// modules; these pin the core on its own, in every floating-point rounding
// mode, where a failure points straight at the C++.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_reader.hpp"
#include "core/option_table.hpp"
#include "core/vector_blocks.hpp"

namespace {

int failures = 0;

void check(bool ok, const char* what, int line) {
  if (!ok) {
    std::fprintf(stderr, "core_checks.cpp:%d: %s\n", line, what);
    ++failures;
  }
}
#define CHECK(expr) check((expr), #expr, __LINE__)

using pykora::core::round_half_even;
using pykora::core::scan_blocks;
using pykora::core::ScanStatus;

void rounding_ignores_the_fpu_mode() {
  struct Case {
    double in, out;
  };
  const Case cases[] = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {3.5, 4},
      {-0.5, -0.0},
      {-1.5, -2},
      {-2.5, -2},
      {1.2, 1},
      {1.7, 2},
      {-1.2, -1},
      {-1.7, -2},
      {0.49999999999999994, 0},
      {2.4999999999999996, 2},
      {2.5000000000000004, 3},
      {0x1p51 + 0.5, 0x1p51},
      {0x1p52 - 0.5, 0x1p52},
      {0x1p53, 0x1p53},
      {-0x1p52 + 0.5, -0x1p52},
  };
  for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    CHECK(std::fesetround(mode) == 0);
    for (const Case& c : cases) {
      CHECK(round_half_even(c.in) == c.out);
    }
    // The scanner reads counts the same way: 1.2 is one pair in every mode.
    const std::vector<double> vec = {1, 1.2, 10, 20, 30, 40};
    const auto scan = scan_blocks(vec);
    CHECK(scan.blocks.size() == 2 && scan.blocks[0].rows == 1 && scan.blocks[1].start == 4);
  }
  std::fesetround(FE_TONEAREST);
}

void nan_counts_stop_the_scan() {
  const double quiet = std::numeric_limits<double>::quiet_NaN();
  const double signalling = std::numeric_limits<double>::signaling_NaN();
  CHECK(pykora::core::is_signalling_nan(signalling));
  CHECK(!pykora::core::is_signalling_nan(quiet));
  CHECK(!pykora::core::is_signalling_nan(1.0));
  CHECK(scan_blocks(std::vector<double>{7, 0, 1, quiet}).status == ScanStatus::kNanCount);
  CHECK(scan_blocks(std::vector<double>{1, signalling}).status == ScanStatus::kSignallingNanCount);
  CHECK(scan_blocks(std::vector<double>{1, -INFINITY}).status == ScanStatus::kInfiniteCount);
}

void block_shapes() {
  // [7, -3, 1, 2]: an empty block, then one declaring two pairs with none present.
  auto scan = scan_blocks(std::vector<double>{7, -3, 1, 2});
  CHECK(scan.blocks.size() == 2 && scan.blocks[0].rows == 0);
  CHECK(scan.blocks[1].rows == 2 && scan.blocks[1].present == 0 && scan.blocks[1].truncated());
  // A single value left over is ignored; two more make an empty block.
  CHECK(scan_blocks(std::vector<double>{1, 1, 5, 6, 9}).blocks.size() == 1);
  CHECK(scan_blocks(std::vector<double>{1, 1, 5, 6, 9, 0}).blocks.size() == 2);
  // Counts beyond any memory are capped and always truncated.
  scan = scan_blocks(std::vector<double>{1, 1e300, 5});
  CHECK(scan.blocks.size() == 1 && scan.blocks[0].rows == pykora::core::kCountCeiling);
}

void dense_layout() {
  // Blocks of 1 and 2 pairs: row 0 = [0.5, 3, 0.5, 1, 0.1], row 1 = [nan, nan, nan, 2, 0.9].
  const std::vector<double> vec = {1, 1, 0.5, 3, 2, 2, 0.1, 1, 0.9, 2};
  const auto scan = scan_blocks(vec);
  std::vector<double> out(2 * 5);
  pykora::core::fill_dense(vec, scan.blocks, 2, out.data(), std::nan(""));
  const double want[] = {0.5, 3, 0.5, 1, 0.1, NAN, NAN, NAN, 2, 0.9};
  for (size_t i = 0; i < out.size(); ++i) {
    CHECK(std::isnan(want[i]) ? std::isnan(out[i]) : out[i] == want[i]);
  }
}

void thread_counts() {
  auto text = [](long long cpus) {
    const auto t = pykora::core::cpu_threads_text(cpus);
    return std::string_view(t.text, t.size);
  };
  CHECK(text(0) == "1:1" && text(1) == "1:1" && text(8) == "8:1");
  CHECK(text(16) == "16:1" && text(17) == "16:1" && text(1LL << 40) == "16:1");
}

// Where statx is missing, a directory is still refused and a file's size
// still known, and reading starts at the file's beginning.
void files_without_statx() {
  char dir[] = "/tmp/pykora-core-XXXXXX";
  CHECK(::mkdtemp(dir) != nullptr);
  const std::string file = std::string(dir) + "/values.dat";
  const char payload[24] = "twenty-four bytes here!";
  const int out = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
  CHECK(out >= 0 && ::write(out, payload, sizeof payload) == sizeof payload);
  ::close(out);

  std::size_t hint = 0;
  const int dir_fd = ::open(dir, O_RDONLY);
  CHECK(pykora::core::probe_without_statx(dir_fd, hint) == EISDIR);
  ::close(dir_fd);
  const int fd = ::open(file.c_str(), O_RDONLY);
  CHECK(pykora::core::probe_without_statx(fd, hint) == 0 && hint == sizeof payload);
  char back[8] = {};
  CHECK(::read(fd, back, sizeof back) == sizeof back && std::string_view(back, 8) == "twenty-f");
  // The rest of the file, counted as read.
  pykora::core::File rest;
  CHECK(rest.open(file.c_str()) == 0);
  std::vector<std::byte> tail;
  const pykora::core::ReadStep step = pykora::core::read_rest(rest, tail);
  CHECK(step.error == 0 && step.at_end && step.bytes == sizeof payload &&
        tail.size() == step.bytes);
  ::close(fd);
  int pipe_fds[2];
  CHECK(::pipe(pipe_fds) == 0);
  hint = 0;
  CHECK(pykora::core::probe_without_statx(pipe_fds[0], hint) == 0 && hint == 0);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  ::unlink(file.c_str());
  ::rmdir(dir);
}

}  // namespace

int main() {
  files_without_statx();
  rounding_ignores_the_fpu_mode();
  nan_counts_stop_the_scan();
  block_shapes();
  dense_layout();
  thread_counts();
  if (failures != 0) {
    std::fprintf(stderr, "%d core check(s) failed\n", failures);
    return 1;
  }
  std::puts("core checks passed");
  return 0;
}
