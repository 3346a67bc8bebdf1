// The text of a result file's three views, CSV and JSON, made a chunk at a
// time from the values and their block layout, with every digit.
//
// Pure C++. A writer keeps only its place in the view; the values, the
// layout and the selection are handed to every fill again, so that the
// caller may re-read them from the objects that own them. Nothing is
// trusted: a layout that does not fit its values, or a selection out of
// range, stops the writer with a ViewFault; a read never leaves the values.
//
// Block k's pairs are the values from starts[k] + 2 on. Of its
// 2 * declared[k] pair values, those before the end of the values are read
// and the rest are NaN, written as they are formatted and never stored: a
// block may declare 2**62 pairs in a file of four values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace pykora::core {

// What a writer reads. `selection` holds block positions (marginals) or
// column sources (matrix); `every` stands for all of them, in order.
//
// A column source is 2 * k for block k's x values and 2 * k + 1 for its y
// values: kora_interpret_vector's matrix of two or more blocks is the
// sources 0, 1, 0, 3, 2, 5, 4, ... (x of block 0, then y and x of each
// block), and that of a single block is 0, 1.
struct ViewInputs {
  std::span<const double> values;
  std::span<const std::int64_t> starts;
  std::span<const double> idx;
  std::span<const std::int64_t> declared;
  std::span<const std::int64_t> selection;
  bool every = true;
};

// Declared counts are read up to this; beyond it a layout is not one that
// block_layout makes.
inline constexpr std::int64_t kMaxDeclared = std::int64_t{1} << 62;

enum class ViewFault {
  kNone,
  kBlockOutOfRange,   // selection[at] == value is not a block of the layout
  kSourceOutOfRange,  // selection[at] == value is not a column source of the layout
  kLayoutMismatch,    // block `at` starts beyond the values or declares a count out of range
  kNegativeRow,       // row `value` was asked for
};

struct ViewError {
  ViewFault fault = ViewFault::kNone;
  std::int64_t at = 0;
  std::int64_t value = 0;
};

// The number of entries of the selection: its size, or that of every block
// or every matrix column.
std::size_t block_count(const ViewInputs& in);
std::size_t source_count(const ViewInputs& in);

// The columns of the dense matrix of `blocks` blocks.
std::size_t matrix_column_count(std::size_t blocks);

// The source of matrix column `c` when every column is shown.
std::int64_t matrix_column_source(std::size_t blocks, std::size_t c);

// Checks every entry of the selection (and, for the matrix, every block of
// the layout) once, so that a bad one is reported before anything is written.
ViewError check_blocks(const ViewInputs& in);
ViewError check_sources(const ViewInputs& in);

// The rows of the dense matrix: the largest declared count. Checks every block.
ViewError matrix_rows(const ViewInputs& in, std::uint64_t& rows);

// Fills out[i * n + j] (n: the selection's entries) with the dense matrix's
// cell in row first_row + i * row_step and column source selection[j], for
// `rows` rows; NaN below a block's declared count and past the values.
ViewError gather_cells(const ViewInputs& in, std::int64_t first_row, std::int64_t row_step,
                       std::size_t rows, double* out);

// Where a fill stopped.
struct Fill {
  char* end;
  bool done;
  ViewError error;
};

// A view's text, written by repeated fills into the caller's buffer.
class ViewWriter {
 public:
  virtual ~ViewWriter() = default;

  // The most bytes one step of the writer (a line, a record's head, a
  // value) may write: a fill may run this far past its target.
  std::size_t max_step() const { return max_step_; }

  // Writes from `out` on until at least `target` is reached, the view ends,
  // a fault is found, or a run of steps has written nothing (a selection of
  // many empty blocks in CSV), so that the caller keeps control. `out` must
  // have room up to target + max_step().
  virtual Fill fill(const ViewInputs& in, char* out, const char* target) = 0;

 protected:
  explicit ViewWriter(std::size_t max_step) : max_step_(max_step) {}

 private:
  std::size_t max_step_;
};

// Levels of JSON nesting a writer accepts.
inline constexpr int kMaxLevel = 1000;

// The lines "i,v\n" of a raw stream, each after `prefix`.
std::unique_ptr<ViewWriter> raw_csv(std::string_view prefix);
// The values joined by ", ", non-finite ones as JSON strings.
std::unique_ptr<ViewWriter> raw_json();
// The lines "k,idx,x,y\n" of the selected blocks' rows, each after `prefix`.
std::unique_ptr<ViewWriter> marginals_csv(std::string_view prefix);
// The selected blocks' records {"block": k, "idx": ..., "pairs": [...]},
// separated by ",\n", as items of an array at nesting `level` (1: the
// "blocks" of a file's document).
std::unique_ptr<ViewWriter> marginals_json(int level);
// Rows 0 to rows - 1 of the dense matrix, the selected column sources of
// each, comma-separated, a line a row.
std::unique_ptr<ViewWriter> matrix_csv(std::uint64_t rows);
// The same rows as JSON arrays separated by ",\n", as items of an array at
// nesting `level` (1: the "rows" of a file's document).
std::unique_ptr<ViewWriter> matrix_json(std::uint64_t rows, int level);

}  // namespace pykora::core
