#include "core/view_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "core/float_text.hpp"

namespace pykora::core {
namespace {

// The text of an int64, sign included.
constexpr std::size_t kMaxIntegerText = 20;

// Steps a fill may take without writing anything before it hands control
// back: a CSV of millions of empty blocks writes no line for any of them.
constexpr std::size_t kSilentSteps = std::size_t{1} << 20;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

char* copy_text(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* write_integer(char* out, std::int64_t value) {
  return std::to_chars(out, out + kMaxIntegerText, value).ptr;
}

std::size_t layout_blocks(const ViewInputs& in) {
  return std::min({in.starts.size(), in.idx.size(), in.declared.size()});
}

// A block's pair values: the first `held` of its 2 * rows are read from
// `pairs`; the others lie beyond the end of the values and are NaN.
struct Pairs {
  const double* pairs = nullptr;
  std::uint64_t rows = 0;
  std::uint64_t held = 0;
  double idx = 0;

  double value(std::uint64_t i) const { return i < held ? pairs[i] : kNan; }
};

ViewError read_block(const ViewInputs& in, std::size_t k, Pairs& block) {
  const std::int64_t start = in.starts[k];
  const std::int64_t rows = in.declared[k];
  const std::size_t size = in.values.size();
  if (start < 0 || rows < 0 || rows > kMaxDeclared || static_cast<std::uint64_t>(start) > size ||
      size - static_cast<std::size_t>(start) < 2) {
    return {ViewFault::kLayoutMismatch, static_cast<std::int64_t>(k), 0};
  }
  const std::size_t after = size - static_cast<std::size_t>(start) - 2;
  block.pairs = in.values.data() + start + 2;
  block.rows = static_cast<std::uint64_t>(rows);
  block.held = std::min<std::uint64_t>(2 * block.rows, after);
  block.idx = in.idx[k];
  return {};
}

// The block at position `at` of a selection of blocks.
ViewError selected_block(const ViewInputs& in, std::size_t at, Pairs& block) {
  if (in.every) {
    return read_block(in, at, block);
  }
  const std::int64_t k = in.selection[at];
  if (k < 0 || static_cast<std::uint64_t>(k) >= layout_blocks(in)) {
    return {ViewFault::kBlockOutOfRange, static_cast<std::int64_t>(at), k};
  }
  return read_block(in, static_cast<std::size_t>(k), block);
}

std::int64_t source_at(const ViewInputs& in, std::size_t at) {
  return in.every ? matrix_column_source(layout_blocks(in), at) : in.selection[at];
}

// The dense matrix's cell in `row` of the column at position `at` of a
// selection of column sources.
ViewError selected_cell(const ViewInputs& in, std::size_t at, std::uint64_t row, double& cell) {
  const std::int64_t source = source_at(in, at);
  if (source < 0 || static_cast<std::uint64_t>(source / 2) >= layout_blocks(in)) {
    return {ViewFault::kSourceOutOfRange, static_cast<std::int64_t>(at), source};
  }
  Pairs block;
  if (ViewError error = read_block(in, static_cast<std::size_t>(source / 2), block);
      error.fault != ViewFault::kNone) {
    return error;
  }
  cell = row < block.rows ? block.value(2 * row + static_cast<std::uint64_t>(source % 2)) : kNan;
  return {};
}

std::string indent(int level) { return std::string(2 * static_cast<std::size_t>(level), ' '); }

// `text` right-aligned in `width` characters.
char* write_right(char* out, const char* text, const char* text_end, std::int64_t width) {
  const auto size = static_cast<std::int64_t>(text_end - text);
  if (width > size) {
    std::memset(out, ' ', static_cast<std::size_t>(width - size));
    out += width - size;
  }
  return copy_text(out, std::string_view(text, static_cast<std::size_t>(size)));
}

char* write_right(char* out, std::string_view text, std::int64_t width) {
  return write_right(out, text.data(), text.data() + text.size(), width);
}

// An integer right-aligned in `width` characters.
char* write_integer_right(char* out, std::int64_t value, std::int64_t width) {
  char text[kMaxIntegerText];
  return write_right(out, text, write_integer(text, value), width);
}

// ---------------------------------------------------------------------------
// Raw streams: a value a step, at place {i, 0}.

class RawWriter : public ViewWriter {
 protected:
  using ViewWriter::ViewWriter;

  Place finish(const ViewInputs& in) const override { return {in.values.size(), 0}; }

  Place advance(const ViewInputs& in, Place from, std::uint64_t steps) const override {
    return std::min(Place{from.major + steps, 0}, finish(in));
  }

  // Whether value place_.major is still to be written.
  bool more(const ViewInputs& in) const { return place_.major < in.values.size() && before_end(); }
};

class RawCsv final : public RawWriter {
 public:
  explicit RawCsv(std::string_view prefix)
      : RawWriter(prefix.size() + kMaxIntegerText + kMaxFloatText + 2), prefix_(prefix) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::span<const double> values = in.values;
    for (; more(in) && out < target; ++place_.major) {
      out = copy_text(out, prefix_);
      out = write_integer(out, static_cast<std::int64_t>(place_.major));
      *out++ = ',';
      out = write_exact(out, values[place_.major], kBareSpelling);
      *out++ = '\n';
    }
    return {out, !more(in), {}};
  }

 private:
  std::unique_ptr<ViewWriter> fresh() const override { return std::make_unique<RawCsv>(prefix_); }

  std::string prefix_;
};

class RawJson final : public RawWriter {
 public:
  RawJson() : RawWriter(kMaxFloatText + 2) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::span<const double> values = in.values;
    while (more(in) && out < target) {
      // Runs of as many values as surely fit before the target, and one more:
      // at most one step past it.
      const std::uint64_t room = static_cast<std::size_t>(target - out) / max_step() + 1;
      const std::uint64_t stop = std::min({place_.major + room, values.size(), end_.major});
      if (place_.major != 0) {
        out = copy_text(out, ", ");
      }
      out = write_joined(out, values.subspan(place_.major, stop - place_.major), ", ",
                         kQuotedSpelling);
      place_.major = stop;
    }
    return {out, !more(in), {}};
  }

 private:
  std::unique_ptr<ViewWriter> fresh() const override { return std::make_unique<RawJson>(); }
};

// ---------------------------------------------------------------------------
// Blocks one after another: the selected blocks' rows, at place {position in
// the selection, row of the block}.

class BlockWriter : public ViewWriter {
 protected:
  using ViewWriter::ViewWriter;

  Place finish(const ViewInputs& in) const override { return {block_count(in), 0}; }

  // A step is a row, or the head of a block.
  Place advance(const ViewInputs& in, Place from, std::uint64_t steps) const override {
    Place at = from;
    Pairs block;
    while (steps > 0 && at.major < block_count(in)) {
      if (selected_block(in, at.major, block).fault != ViewFault::kNone) {
        break;  // left for a fill to report
      }
      if (at.minor == 0) {
        --steps;
      }
      const std::uint64_t left = block.rows - std::min(at.minor, block.rows);
      if (steps < left) {
        at.minor += steps;
        break;
      }
      steps -= left;
      at = {at.major + 1, 0};
    }
    if (at == from && at.major < block_count(in)) {  // one step more than asked, at least
      const bool last_row = selected_block(in, at.major, block).fault != ViewFault::kNone ||
                            at.minor + 1 >= block.rows;
      at = last_row ? Place{at.major + 1, 0} : Place{at.major, at.minor + 1};
    }
    return at;
  }

  // The block at place_.major, read again at every fill. False when the
  // writer's part is done or a fault is found.
  bool enter(const ViewInputs& in, Pairs& block, ViewError& error) const {
    if (place_.major >= block_count(in) || !before_end()) {
      return false;
    }
    error = selected_block(in, place_.major, block);
    return error.fault == ViewFault::kNone;
  }

  std::int64_t block_number(const ViewInputs& in) const {
    return in.every ? static_cast<std::int64_t>(place_.major) : in.selection[place_.major];
  }

  // Whether row place_.minor of `block` is still to be written.
  bool row_left(const Pairs& block) const { return place_.minor < block.rows && before_end(); }

  void leave() { place_ = {place_.major + 1, 0}; }

  bool done(const ViewInputs& in) const { return place_.major >= block_count(in) || !before_end(); }

  // The position in the selection whose head is written (or lies before
  // where this writer started).
  std::uint64_t head_written_ = UINT64_MAX;

  bool head_due() const { return place_.minor == 0 && head_written_ != place_.major; }
};

class MarginalsCsv final : public BlockWriter {
 public:
  explicit MarginalsCsv(std::string_view prefix)
      : BlockWriter(prefix.size() + kMaxIntegerText + 3 * kMaxFloatText + 4), prefix_(prefix) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    Pairs block;
    ViewError error;
    std::size_t silent = 0;
    while (out < target) {
      if (!enter(in, block, error)) {
        return {out, error.fault == ViewFault::kNone, error};
      }
      if (block.rows == 0) {
        leave();
        if (++silent == kSilentSteps) {
          break;
        }
        continue;
      }
      if (head_for_ != place_.major) {
        head(block_number(in), block.idx);
        head_for_ = place_.major;
      }
      for (; row_left(block) && out < target; ++place_.minor) {
        out = copy_text(out, head_);
        out = write_exact(out, block.value(2 * place_.minor), kBareSpelling);
        *out++ = ',';
        out = write_exact(out, block.value(2 * place_.minor + 1), kBareSpelling);
        *out++ = '\n';
      }
      if (place_.minor == block.rows) {
        leave();
      }
    }
    return {out, done(in), {}};
  }

 private:
  std::unique_ptr<ViewWriter> fresh() const override {
    return std::make_unique<MarginalsCsv>(prefix_);
  }

  // "prefix" "k,idx,": what starts each line of the block.
  void head(std::int64_t k, double idx) {
    char text[kMaxIntegerText + kMaxFloatText + 2];
    char* end = write_integer(text, k);
    *end++ = ',';
    end = write_exact(end, idx, kBareSpelling);
    *end++ = ',';
    head_.assign(prefix_).append(text, end);
  }

  std::string prefix_;
  std::string head_;
  std::uint64_t head_for_ = UINT64_MAX;  // the position in the selection head_ is made for
};

class MarginalsJson final : public BlockWriter {
 public:
  explicit MarginalsJson(int level)
      : BlockWriter(8 * static_cast<std::size_t>(level + 3) + kMaxIntegerText + 3 * kMaxFloatText +
                    64),
        level_(level),
        between_(",\n" + indent(level + 1)),
        key_(",\n" + indent(level + 2)),
        row_start_(indent(level + 3) + "["),
        row_between_("],\n" + indent(level + 3) + "["),
        close_("]\n" + indent(level + 2) + "]\n" + indent(level + 1) + "}") {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    Pairs block;
    ViewError error;
    while (out < target) {
      if (!enter(in, block, error)) {
        return {out, error.fault == ViewFault::kNone, error};
      }
      if (head_due()) {
        out = head(out, block_number(in), block);
        head_written_ = place_.major;
        if (block.rows == 0) {
          leave();
          continue;
        }
      }
      for (; row_left(block) && out < target; ++place_.minor) {
        out = copy_text(out, place_.minor == 0 ? row_start_ : row_between_);
        out = write_exact(out, block.value(2 * place_.minor), kQuotedSpelling);
        *out++ = ',';
        *out++ = ' ';
        out = write_exact(out, block.value(2 * place_.minor + 1), kQuotedSpelling);
      }
      if (place_.minor == block.rows) {
        out = copy_text(out, close_);
        leave();
      }
    }
    return {out, done(in), {}};
  }

 private:
  std::unique_ptr<ViewWriter> fresh() const override {
    return std::make_unique<MarginalsJson>(level_);
  }

  // The record up to its first pair, or the whole record of a block without
  // pairs, which goes on one line.
  char* head(char* out, std::int64_t k, const Pairs& block) const {
    if (place_.major != 0) {
      out = copy_text(out, between_);
    }
    const bool spread = block.rows != 0;
    const std::string_view key = spread ? std::string_view(key_) : std::string_view(", ");
    out = copy_text(out, spread ? std::string_view("{") : std::string_view("{\"block\": "));
    if (spread) {
      out = copy_text(out, key.substr(1));
      out = copy_text(out, "\"block\": ");
    }
    out = write_integer(out, k);
    out = copy_text(out, key);
    out = copy_text(out, "\"idx\": ");
    out = write_exact(out, block.idx, kQuotedSpelling);
    out = copy_text(out, key);
    return copy_text(out, spread ? std::string_view("\"pairs\": [\n") : "\"pairs\": []}");
  }

  int level_;
  std::string between_;      // between two records
  std::string key_;          // before each key of a record spread over lines
  std::string row_start_;    // before the first pair
  std::string row_between_;  // between two pairs
  std::string close_;        // after the last pair
};

// ---------------------------------------------------------------------------
// Grids of cells: the dense matrix's rows, or a table's, a cell at a time, so
// that a row of millions of columns is spread over chunks as any other text
// is. Place {row, column}.

class GridWriter : public ViewWriter {
 protected:
  GridWriter(std::size_t max_step, std::uint64_t rows) : ViewWriter(max_step), rows_(rows) {}

  virtual std::uint64_t columns(const ViewInputs& in) const = 0;

  Place finish(const ViewInputs&) const override { return {rows_, 0}; }

  // A step is a cell, or a row where there are no columns.
  Place advance(const ViewInputs& in, Place from, std::uint64_t steps) const override {
    const std::uint64_t n = columns(in);
    if (n == 0) {
      return std::min(Place{from.major + steps, 0}, finish(in));
    }
    const std::uint64_t column = from.minor + steps;
    return std::min(Place{from.major + column / n, column % n}, finish(in));
  }

  bool more() const { return place_.major < rows_ && before_end(); }

  // Moves to the next cell, and to the next row after the last cell.
  bool next_cell(std::uint64_t n) {
    if (++place_.minor < n) {
      return false;
    }
    place_ = {place_.major + 1, 0};
    return true;
  }

  std::uint64_t rows_;
};

class MatrixCsv final : public GridWriter {
 public:
  explicit MatrixCsv(std::uint64_t rows) : GridWriter(kMaxFloatText + 2, rows) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::uint64_t n = columns(in);
    if (n == 0) {
      return {out, true, {}};
    }
    while (more() && out < target) {
      double cell;
      if (ViewError error = selected_cell(in, place_.minor, place_.major, cell);
          error.fault != ViewFault::kNone) {
        return {out, false, error};
      }
      if (place_.minor != 0) {
        *out++ = ',';
      }
      out = write_exact(out, cell, kBareSpelling);
      if (next_cell(n)) {
        *out++ = '\n';
      }
    }
    return {out, !more(), {}};
  }

 private:
  std::uint64_t columns(const ViewInputs& in) const override { return source_count(in); }
  std::unique_ptr<ViewWriter> fresh() const override { return std::make_unique<MatrixCsv>(rows_); }
};

class MatrixJson final : public GridWriter {
 public:
  MatrixJson(std::uint64_t rows, int level)
      : GridWriter(2 * static_cast<std::size_t>(level + 1) + kMaxFloatText + 8, rows),
        level_(level),
        between_("],\n" + indent(level + 1) + "[") {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::uint64_t n = columns(in);
    if (n == 0 || rows_ == 0) {
      return {out, true, {}};
    }
    while (more() && out < target) {
      double cell;
      if (ViewError error = selected_cell(in, place_.minor, place_.major, cell);
          error.fault != ViewFault::kNone) {
        return {out, false, error};
      }
      // A row's first cell goes with its opening bracket, so that a fill
      // never ends between the two.
      if (place_.minor == 0) {
        out = copy_text(out, place_.major == 0 ? std::string_view("[") : between_);
      } else {
        out = copy_text(out, ", ");
      }
      out = write_exact(out, cell, kQuotedSpelling);
      next_cell(n);
    }
    if (place_.major >= rows_ && !closed_) {  // the whole view's end, not a part's
      *out++ = ']';
      closed_ = true;
    }
    return {out, !more(), {}};
  }

 private:
  std::uint64_t columns(const ViewInputs& in) const override { return source_count(in); }
  std::unique_ptr<ViewWriter> fresh() const override {
    return std::make_unique<MatrixJson>(rows_, level_);
  }

  int level_;
  std::string between_;
  bool closed_ = false;
};

// Powers of ten that are exact doubles.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPower = 22;

// How many characters write_rounded(v, precision) writes, found without
// writing them where double arithmetic finds the correctly rounded digits
// surely, which is most of the time: a table's widths are measured from
// every cell, and writing them all costs as much again as the table.
//
// The text is the `precision` correctly rounded significant digits m of v,
// laid out by the decimal exponent X they have after rounding (the rules of
// write_rounded), with trailing zeros dropped. v / 10**(X - precision + 1)
// is computed with one rounding (the power of ten is exact), so it is
// within one unit in its last place of the exact quotient; where that
// leaves the nearest integer in doubt (a tie, or the quotient too near a
// power of ten to tell X) the text is written and measured instead.
std::int64_t rounded_width(double v, int precision) {
  char text[kMaxFloatText];
  const auto written = [&] {
    return write_rounded(text, v, precision, kBareSpelling) - static_cast<char*>(text);
  };
  const double magnitude = std::fabs(v);
  if (!std::isfinite(v) || magnitude == 0 || precision > 15) {
    return written();
  }
  int exponent;
  std::frexp(magnitude, &exponent);
  // floor(log10(magnitude)), or one less: 2**(e-1) <= magnitude < 2**e.
  int x = static_cast<int>(std::floor((exponent - 1) * 0.30102999566398120));
  const int shift = precision - 1 - x;  // scaled = magnitude * 10**shift
  if (shift < -kMaxExactPower || shift > kMaxExactPower) {
    return written();
  }
  double scaled = shift >= 0 ? magnitude * kExactPowers[shift] : magnitude / kExactPowers[-shift];
  const double low = kExactPowers[precision - 1];
  const double high = kExactPowers[precision];
  // The quotient's error is below one unit in its last place; four leave room.
  const double doubt = 4 * std::ldexp(1.0, std::ilogb(scaled) - 52);
  if (scaled >= 10 * low - doubt) {  // the estimate of x was one short
    if (scaled < 10 * low + doubt || shift == -kMaxExactPower) {
      return written();
    }
    ++x;
    scaled /= 10;  // exact enough: the doubt below is widened to match
  }
  const double within = 4 * doubt;
  if (scaled < low + within || scaled >= high - within) {
    return written();
  }
  const double floor = std::floor(scaled);
  const double fraction = scaled - floor;
  if (std::fabs(fraction - 0.5) < within) {
    return written();
  }
  auto digits = static_cast<std::int64_t>(fraction > 0.5 ? floor + 1 : floor);
  if (digits == static_cast<std::int64_t>(high)) {  // rounded up to the next power
    ++x;
    digits /= 10;
  }
  int count = precision;
  while (count > 1 && digits % 10 == 0) {
    digits /= 10;
    --count;
  }
  const std::int64_t sign = std::signbit(v) ? 1 : 0;
  if (x < precision && x >= -4) {  // fixed notation
    if (x >= 0) {
      return sign + (x + 1) + (count > x + 1 ? 1 + (count - x - 1) : 0);
    }
    return sign + 2 + (-x - 1) + count;
  }
  // Exact powers of ten keep |X| below 40 here: the exponent is "e+XX" or "e-XX".
  const std::int64_t mantissa = count > 1 ? 1 + count : 1;
  return sign + mantissa + 4;
}

// The cell of a table in `row` of its column at position `at`.
ViewError table_cell(const ViewInputs& in, CellSource source, std::size_t at, std::uint64_t row,
                     double& cell) {
  if (source == CellSource::kValues) {
    cell = row < in.values.size() ? in.values[row] : kNan;
    return {};
  }
  return selected_cell(in, at, row, cell);
}

class TableRows final : public GridWriter {
 public:
  // The shape is shared by the parts of one table, and owned by its caller.
  TableRows(CellSource source, std::uint64_t first_row, std::uint64_t rows, const TableShape* shape,
            std::size_t step)
      : GridWriter(step, rows), source_(source), first_row_(first_row), shape_(shape) {}

  // The most one step writes: a cell, with the row's number before the
  // first and the "..." columns around it.
  static std::size_t step_bound(const TableShape& shape) {
    std::int64_t widest = kMaxFloatText;
    for (std::int64_t width : shape.widths) {
      widest = std::max(widest, width);
    }
    const std::int64_t label = std::max<std::int64_t>(shape.label_width, kMaxIntegerText);
    return static_cast<std::size_t>(label + widest + 16);  // two gaps, two spaces, a break
  }

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const TableShape& shape = *shape_;
    const std::uint64_t n = shape.widths.size();
    char text[kMaxFloatText];
    while (more() && out < target) {
      const std::uint64_t row = first_row_ + place_.major;
      if (place_.minor == 0) {  // with the first cell, in one step
        out = write_integer_right(out, static_cast<std::int64_t>(row), shape.label_width);
      }
      if (place_.minor < n) {
        double cell;
        if (ViewError error = table_cell(in, source_, place_.minor, row, cell);
            error.fault != ViewFault::kNone) {
          return {out, false, error};
        }
        out = gap_before(out, place_.minor);
        *out++ = ' ';
        *out++ = ' ';
        const char* end = write_rounded(text, cell, shape.precision, kBareSpelling);
        out = write_right(out, text, end, shape.widths[place_.minor]);
      }
      if (n == 0 || next_cell(n)) {
        out = gap_before(out, n);
        *out++ = '\n';
        if (n == 0) {
          place_ = {place_.major + 1, 0};
        }
      }
    }
    return {out, !more(), {}};
  }

 private:
  std::uint64_t columns(const ViewInputs&) const override { return shape_->widths.size(); }
  std::unique_ptr<ViewWriter> fresh() const override {
    return std::make_unique<TableRows>(source_, first_row_, rows_, shape_, max_step());
  }

  // "  ..." where columns are left out before column `at`.
  char* gap_before(char* out, std::uint64_t at) const {
    const auto column = static_cast<std::int64_t>(at);
    if (std::binary_search(shape_->gaps.begin(), shape_->gaps.end(), column)) {
      out = copy_text(out, "  ...");
    }
    return out;
  }

  CellSource source_;
  std::uint64_t first_row_;
  const TableShape* shape_;
};

class MarginalsTable final : public BlockWriter {
 public:
  explicit MarginalsTable(int precision)
      : BlockWriter(2 * (3 * kMaxIntegerText + 3 * kMaxFloatText + 32)), precision_(precision) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    Pairs block;
    ViewError error;
    while (out < target) {
      if (!enter(in, block, error)) {
        return {out, error.fault == ViewFault::kNone, error};
      }
      if (measured_ != place_.major) {
        measure(block);
      }
      if (head_due()) {
        out = head(out, block_number(in), block);
        head_written_ = place_.major;
        if (block.rows == 0) {
          leave();
          continue;
        }
      }
      for (; row_left(block) && out < target; ++place_.minor) {
        out = row(out, block, place_.minor);
      }
      if (place_.minor == block.rows) {
        leave();
      }
    }
    return {out, done(in), {}};
  }

 private:
  std::unique_ptr<ViewWriter> fresh() const override {
    auto writer = std::make_unique<MarginalsTable>(precision_);
    writer->measured_ = measured_;
    writer->widths_ = widths_;
    return writer;
  }

  // A part that starts inside a block takes the block's widths: measured
  // here once, when the part is split off, rather than by every part.
  void resume(const ViewInputs& in) override {
    Pairs block;
    if (place_.minor != 0 && measured_ != place_.major &&
        selected_block(in, place_.major, block).fault == ViewFault::kNone) {
      measure(block);
    }
  }

  // The widths of the block's columns: the row numbers, at least "row";
  // x and y, at least their names and, below the rows the file holds, "NaN".
  void measure(const Pairs& block) {
    char text[kMaxFloatText];
    const std::uint64_t filled = std::min(block.rows, (block.held + 1) / 2);
    std::int64_t least = block.rows > filled ? 3 : 1;
    widths_ = {3, least, least};
    if (block.rows != 0) {
      const char* end = write_integer(text, static_cast<std::int64_t>(block.rows - 1));
      widths_[0] = std::max<std::int64_t>(3, end - text);
    }
    for (std::uint64_t r = 0; r < filled; ++r) {
      for (std::size_t axis = 0; axis < 2; ++axis) {
        const std::int64_t width = rounded_width(block.value(2 * r + axis), precision_);
        widths_[1 + axis] = std::max(widths_[1 + axis], width);
      }
    }
    measured_ = place_.major;
  }

  char* head(char* out, std::int64_t k, const Pairs& block) const {
    out = copy_text(out, "\nblock ");
    out = write_integer(out, k);
    out = copy_text(out, " (idx ");
    out = write_idx_label(out, block.idx);
    out = copy_text(out, "): ");
    out = write_integer(out, static_cast<std::int64_t>(block.rows));
    out = copy_text(out, block.rows == 1 ? " row\n" : " rows\n");
    if (block.rows != 0) {
      out = write_right(out, "row", widths_[0]);
      out = copy_text(out, "  ");
      out = write_right(out, "x", widths_[1]);
      out = copy_text(out, "  ");
      out = write_right(out, "y", widths_[2]);
      *out++ = '\n';
    }
    return out;
  }

  char* row(char* out, const Pairs& block, std::uint64_t r) const {
    char text[kMaxFloatText];
    out = write_integer_right(out, static_cast<std::int64_t>(r), widths_[0]);
    for (std::size_t axis = 0; axis < 2; ++axis) {
      *out++ = ' ';
      *out++ = ' ';
      const char* end = write_rounded(text, block.value(2 * r + axis), precision_, kBareSpelling);
      out = write_right(out, text, end, widths_[1 + axis]);
    }
    *out++ = '\n';
    return out;
  }

  int precision_;
  std::uint64_t measured_ = UINT64_MAX;   // the position in the selection widths_ are of
  std::array<std::int64_t, 3> widths_{};  // row numbers, x, y
};

}  // namespace

std::size_t block_count(const ViewInputs& in) {
  return in.every ? layout_blocks(in) : in.selection.size();
}

std::size_t source_count(const ViewInputs& in) {
  return in.every ? matrix_column_count(layout_blocks(in)) : in.selection.size();
}

std::size_t matrix_column_count(std::size_t blocks) {
  return blocks == 0 ? 0 : blocks == 1 ? 2 : 1 + 2 * blocks;
}

std::int64_t matrix_column_source(std::size_t blocks, std::size_t c) {
  // Column 0 is block 0's x; then columns 2k + 1 and 2k + 2 are block k's y
  // and x, sources 2k + 1 and 2k. A single block is its own x and y.
  const auto column = static_cast<std::int64_t>(c);
  return blocks == 1 || column % 2 == 1 ? column : std::max<std::int64_t>(column - 2, 0);
}

ViewError check_blocks(const ViewInputs& in) {
  Pairs block;
  for (std::size_t at = 0; at < block_count(in); ++at) {
    if (ViewError error = selected_block(in, at, block); error.fault != ViewFault::kNone) {
      return error;
    }
  }
  return {};
}

ViewError check_sources(const ViewInputs& in) {
  double cell;
  for (std::size_t at = 0; at < source_count(in); ++at) {
    if (ViewError error = selected_cell(in, at, 0, cell); error.fault != ViewFault::kNone) {
      return error;
    }
  }
  return {};
}

ViewError matrix_rows(const ViewInputs& in, std::uint64_t& rows) {
  rows = 0;
  Pairs block;
  for (std::size_t k = 0; k < layout_blocks(in); ++k) {
    if (ViewError error = read_block(in, k, block); error.fault != ViewFault::kNone) {
      return error;
    }
    rows = std::max(rows, block.rows);
  }
  return {};
}

ViewError gather_cells(const ViewInputs& in, std::int64_t first_row, std::int64_t row_step,
                       std::size_t rows, double* out) {
  const std::size_t columns = source_count(in);
  for (std::size_t i = 0; i < rows; ++i) {
    // Every row of a range lies between its bounds, so the sum is exact even
    // where the product alone would overflow.
    const auto row = static_cast<std::int64_t>(static_cast<std::uint64_t>(first_row) +
                                               static_cast<std::uint64_t>(row_step) * i);
    if (row < 0) {
      return {ViewFault::kNegativeRow, static_cast<std::int64_t>(i), row};
    }
    for (std::size_t at = 0; at < columns; ++at) {
      if (ViewError error = selected_cell(in, at, static_cast<std::uint64_t>(row), *out++);
          error.fault != ViewFault::kNone) {
        return error;
      }
    }
  }
  return {};
}

std::unique_ptr<ViewWriter> raw_csv(std::string_view prefix) {
  return std::make_unique<RawCsv>(prefix);
}
std::unique_ptr<ViewWriter> raw_json() { return std::make_unique<RawJson>(); }
std::unique_ptr<ViewWriter> marginals_csv(std::string_view prefix) {
  return std::make_unique<MarginalsCsv>(prefix);
}
std::unique_ptr<ViewWriter> marginals_json(int level) {
  return std::make_unique<MarginalsJson>(std::clamp(level, 0, kMaxLevel));
}
std::unique_ptr<ViewWriter> matrix_csv(std::uint64_t rows) {
  return std::make_unique<MatrixCsv>(rows);
}
std::unique_ptr<ViewWriter> matrix_json(std::uint64_t rows, int level) {
  return std::make_unique<MatrixJson>(rows, std::clamp(level, 0, kMaxLevel));
}

std::unique_ptr<ViewWriter> ViewWriter::split(const ViewInputs& in, std::size_t bytes) {
  const Place cut = advance(in, place_, std::max<std::uint64_t>(1, bytes / max_step_));
  if (!(place_ < cut) || !(cut < end_) || !(cut < finish(in))) {
    return nullptr;
  }
  std::unique_ptr<ViewWriter> rest = fresh();
  rest->place_ = cut;
  rest->end_ = end_;
  end_ = cut;
  rest->resume(in);
  return rest;
}

char* write_column_name(char* out, std::size_t blocks, std::uint64_t c) {
  if (blocks == 1) {
    *out = c == 0 ? 'x' : 'y';
    return out + 1;
  }
  *out = c % 2 == 1 ? 'y' : 'x';
  if (c == 0) {
    return out + 1;
  }
  return write_integer(out + 1, static_cast<std::int64_t>((c - 1) / 2));
}

std::string aligned_column_names(std::size_t blocks, std::span<const std::int64_t> columns,
                                 std::span<const std::int64_t> widths) {
  std::size_t size = 0;
  for (std::size_t j = 0; j < columns.size(); ++j) {
    size += 2 + std::max<std::size_t>(kMaxColumnName, static_cast<std::size_t>(widths[j]));
  }
  std::string text(size, ' ');
  char* const begin = text.data();
  char* out = begin;
  for (std::size_t j = 0; j < columns.size(); ++j) {
    if (j != 0) {
      out += 2;  // the spaces the string was made of
    }
    char name[kMaxColumnName];
    const char* end = write_column_name(name, blocks, static_cast<std::uint64_t>(columns[j]));
    out = write_right(out, name, end, widths[j]);
  }
  text.resize(static_cast<std::size_t>(out - begin));
  return text;
}

std::string block_names(std::span<const std::int64_t> blocks, std::span<const double> idx) {
  constexpr std::size_t kMaxName = kMaxIntegerText + kMaxFloatText + 9;  // ", k (idx i)"
  std::string text(blocks.size() * kMaxName, ' ');
  char* const begin = text.data();
  char* out = begin;
  for (std::size_t j = 0; j < blocks.size(); ++j) {
    if (j != 0) {
      out = copy_text(out, ", ");
    }
    out = write_integer(out, blocks[j]);
    out = copy_text(out, " (idx ");
    out = write_idx_label(out, idx[j]);
    *out++ = ')';
  }
  text.resize(static_cast<std::size_t>(out - begin));
  return text;
}

std::size_t table_columns(const ViewInputs& in, CellSource source) {
  return source == CellSource::kValues ? 1 : source_count(in);
}

ViewError table_widths(const ViewInputs& in, CellSource source, std::uint64_t first_row,
                       std::uint64_t rows, std::size_t first_column, int precision,
                       std::span<std::int64_t> widths) {
  for (std::size_t j = 0; j < widths.size(); ++j) {
    std::int64_t& width = widths[j];
    for (std::uint64_t i = 0; i < rows; ++i) {
      double cell;
      if (ViewError error = table_cell(in, source, first_column + j, first_row + i, cell);
          error.fault != ViewFault::kNone) {
        return error;
      }
      width = std::max(width, rounded_width(cell, precision));
    }
  }
  return {};
}

std::unique_ptr<ViewWriter> table_rows(CellSource source, std::uint64_t first_row,
                                       std::uint64_t rows, const TableShape& shape) {
  return std::make_unique<TableRows>(source, first_row, rows, &shape, TableRows::step_bound(shape));
}

std::unique_ptr<ViewWriter> marginals_table(int precision) {
  return std::make_unique<MarginalsTable>(std::clamp(precision, kMinPrecision, kMaxPrecision));
}

}  // namespace pykora::core
