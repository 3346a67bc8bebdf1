#include "core/view_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

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

// ---------------------------------------------------------------------------
// Raw streams.

class RawCsv final : public ViewWriter {
 public:
  explicit RawCsv(std::string_view prefix)
      : ViewWriter(prefix.size() + kMaxIntegerText + kMaxFloatText + 2), prefix_(prefix) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::span<const double> values = in.values;
    for (; next_ < values.size() && out < target; ++next_) {
      out = copy_text(out, prefix_);
      out = write_integer(out, static_cast<std::int64_t>(next_));
      *out++ = ',';
      out = write_exact(out, values[next_], kBareSpelling);
      *out++ = '\n';
    }
    return {out, next_ >= values.size(), {}};
  }

 private:
  std::string prefix_;
  std::size_t next_ = 0;
};

class RawJson final : public ViewWriter {
 public:
  RawJson() : ViewWriter(kMaxFloatText + 2) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::span<const double> values = in.values;
    while (next_ < values.size() && out < target) {
      // Runs of as many values as surely fit before the target, and one more:
      // at most one step past it.
      const auto room = static_cast<std::size_t>(target - out) / max_step() + 1;
      const std::span<const double> run =
          values.subspan(next_, std::min(room, values.size() - next_));
      if (next_ != 0) {
        out = copy_text(out, ", ");
      }
      out = write_joined(out, run, ", ", kQuotedSpelling);
      next_ += run.size();
    }
    return {out, next_ >= values.size(), {}};
  }

 private:
  std::size_t next_ = 0;
};

// ---------------------------------------------------------------------------
// Marginals: the selected blocks' rows, one after the other.

// What both marginals writers share: the place in the selection and in the
// current block's rows.
class BlockCursor {
 protected:
  // The block now being written, read again at every fill. False when the
  // selection is done or a fault is found.
  bool enter(const ViewInputs& in, Pairs& block, ViewError& error) {
    if (next_ >= block_count(in)) {
      return false;
    }
    error = selected_block(in, next_, block);
    return error.fault == ViewFault::kNone;
  }

  std::int64_t block_number(const ViewInputs& in) const {
    return in.every ? static_cast<std::int64_t>(next_) : in.selection[next_];
  }

  void leave() {
    ++next_;
    row_ = 0;
    opened_ = false;
  }

  std::size_t next_ = 0;  // position in the selection of the block being written
  std::uint64_t row_ = 0;
  bool opened_ = false;  // whether what goes before the block's first row is written
};

class MarginalsCsv final : public ViewWriter, BlockCursor {
 public:
  explicit MarginalsCsv(std::string_view prefix)
      : ViewWriter(prefix.size() + kMaxIntegerText + 3 * kMaxFloatText + 4), prefix_(prefix) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    Pairs block;
    ViewError error;
    std::size_t silent = 0;
    while (out < target) {
      if (!enter(in, block, error)) {
        return {out, error.fault == ViewFault::kNone, error};
      }
      if (!opened_) {
        if (block.rows == 0) {
          leave();
          if (++silent == kSilentSteps) {
            break;
          }
          continue;
        }
        head(block_number(in), block.idx);
        opened_ = true;
      }
      for (; row_ < block.rows && out < target; ++row_) {
        out = copy_text(out, head_);
        out = write_exact(out, block.value(2 * row_), kBareSpelling);
        *out++ = ',';
        out = write_exact(out, block.value(2 * row_ + 1), kBareSpelling);
        *out++ = '\n';
      }
      if (row_ == block.rows) {
        leave();
      }
    }
    return {out, next_ >= block_count(in), {}};
  }

 private:
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
};

class MarginalsJson final : public ViewWriter, BlockCursor {
 public:
  explicit MarginalsJson(int level)
      : ViewWriter(8 * static_cast<std::size_t>(level + 3) + kMaxIntegerText + 3 * kMaxFloatText +
                   64),
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
      if (!opened_) {
        out = head(out, block_number(in), block);
        opened_ = true;
        if (block.rows == 0) {
          leave();
          continue;
        }
      }
      for (; row_ < block.rows && out < target; ++row_) {
        out = copy_text(out, row_ == 0 ? std::string_view(row_start_) : row_between_);
        out = write_exact(out, block.value(2 * row_), kQuotedSpelling);
        *out++ = ',';
        *out++ = ' ';
        out = write_exact(out, block.value(2 * row_ + 1), kQuotedSpelling);
      }
      if (row_ == block.rows) {
        out = copy_text(out, close_);
        leave();
      }
    }
    return {out, next_ >= block_count(in), {}};
  }

 private:
  // The record up to its first pair, or the whole record of a block without
  // pairs, which goes on one line.
  char* head(char* out, std::int64_t k, const Pairs& block) {
    if (next_ != 0) {
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

  std::string between_;      // between two records
  std::string key_;          // before each key of a record spread over lines
  std::string row_start_;    // before the first pair
  std::string row_between_;  // between two pairs
  std::string close_;        // after the last pair
};

// ---------------------------------------------------------------------------
// The dense matrix: every row, a cell at a time, so that a row of millions of
// columns is spread over chunks as any other text is.

class MatrixCells {
 protected:
  explicit MatrixCells(std::uint64_t rows) : rows_(rows) {}

  std::uint64_t rows_;
  std::uint64_t row_ = 0;
  std::size_t column_ = 0;
};

class MatrixCsv final : public ViewWriter, MatrixCells {
 public:
  explicit MatrixCsv(std::uint64_t rows) : ViewWriter(kMaxFloatText + 2), MatrixCells(rows) {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::size_t columns = source_count(in);
    if (columns == 0) {
      return {out, true, {}};
    }
    for (; row_ < rows_ && out < target; ++row_, column_ = 0) {
      for (; column_ < columns && out < target; ++column_) {
        double cell;
        if (ViewError error = selected_cell(in, column_, row_, cell);
            error.fault != ViewFault::kNone) {
          return {out, false, error};
        }
        if (column_ != 0) {
          *out++ = ',';
        }
        out = write_exact(out, cell, kBareSpelling);
      }
      if (column_ < columns) {
        break;  // the target was reached inside the row
      }
      *out++ = '\n';
    }
    return {out, row_ >= rows_, {}};
  }
};

class MatrixJson final : public ViewWriter, MatrixCells {
 public:
  MatrixJson(std::uint64_t rows, int level)
      : ViewWriter(2 * static_cast<std::size_t>(level + 1) + kMaxFloatText + 8),
        MatrixCells(rows),
        between_("],\n" + indent(level + 1) + "[") {}

  Fill fill(const ViewInputs& in, char* out, const char* target) override {
    const std::size_t columns = source_count(in);
    if (columns == 0 || rows_ == 0) {
      return {out, true, {}};
    }
    for (; row_ < rows_ && out < target; ++row_, column_ = 0) {
      if (column_ == 0) {
        out = copy_text(out, row_ == 0 ? std::string_view("[") : std::string_view(between_));
      }
      // A row's first cell goes with its opening bracket, so that a fill
      // never ends between the two.
      for (; column_ < columns && (column_ == 0 || out < target); ++column_) {
        double cell;
        if (ViewError error = selected_cell(in, column_, row_, cell);
            error.fault != ViewFault::kNone) {
          return {out, false, error};
        }
        if (column_ != 0) {
          *out++ = ',';
          *out++ = ' ';
        }
        out = write_exact(out, cell, kQuotedSpelling);
      }
      if (column_ < columns) {
        break;
      }
    }
    const bool done = row_ >= rows_;
    if (done && !closed_) {
      *out++ = ']';
      closed_ = true;
    }
    return {out, done, {}};
  }

 private:
  std::string between_;
  bool closed_ = false;
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

}  // namespace pykora::core
