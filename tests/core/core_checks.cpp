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
#include "core/float_text.hpp"
#include "core/option_table.hpp"
#include "core/vector_blocks.hpp"
#include "core/view_text.hpp"

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
    return std::string(t.text, t.size);  // a copy: t ends with the call
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

// Python's texts at the places where their shape changes, in every rounding
// mode: the digits must not depend on how the FPU happens to be set.
void float_texts_are_pythons_in_every_mode() {
  using pykora::core::kBareSpelling;
  using pykora::core::kQuotedSpelling;
  struct Exact {
    double in;
    const char* out;
  };
  const Exact exact[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e-4, "0.0001"},
      {9.999999999999999e-05, "9.999999999999999e-05"},
      {1e-05, "1e-05"},
      {1.5e-07, "1.5e-07"},
      {123456789012345.0, "123456789012345.0"},
      {1234567890123456.8, "1234567890123456.8"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e+16"},
      {0x1p53, "9007199254740992.0"},
      {0x1p53 + 2, "9007199254740994.0"},
      {0x1p60, "1.152921504606847e+18"},
      {1.2345e300, "1.2345e+300"},
      {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
  };
  struct Rounded {
    double in;
    int precision;
    const char* out;
  };
  const Rounded rounded[] = {
      {0.5, 1, "0.5"},
      {2.5, 1, "2"},
      {3.5, 1, "4"},
      {123456, 6, "123456"},
      {1234567, 6, "1.23457e+06"},
      {999999.5, 6, "1e+06"},
      {0.0001, 6, "0.0001"},
      {0.00001234, 6, "1.234e-05"},
      {-0.0, 6, "-0"},
      {1e16, 17, "10000000000000000"},
      {0.1, 17, "0.10000000000000001"},
      {5e-324, 17, "4.9406564584124654e-324"},
      {0.1, 0, "0.1"},
      {0.1, 30, "0.10000000000000001"},  // clamped to 1 and 17
  };
  char text[pykora::core::kMaxFloatText];
  for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    CHECK(std::fesetround(mode) == 0);
    for (const Exact& c : exact) {
      const char* end = pykora::core::write_exact(text, c.in, kBareSpelling);
      CHECK(std::string_view(text, end) == c.out);
    }
    for (const Rounded& c : rounded) {
      const char* end = pykora::core::write_rounded(text, c.in, c.precision, kBareSpelling);
      CHECK(std::string_view(text, end) == c.out);
    }
  }
  std::fesetround(FE_TONEAREST);
  const char* end = pykora::core::write_exact(text, -INFINITY, kQuotedSpelling);
  CHECK(std::string_view(text, end) == "\"-inf\"");
  const double joined[] = {1, NAN, 2.5};
  char list[3 * (pykora::core::kMaxFloatText + 2)];
  CHECK(pykora::core::joined_bound(3, ", ") == sizeof list);
  CHECK(pykora::core::joined_bound(SIZE_MAX / 4, ", ") == 0);
  end = pykora::core::write_joined(list, joined, ", ", kQuotedSpelling);
  CHECK(std::string_view(list, end) == "1.0, \"NaN\", 2.5");
}

// The whole text of a writer, filled with a target of one byte, so that every
// step ends a fill; each fill must stay within one step of its target.
std::string written(pykora::core::ViewWriter& writer, const pykora::core::ViewInputs& in,
                    pykora::core::ViewError& error) {
  std::string text;
  std::vector<char> buffer(1 + writer.max_step());
  for (;;) {
    const pykora::core::Fill fill = writer.fill(in, buffer.data(), buffer.data() + 1);
    CHECK(fill.end <= buffer.data() + buffer.size());
    text.append(buffer.data(), fill.end);
    error = fill.error;
    if (fill.done || error.fault != pykora::core::ViewFault::kNone) {
      return text;
    }
  }
}

void views_as_text() {
  using pykora::core::ViewError;
  using pykora::core::ViewFault;
  // Blocks of 2, 0 and 3 pairs, the last cut short after one and a half.
  const std::vector<double> values = {1, 2, 0.5, 5, 0.25, 6, 2, 0, 3, 3, 7, 8, -0.0};
  const std::vector<std::int64_t> starts = {0, 6, 8}, declared = {2, 0, 3};
  const std::vector<double> idx = {1, 2, 3};
  pykora::core::ViewInputs in{values, starts, idx, declared, {}, true};
  ViewError error;
  auto csv = pykora::core::marginals_csv("f,");
  CHECK(written(*csv, in, error) ==
        "f,0,1.0,0.5,5.0\nf,0,1.0,0.25,6.0\n"
        "f,2,3.0,7.0,8.0\nf,2,3.0,-0.0,NaN\nf,2,3.0,NaN,NaN\n");
  auto json = pykora::core::marginals_json(0);
  CHECK(written(*json, in, error) ==
        "{\n    \"block\": 0,\n    \"idx\": 1.0,\n    \"pairs\": [\n"
        "      [0.5, 5.0],\n      [0.25, 6.0]\n    ]\n  },\n"
        "  {\"block\": 1, \"idx\": 2.0, \"pairs\": []},\n"
        "  {\n    \"block\": 2,\n    \"idx\": 3.0,\n    \"pairs\": [\n"
        "      [7.0, 8.0],\n      [-0.0, \"NaN\"],\n      [\"NaN\", \"NaN\"]\n    ]\n  }");
  std::uint64_t rows = 0;
  CHECK(pykora::core::matrix_rows(in, rows).fault == ViewFault::kNone && rows == 3);
  auto matrix = pykora::core::matrix_json(rows, 0);
  CHECK(written(*matrix, in, error) ==
        "[0.5, 5.0, 0.5, \"NaN\", \"NaN\", 8.0, 7.0],\n"
        "  [0.25, 6.0, 0.25, \"NaN\", \"NaN\", \"NaN\", -0.0],\n"
        "  [\"NaN\", \"NaN\", \"NaN\", \"NaN\", \"NaN\", \"NaN\", \"NaN\"]");
  // A selection and a layout that do not fit stop the writer, whatever was written.
  const std::vector<std::int64_t> chosen = {2, 6};
  in.selection = chosen;
  in.every = false;
  csv = pykora::core::marginals_csv("");
  written(*csv, in, error);
  CHECK(error.fault == ViewFault::kBlockOutOfRange && error.at == 1 && error.value == 6);
  matrix = pykora::core::matrix_csv(rows);
  written(*matrix, in, error);
  CHECK(error.fault == ViewFault::kSourceOutOfRange && error.at == 1 && error.value == 6);
  const std::vector<std::int64_t> beyond = {0, 6, 12};
  in.starts = beyond;
  CHECK(pykora::core::check_blocks(in).fault == ViewFault::kLayoutMismatch);
  double cells[2];
  in.starts = starts;
  const std::int64_t y_of_block_0[] = {1};
  in.selection = y_of_block_0;
  CHECK(pykora::core::gather_cells(in, 1, 1, 2, cells).fault == ViewFault::kNone);
  CHECK(cells[0] == 6.0 && std::isnan(cells[1]));
  CHECK(pykora::core::gather_cells(in, 1, -2, 2, cells).fault == ViewFault::kNegativeRow);
}

}  // namespace

int main() {
  files_without_statx();
  rounding_ignores_the_fpu_mode();
  nan_counts_stop_the_scan();
  block_shapes();
  dense_layout();
  thread_counts();
  float_texts_are_pythons_in_every_mode();
  views_as_text();
  if (failures != 0) {
    std::fprintf(stderr, "%d core check(s) failed\n", failures);
    return 1;
  }
  std::puts("core checks passed");
  return 0;
}
