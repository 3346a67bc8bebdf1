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
#include <vector>

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

// A place in a view's text: a writer's own two-level position (a value, a
// block and a row of it, a row and a column of it). Places are ordered as
// the text is.
struct Place {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  friend auto operator<=>(const Place&, const Place&) = default;
};

// Beyond every place: a writer that ends nowhere before its view does.
inline constexpr Place kNowhere{UINT64_MAX, UINT64_MAX};

// A view's text, written by repeated fills into the caller's buffer.
//
// A writer can be split: the text from some place on is handed to a new
// writer, and this one stops there. The two parts can then be formatted at
// once, on two threads, each with its own inputs' spans over the same data,
// and joined in order they make exactly the text of the whole.
class ViewWriter {
 public:
  virtual ~ViewWriter() = default;

  // The most bytes one step of the writer (a line, a record's head, a
  // value) may write: a fill may run this far past its target.
  std::size_t max_step() const { return max_step_; }

  // Writes from `out` on until at least `target` is reached, the writer's
  // part of the view ends, a fault is found, or a run of steps has written
  // nothing (a selection of many empty blocks in CSV), so that the caller
  // keeps control. `out` must have room up to target + max_step().
  virtual Fill fill(const ViewInputs& in, char* out, const char* target) = 0;

  // Splits off the text that follows the next `bytes` or so (never more
  // than that and one step): this writer now stops there, and the writer
  // returned writes the rest. Null when there is no rest worth a writer of
  // its own; a fault found on the way is left for a fill to report.
  std::unique_ptr<ViewWriter> split(const ViewInputs& in, std::size_t bytes);

 protected:
  explicit ViewWriter(std::size_t max_step) : max_step_(max_step) {}

  // Where the whole view's text ends.
  virtual Place finish(const ViewInputs& in) const = 0;
  // The place about `steps` steps on from `from` (a step writes at most
  // max_step() bytes), at least one step on, and not beyond finish().
  virtual Place advance(const ViewInputs& in, Place from, std::uint64_t steps) const = 0;
  // A writer of the same text, at its start.
  virtual std::unique_ptr<ViewWriter> fresh() const = 0;
  // Called on the writer split off, once it stands at its place: what it
  // needs to know of the text before it (a marginals table's widths).
  virtual void resume(const ViewInputs& /*in*/) {}

  bool before_end() const { return place_ < end_; }

  Place place_;           // where the writer is
  Place end_ = kNowhere;  // where it stops

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

// ---------------------------------------------------------------------------
// Tables for people: cells of `precision` significant digits, right-aligned
// in columns two spaces apart, each line starting with its row's number.

// The widest a table's column or its row numbers may be.
inline constexpr std::int64_t kMaxWidth = 256;

// Where a table's cells come from: the values themselves, one column whose
// row r is value r (a raw stream), or the dense matrix's column sources.
enum class CellSource { kValues, kMatrix };

// The columns of a table of `source` cells.
std::size_t table_columns(const ViewInputs& in, CellSource source);

// Sets widths[j] to the most characters any cell of column first_column + j
// takes in rows first_row to first_row + rows - 1, or leaves it where it is
// already wider.
ViewError table_widths(const ViewInputs& in, CellSource source, std::uint64_t first_row,
                       std::uint64_t rows, std::size_t first_column, int precision,
                       std::span<std::int64_t> widths);

// The most characters a matrix column's name takes: "y" and a block number.
inline constexpr std::size_t kMaxColumnName = 21;

// The name of column `c` of the dense matrix of `blocks` blocks: "x" and "y"
// for a single block; else "x" for column 0, then "y<k>" and "x<k>" for
// block k's columns 2k + 1 and 2k + 2. Returns the end of the text.
char* write_column_name(char* out, std::size_t blocks, std::uint64_t c);

// The names of the columns `columns` (none negative), each right-aligned in
// its width of `widths` (of the same size) and joined by two spaces: a
// header line of a matrix table, but for its row label.
std::string aligned_column_names(std::size_t blocks, std::span<const std::int64_t> columns,
                                 std::span<const std::int64_t> widths);

// The blocks `blocks` named as a matrix table's legend names them, "k (idx
// i)", joined by ", "; idx[j] is block blocks[j]'s idx, written as
// write_idx_label writes it.
std::string block_names(std::span<const std::int64_t> blocks, std::span<const double> idx);

// How a table's lines are laid out.
struct TableShape {
  std::vector<std::int64_t> widths;  // of each column
  // The columns before which a "..." column stands for columns left out,
  // ascending; the number of columns for one after the last.
  std::vector<std::int64_t> gaps;
  std::int64_t label_width = 0;  // of the row numbers
  int precision = 6;
};

// The lines of rows first_row to first_row + rows - 1. The writer and every
// writer split from it read `shape`, which must outlive them all: a row may
// have millions of columns, and so of widths, which are not copied.
std::unique_ptr<ViewWriter> table_rows(CellSource source, std::uint64_t first_row,
                                       std::uint64_t rows, const TableShape& shape);

// Every row of each selected block's (x, y) table, after a blank line and
// the line that names the block ("block k (idx i): n rows") and, for a
// block with pairs, the header "row  x  y". Each block's columns are as wide
// as its own cells.
std::unique_ptr<ViewWriter> marginals_table(int precision);

}  // namespace pykora::core
