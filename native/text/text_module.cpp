// pykora._text: the command line's CSV and JSON text and its tables' cells,
// formatted natively.
//
// Thin over the core: native/core/float_text formats the numbers and
// native/core/view_text lays out the views. This file converts the
// arguments, checks them, and hands the result back as the iterator of
// chunks (text/chunks.cpp), a list of texts or an array.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <numpy/arrayobject.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/function.hpp"
#include "common/gil.hpp"
#include "common/globals.hpp"
#include "common/module.hpp"
#include "common/object.hpp"
#include "core/float_text.hpp"
#include "core/view_text.hpp"
#include "text/chunks.hpp"
#include "text/state.hpp"

namespace pykora::texts {
namespace {

#define PYKORA_ENTRY(member, text) {&Names::member, text},
constexpr InternedName<Names> kNames[] = {PYKORA_TEXT_NAMES(PYKORA_ENTRY)};
#undef PYKORA_ENTRY

// Every member of Names is filled from the list.
static_assert(sizeof(Names) == std::size(kNames) * sizeof(PyObject*));

// The chunk size when CHUNK_BYTES is left as it is, and the most it may be.
constexpr long long kDefaultChunkBytes = 1 << 20;
constexpr long long kMaxChunkBytes = 1 << 30;
// The threads that format a text when THREADS is left as it is, and the most.
constexpr long long kDefaultThreads = 2;
constexpr long long kMaxThreads = 2;
// Cells below which a table's widths are measured on one thread.
constexpr std::uint64_t kCellsForTwoThreads = 1 << 16;

constexpr const char kModuleDoc[] =
    "The command line's CSV and JSON text and its tables' cells, formatted natively.\n"
    "\n"
    "Private to pykora. Every float is written as Python writes it: ``repr(v)``\n"
    "for CSV and JSON, ``format(v, f\".{p}g\")`` for tables. NaN, inf and -inf are\n"
    "written ``NaN``, ``inf`` and ``-inf``, and in JSON as the strings \"NaN\",\n"
    "\"inf\" and \"-inf\".\n"
    "\n"
    "The writers return an iterator of str chunks of about ``CHUNK_BYTES``\n"
    "characters (read at each call), each formatted without the interpreter\n"
    "lock; it holds the arrays it reads and one chunk of text. With ``THREADS``\n"
    "at 2 (its default; read at each call), the text is cut into parts of at\n"
    "most about ``CHUNK_BYTES``, which a second thread formats while the caller\n"
    "writes the last one, and the caller's thread too while it waits for the\n"
    "next, at most three parts ahead; the arrays are then read ahead of the\n"
    "chunks that show them. ``values`` is a\n"
    "file's float64 values and ``layout`` the ``(starts, idx, declared, present)``\n"
    "of ``pykora._layout.block_layout(values)``. Of block k's ``2 * declared[k]``\n"
    "pair values, those from ``starts[k] + 2`` up to the end of ``values`` are\n"
    "read, and the others are NaN, written as they are formatted and never\n"
    "stored. A layout that does not fit ``values`` raises ValueError, and a\n"
    "selection out of range IndexError.\n"
    "\n"
    "A column source names a column of ``pykora.binary.kora_interpret_vector``'s\n"
    "matrix: ``2 * k`` is block k's x values and ``2 * k + 1`` its y values. The\n"
    "whole matrix is the sources 0, 1, 0, 3, 2, 5, 4, ... (x of block 0, then y\n"
    "and x of each block), or 0, 1 for a single block; its rows run up to the\n"
    "largest declared count, and a column is NaN below its block's.\n"
    "\n"
    "A table's cells are ``cells(column_values(values, layout, columns,\n"
    "range(r0, r1)), 6)``, or ``cells(values[r0:r1], 6)`` for a raw stream.\n"
    "Whole tables are written by ``table_widths`` and ``table_rows`` (a raw\n"
    "stream's when ``layout`` is None, a matrix's otherwise) and by\n"
    "``marginals_table``.\n";

constexpr const char kRawCsvDoc[] =
    "The lines ``i,v`` of a raw stream, each after ``prefix`` and ending in a line break.\n"
    "\n"
    "    ``values``: any 1-D array-like, read as float64. ``prefix``: a str written at\n"
    "    the start of every line (a file's CSV field and a comma), none when None.\n"
    "    ";

constexpr const char kRawJsonDoc[] =
    "The JSON texts of a raw stream's values joined by \", \": what goes between the\n"
    "    brackets of its array.\n"
    "    ";

constexpr const char kMarginalsCsvDoc[] =
    "The lines ``k,idx,x,y`` of the blocks ``blocks``, every row of each block up to its\n"
    "    declared count, each after ``prefix`` and ending in a line break.\n"
    "\n"
    "    ``blocks``: block positions (int64), written in the order given; None for\n"
    "    every block. A block without pairs has no line. ``prefix`` as for raw_csv.\n"
    "    ";

constexpr const char kMarginalsJsonDoc[] =
    "The records ``{\"block\": k, \"idx\": ..., \"pairs\": [...]}`` of the blocks ``blocks``,\n"
    "    from the first record's ``{`` to the last one's ``}``, separated by \",\\n\".\n"
    "\n"
    "    They are laid out as items of an array at nesting ``level`` (1 when None): a\n"
    "    file's document holds them at level 1, in its \"blocks\", whose ``[`` is\n"
    "    followed by a line break and ``2 * (level + 1)`` spaces before the first\n"
    "    record. A block without pairs is one line, any other a line for each key\n"
    "    and pair. ``blocks`` as for marginals_csv; none writes nothing.\n"
    "    ";

constexpr const char kMatrixCsvDoc[] =
    "The dense matrix's rows as CSV lines: the cells of column sources ``columns`` of\n"
    "    each row, comma-separated, from row 0 to the last.\n"
    "\n"
    "    ``columns``: column sources (int64); None for the whole matrix. No rows or no\n"
    "    columns write nothing.\n"
    "    ";

constexpr const char kMatrixJsonDoc[] =
    "The dense matrix's rows as JSON arrays, from the first row's ``[`` to the last\n"
    "    one's ``]``, separated by \",\\n\" and ``2 * (level + 1)`` spaces.\n"
    "\n"
    "    ``columns`` as for matrix_csv, ``level`` as for marginals_json: a file's\n"
    "    document holds the rows at level 1, in its \"rows\".\n"
    "    ";

constexpr const char kColumnValuesDoc[] =
    "The dense matrix's cells in rows ``rows`` (a range) of column sources ``columns``,\n"
    "    as a float64 array of shape (len(rows), len(columns)).\n"
    "\n"
    "    ``columns`` as for matrix_csv. Rows at or beyond a block's declared count\n"
    "    and values beyond the end of ``values`` are NaN; a negative row raises\n"
    "    IndexError. Only the cells asked for are read: padding is never stored.\n"
    "    ";

constexpr const char kCellsDoc[] =
    "The text of each value of ``values`` (any float64 array-like, in C order), as a list:\n"
    "    ``repr(v)`` when ``precision`` is None, else ``format(v, f\".{precision}g\")`` for\n"
    "    a precision from 1 to 17. NaN, inf and -inf are ``NaN``, ``inf`` and ``-inf``.\n"
    "    ";

constexpr const char kColumnNamesDoc[] =
    "The names of the columns ``columns`` (positions) of the dense matrix of ``n_blocks``\n"
    "    blocks, as a list: ``x`` and ``y`` for a single block; else ``x`` for column 0, then\n"
    "    ``y<k>`` and ``x<k>`` for block k's columns 2k + 1 and 2k + 2.\n"
    "    ";

constexpr const char kAlignedColumnNamesDoc[] =
    "The names of the columns ``columns`` of the dense matrix of ``n_blocks`` blocks, each\n"
    "    right-aligned in its width of ``widths``, joined by two spaces: a matrix table's\n"
    "    header but for its row label.\n"
    "    ";

constexpr const char kBlockNamesDoc[] =
    "The blocks ``blocks`` named as a matrix table's legend names them, ``k (idx i)``,\n"
    "    joined by ``\", \"``: ``idx`` holds each block's idx, written exactly: an integral idx\n"
    "    below 1e16 in magnitude as its integer (\"-0\" for -0.0), any other as ``repr`` writes\n"
    "    it, NaN, inf and -inf as ``NaN``, ``inf`` and ``-inf``.\n"
    "    ";

constexpr const char kTableWidthsDoc[] =
    "The most characters any cell of each column takes in rows ``rows`` (a range of\n"
    "    step 1), at ``precision`` significant digits (6 when None), as an int64 array.\n"
    "\n"
    "    With ``layout`` None the table is a raw stream: one column, whose row r is\n"
    "    ``values[r]``, and ``columns`` must be None; otherwise its columns are the\n"
    "    matrix's column sources ``columns``, as for matrix_csv.\n"
    "    ";

constexpr const char kTableRowsDoc[] =
    "The lines of rows ``rows`` (a range of step 1) of the table of ``values``,\n"
    "    ``layout`` and ``columns`` (as for table_widths): each row's number right-aligned\n"
    "    in ``label_width`` characters, then each cell at ``precision`` significant\n"
    "    digits, right-aligned in its column's width of ``widths``, two spaces before\n"
    "    each, and a line break.\n"
    "\n"
    "    ``gaps``: the columns before which a \"...\" column stands for columns left\n"
    "    out (the number of columns for one after the last), or None. Widths are\n"
    "    from 0 to 256.\n"
    "    ";

constexpr const char kMarginalsTableDoc[] =
    "The tables of the blocks ``blocks`` (every block when None), each after a blank\n"
    "    line and the line that names the block: ``block k (idx i): n rows``, the\n"
    "    idx integral below 1e16 written as an integer. A block with pairs has the\n"
    "    header ``row x y`` and a line for each pair, its columns as wide as its own\n"
    "    cells, at ``precision`` significant digits (6 when None).\n"
    "    ";

// ---------------------------------------------------------------------------
// Arguments.

Object converted(PyObject* obj, int type, int min_depth, int max_depth) {
  return Object::steal(PyArray_FROMANY(obj, type, min_depth, max_depth, NPY_ARRAY_CARRAY_RO));
}

template <typename T>
std::span<const T> span_of(const Object& array) {
  auto* arr = reinterpret_cast<PyArrayObject*>(array.get());
  return {static_cast<const T*>(PyArray_DATA(arr)), static_cast<std::size_t>(PyArray_SIZE(arr))};
}

[[noreturn]] void raise_layout_shape() {
  PyErr_SetString(PyExc_ValueError,
                  "layout must be the (starts, idx, declared, present) of "
                  "pykora._layout.block_layout(values), four arrays of one length");
  throw PythonError{};
}

// The values of a raw stream.
ViewSource raw_source(PyObject* values) {
  ViewSource source;
  Object array = converted(values, NPY_DOUBLE, 1, 1);
  source.inputs.values = span_of<double>(array);
  source.owners.push_back(std::move(array));
  return source;
}

// The values, the layout's arrays and the selection of a view of blocks.
ViewSource block_source(PyObject* values, PyObject* layout, PyObject* selection) {
  ViewSource source = raw_source(values);
  Object items = Object::steal(PySequence_Fast(layout, "layout must be a tuple of four arrays"));
  if (PySequence_Fast_GET_SIZE(items.get()) != 4) {
    raise_layout_shape();
  }
  PyObject** item = PySequence_Fast_ITEMS(items.get());
  Object starts = converted(item[0], NPY_INT64, 1, 1);
  Object idx = converted(item[1], NPY_DOUBLE, 1, 1);
  Object declared = converted(item[2], NPY_INT64, 1, 1);
  // present is not read: the pairs held follow from starts and the size of
  // values, which a layout cannot contradict.
  source.inputs.starts = span_of<std::int64_t>(starts);
  source.inputs.idx = span_of<double>(idx);
  source.inputs.declared = span_of<std::int64_t>(declared);
  if (source.inputs.idx.size() != source.inputs.starts.size() ||
      source.inputs.declared.size() != source.inputs.starts.size()) {
    raise_layout_shape();
  }
  source.owners.push_back(std::move(starts));
  source.owners.push_back(std::move(idx));
  source.owners.push_back(std::move(declared));
  if (selection != Py_None) {
    Object chosen = converted(selection, NPY_INT64, 1, 1);
    source.inputs.selection = span_of<std::int64_t>(chosen);
    source.inputs.every = false;
    source.owners.push_back(std::move(chosen));
  }
  return source;
}

void check(const core::ViewError& error, const core::ViewInputs& inputs) {
  if (error.fault != core::ViewFault::kNone) {
    raise_view_error(error, inputs);
  }
}

// An int argument within [low, high], or `fallback` for None.
long long bounded_int(PyObject* obj, const char* name, long long low, long long high,
                      long long fallback) {
  if (obj == Py_None) {
    return fallback;
  }
  Object index = Object::steal(PyNumber_Index(obj));
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  throw_if_error_set();
  if (overflow != 0 || value < low || value > high) {
    PyErr_Format(PyExc_ValueError, "%s must be from %lld to %lld, not %R", name, low, high,
                 index.get());
    throw PythonError{};
  }
  return value;
}

// CHUNK_BYTES as the module holds it now.
std::size_t chunk_bytes(const Function* self) {
  Object value = global(self->globals, state().names.chunk_bytes);
  return static_cast<std::size_t>(
      bounded_int(value.get(), "CHUNK_BYTES", 1, kMaxChunkBytes, kDefaultChunkBytes));
}

int level_of(PyObject* level) {
  return static_cast<int>(bounded_int(level, "level", 0, core::kMaxLevel, 1));
}

// A CSV prefix as the UTF-8 the writers copy, and whether it is more than
// ASCII.
std::string prefix_of(PyObject* prefix, bool& utf8) {
  utf8 = false;
  if (prefix == Py_None) {
    return {};
  }
  if (!PyUnicode_Check(prefix)) {
    PyErr_Format(PyExc_TypeError, "prefix must be a str or None, not %.200s",
                 Py_TYPE(prefix)->tp_name);
    throw PythonError{};
  }
  utf8 = !PyUnicode_IS_ASCII(prefix);
  Object bytes = Object::steal(PyUnicode_AsEncodedString(prefix, "utf-8", "surrogatepass"));
  return {PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))};
}

long long range_attribute(PyObject* rows, PyObject* name) {
  Object value = Object::steal(PyObject_GetAttr(rows, name));
  const long long result = PyLong_AsLongLong(value.get());
  throw_if_error_set();
  return result;
}

// THREADS as the module holds it now.
long long threads(const Function* self) {
  Object value = global(self->globals, state().names.threads);
  return bounded_int(value.get(), "THREADS", 1, kMaxThreads, kDefaultThreads);
}

PyObject* chunks_of(const Function* self, ViewSource source,
                    std::unique_ptr<core::ViewWriter> writer, bool utf8 = false) {
  const std::size_t bytes = chunk_bytes(self);
  const bool two = threads(self) == 2;
  return new_chunks(std::move(source), std::move(writer), bytes, utf8, two).release();
}

int precision_of(PyObject* precision) {
  return static_cast<int>(
      bounded_int(precision, "precision", core::kMinPrecision, core::kMaxPrecision, 6));
}

// The source of a table: a raw stream's values when `layout` is None, the
// matrix's column sources otherwise, with every one checked.
ViewSource table_source(PyObject* values, PyObject* layout, PyObject* columns,
                        core::CellSource& cells) {
  if (layout == Py_None) {
    if (columns != Py_None) {
      PyErr_SetString(PyExc_ValueError, "a raw stream's table has no columns to choose");
      throw PythonError{};
    }
    cells = core::CellSource::kValues;
    return raw_source(values);
  }
  cells = core::CellSource::kMatrix;
  ViewSource source = block_source(values, layout, columns);
  check(core::check_sources(source.inputs), source.inputs);
  return source;
}

// The rows a range argument names.
struct RowRange {
  long long first;
  long long step;
  Py_ssize_t count;
};

RowRange row_range(PyObject* rows) {
  if (!PyObject_TypeCheck(rows, &PyRange_Type)) {
    PyErr_Format(PyExc_TypeError, "rows must be a range, not %.200s", Py_TYPE(rows)->tp_name);
    throw PythonError{};
  }
  const long long first = range_attribute(rows, state().names.start);
  const long long step = range_attribute(rows, state().names.step);
  const Py_ssize_t count = PyObject_Length(rows);
  if (count < 0) {
    throw PythonError{};
  }
  return {first, step, count};
}

// The first row and the count of a range of step 1 from 0 on.
std::pair<std::uint64_t, std::uint64_t> row_span(PyObject* rows) {
  const auto [first, step, count] = row_range(rows);
  if (first < 0 || step != 1) {
    PyErr_Format(PyExc_ValueError, "rows must be a range of step 1 from 0 on, not %R", rows);
    throw PythonError{};
  }
  return {static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(count)};
}

// An int64 array whose items are each from `low` to `high`.
Object bounded_ints(PyObject* obj, const char* name, long long low, long long high) {
  Object array = converted(obj, NPY_INT64, 1, 1);
  for (std::int64_t item : span_of<std::int64_t>(array)) {
    if (item < low || item > high) {
      PyErr_Format(PyExc_ValueError, "%s must hold integers from %lld to %lld, not %lld", name, low,
                   high, static_cast<long long>(item));
      throw PythonError{};
    }
  }
  return array;
}

// ---------------------------------------------------------------------------
// The module's functions.

PyObject* raw_csv(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = raw_source(args[0]);
  bool utf8;
  const std::string prefix = prefix_of(args[1], utf8);
  return chunks_of(self, std::move(source), core::raw_csv(prefix), utf8);
}

PyObject* raw_json(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  return chunks_of(self, raw_source(args[0]), core::raw_json());
}

PyObject* marginals_csv(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  check(core::check_blocks(source.inputs), source.inputs);
  bool utf8;
  const std::string prefix = prefix_of(args[3], utf8);
  return chunks_of(self, std::move(source), core::marginals_csv(prefix), utf8);
}

PyObject* marginals_json(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  check(core::check_blocks(source.inputs), source.inputs);
  return chunks_of(self, std::move(source), core::marginals_json(level_of(args[3])));
}

// The matrix's rows, with every block of the layout and every column source
// checked.
std::uint64_t matrix_rows(const ViewSource& source) {
  std::uint64_t rows = 0;
  check(core::matrix_rows(source.inputs, rows), source.inputs);
  check(core::check_sources(source.inputs), source.inputs);
  return rows;
}

PyObject* matrix_csv(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  const std::uint64_t rows = matrix_rows(source);
  return chunks_of(self, std::move(source), core::matrix_csv(rows));
}

PyObject* matrix_json(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  const std::uint64_t rows = matrix_rows(source);
  return chunks_of(self, std::move(source), core::matrix_json(rows, level_of(args[3])));
}

PyObject* column_values(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  const auto [first, step, count] = row_range(args[3]);
  check(core::check_sources(source.inputs), source.inputs);
  npy_intp shape[2] = {count, static_cast<npy_intp>(core::source_count(source.inputs))};
  Object cells = Object::steal(PyArray_SimpleNew(2, shape, NPY_DOUBLE));
  auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(cells.get())));
  check(core::gather_cells(source.inputs, first, step, static_cast<std::size_t>(count), out),
        source.inputs);
  return cells.release();
}

PyObject* cells(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  Object array = converted(args[0], NPY_DOUBLE, 0, 0);
  const auto precision = static_cast<int>(
      bounded_int(args[1], "precision", core::kMinPrecision, core::kMaxPrecision, 0));
  const std::span<const double> values = span_of<double>(array);
  Object texts = Object::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  char text[core::kMaxFloatText];
  for (std::size_t i = 0; i < values.size(); ++i) {
    const char* end = precision == 0
                          ? core::write_exact(text, values[i], core::kBareSpelling)
                          : core::write_rounded(text, values[i], precision, core::kBareSpelling);
    PyList_SET_ITEM(texts.get(), static_cast<Py_ssize_t>(i),
                    ascii_text(text, static_cast<std::size_t>(end - text)).release());
  }
  return texts.release();
}

PyObject* table_widths(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  core::CellSource cells;
  ViewSource source = table_source(args[0], args[1], args[2], cells);
  const auto [first, rows] = row_span(args[3]);
  const int precision = precision_of(args[4]);
  const core::ViewInputs& in = source.inputs;
  const npy_intp columns = static_cast<npy_intp>(core::table_columns(in, cells));
  Object widths = Object::steal(PyArray_ZEROS(1, &columns, NPY_INT64, 0));
  auto* out =
      static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(widths.get())));
  const std::span<std::int64_t> all(out, static_cast<std::size_t>(columns));
  const bool two = threads(self) == 2;
  // Slabs of rows of about kCellsForTwoThreads * 16 cells each, with a look
  // at the signals between two: a Ctrl-C is not kept waiting for a table of
  // millions of rows, or of columns.
  const auto width = static_cast<std::uint64_t>(std::max<npy_intp>(columns, 1));
  const std::uint64_t slab = std::max<std::uint64_t>(1, 16 * kCellsForTwoThreads / width);
  std::vector<std::int64_t> half(two ? all.size() : 0);
  for (std::uint64_t done = 0; done < rows; done += slab) {
    const std::uint64_t count = std::min(slab, rows - done);
    const std::uint64_t at = first + done;
    const core::ViewError error = without_gil([&] {
      if (!two || count * width < kCellsForTwoThreads) {
        return core::table_widths(in, cells, at, count, 0, precision, all);
      }
      // Half the slab on a second thread, the other half on this one: its
      // first rows, or of a single row, its first columns.
      const std::uint64_t rows_first = count > 1 ? count / 2 : count;
      const std::size_t columns_first = count > 1 ? all.size() : all.size() / 2;
      const std::span<std::int64_t> ours = count > 1 ? all : all.subspan(columns_first);
      core::ViewError first_error;
      std::thread helper([&] {
        first_error = core::table_widths(in, cells, at, rows_first, 0, precision,
                                         std::span(half).first(columns_first));
      });
      const core::ViewError error =
          count > 1 ? core::table_widths(in, cells, at + rows_first, count - rows_first, 0,
                                         precision, ours)
                    : core::table_widths(in, cells, at, count, columns_first, precision, ours);
      helper.join();
      for (std::size_t j = 0; j < columns_first; ++j) {
        all[j] = std::max(all[j], half[j]);
      }
      return first_error.fault != core::ViewFault::kNone ? first_error : error;
    });
    check(error, in);
    checked(PyErr_CheckSignals());
  }
  return widths.release();
}

PyObject* table_rows(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  core::CellSource cells;
  ViewSource source = table_source(args[0], args[1], args[2], cells);
  const auto [first, rows] = row_span(args[3]);
  core::TableShape shape;
  shape.precision = precision_of(args[4]);
  const std::size_t columns = core::table_columns(source.inputs, cells);
  Object widths = bounded_ints(args[5], "widths", 0, core::kMaxWidth);
  const auto given = span_of<std::int64_t>(widths);
  if (given.size() != columns) {
    PyErr_Format(PyExc_ValueError,
                 "widths must hold one width for each of the %zu columns, not %zu", columns,
                 given.size());
    throw PythonError{};
  }
  shape.widths.assign(given.begin(), given.end());
  shape.label_width = bounded_int(args[6], "label_width", 0, core::kMaxWidth, 0);
  if (args[7] != Py_None) {
    Object gaps = bounded_ints(args[7], "gaps", 0, static_cast<long long>(columns));
    const auto at = span_of<std::int64_t>(gaps);
    shape.gaps.assign(at.begin(), at.end());
    std::sort(shape.gaps.begin(), shape.gaps.end());
    shape.gaps.erase(std::unique(shape.gaps.begin(), shape.gaps.end()), shape.gaps.end());
  }
  source.table_shape = std::make_unique<core::TableShape>(std::move(shape));
  auto writer = core::table_rows(cells, first, rows, *source.table_shape);
  return chunks_of(self, std::move(source), std::move(writer));
}

PyObject* marginals_table(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  ViewSource source = block_source(args[0], args[1], args[2]);
  check(core::check_blocks(source.inputs), source.inputs);
  return chunks_of(self, std::move(source), core::marginals_table(precision_of(args[3])));
}

// The matrix's column count and the columns asked for, each one of its columns.
std::pair<std::size_t, Object> matrix_columns(PyObject* n_blocks, PyObject* columns) {
  const auto blocks =
      static_cast<std::size_t>(bounded_int(n_blocks, "n_blocks", 0, core::kMaxDeclared, 0));
  const auto count = static_cast<long long>(core::matrix_column_count(blocks));
  return {blocks, bounded_ints(columns, "columns", 0, count - 1)};
}

PyObject* column_names(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  auto [blocks, columns] = matrix_columns(args[0], args[1]);
  const auto positions = span_of<std::int64_t>(columns);
  Object names = Object::steal(PyList_New(static_cast<Py_ssize_t>(positions.size())));
  char text[core::kMaxColumnName];
  for (std::size_t j = 0; j < positions.size(); ++j) {
    const char* end =
        core::write_column_name(text, blocks, static_cast<std::uint64_t>(positions[j]));
    PyList_SET_ITEM(names.get(), static_cast<Py_ssize_t>(j),
                    ascii_text(text, static_cast<std::size_t>(end - text)).release());
  }
  return names.release();
}

PyObject* aligned_column_names(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  auto [blocks, columns] = matrix_columns(args[0], args[1]);
  Object widths = bounded_ints(args[2], "widths", 0, core::kMaxWidth);
  const auto positions = span_of<std::int64_t>(columns);
  const auto given = span_of<std::int64_t>(widths);
  if (given.size() != positions.size()) {
    PyErr_Format(PyExc_ValueError,
                 "widths must hold one width for each of the %zu columns, not %zu",
                 positions.size(), given.size());
    throw PythonError{};
  }
  const std::string text = core::aligned_column_names(blocks, positions, given);
  return ascii_text(text.data(), text.size()).release();
}

PyObject* block_names(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  Object blocks = converted(args[0], NPY_INT64, 1, 1);
  Object idx = converted(args[1], NPY_DOUBLE, 1, 1);
  const auto numbers = span_of<std::int64_t>(blocks);
  const auto values = span_of<double>(idx);
  if (numbers.size() != values.size()) {
    PyErr_Format(PyExc_ValueError, "idx must hold one value for each of the %zu blocks, not %zu",
                 numbers.size(), values.size());
    throw PythonError{};
  }
  const std::string text = core::block_names(numbers, values);
  return ascii_text(text.data(), text.size()).release();
}

// ---------------------------------------------------------------------------
// The table of functions.

constexpr const char* kRawCsvParams[] = {"values", "prefix"};
constexpr const char* kRawJsonParams[] = {"values"};
constexpr const char* kMarginalsCsvParams[] = {"values", "layout", "blocks", "prefix"};
constexpr const char* kMarginalsJsonParams[] = {"values", "layout", "blocks", "level"};
constexpr const char* kMatrixCsvParams[] = {"values", "layout", "columns"};
constexpr const char* kMatrixJsonParams[] = {"values", "layout", "columns", "level"};
constexpr const char* kColumnValuesParams[] = {"values", "layout", "columns", "rows"};
constexpr const char* kCellsParams[] = {"values", "precision"};
constexpr const char* kTableWidthsParams[] = {"values", "layout", "columns", "rows", "precision"};
constexpr const char* kTableRowsParams[] = {"values",    "layout", "columns",     "rows",
                                            "precision", "widths", "label_width", "gaps"};
constexpr const char* kMarginalsTableParams[] = {"values", "layout", "blocks", "precision"};
constexpr const char* kColumnNamesParams[] = {"n_blocks", "columns"};
constexpr const char* kBlockNamesParams[] = {"blocks", "idx"};
constexpr const char* kAlignedColumnNamesParams[] = {"n_blocks", "columns", "widths"};

constexpr const char kLayoutType[] =
    "tuple[NDArray[int64], NDArray[float64], NDArray[int64], NDArray[int64]]";
constexpr const char kTableLayoutType[] =
    "tuple[NDArray[int64], NDArray[float64], NDArray[int64], NDArray[int64]] | None";
constexpr Annotation kRawCsvAnnotations[] = {
    {"values", "ArrayLike"}, {"prefix", "str | None"}, {"return", "Iterator[str]"}};
constexpr Annotation kRawJsonAnnotations[] = {{"values", "ArrayLike"}, {"return", "Iterator[str]"}};
constexpr Annotation kMarginalsCsvAnnotations[] = {{"values", "ArrayLike"},
                                                   {"layout", kLayoutType},
                                                   {"blocks", "ArrayLike | None"},
                                                   {"prefix", "str | None"},
                                                   {"return", "Iterator[str]"}};
constexpr Annotation kMarginalsJsonAnnotations[] = {{"values", "ArrayLike"},
                                                    {"layout", kLayoutType},
                                                    {"blocks", "ArrayLike | None"},
                                                    {"level", "int | None"},
                                                    {"return", "Iterator[str]"}};
constexpr Annotation kMatrixCsvAnnotations[] = {{"values", "ArrayLike"},
                                                {"layout", kLayoutType},
                                                {"columns", "ArrayLike | None"},
                                                {"return", "Iterator[str]"}};
constexpr Annotation kMatrixJsonAnnotations[] = {{"values", "ArrayLike"},
                                                 {"layout", kLayoutType},
                                                 {"columns", "ArrayLike | None"},
                                                 {"level", "int | None"},
                                                 {"return", "Iterator[str]"}};
constexpr Annotation kColumnValuesAnnotations[] = {{"values", "ArrayLike"},
                                                   {"layout", kLayoutType},
                                                   {"columns", "ArrayLike | None"},
                                                   {"rows", "range"},
                                                   {"return", "NDArray[float64]"}};
constexpr Annotation kCellsAnnotations[] = {
    {"values", "ArrayLike"}, {"precision", "int | None"}, {"return", "list[str]"}};
constexpr Annotation kTableWidthsAnnotations[] = {
    {"values", "ArrayLike"}, {"layout", kTableLayoutType}, {"columns", "ArrayLike | None"},
    {"rows", "range"},       {"precision", "int | None"},  {"return", "NDArray[int64]"}};
constexpr Annotation kTableRowsAnnotations[] = {
    {"values", "ArrayLike"}, {"layout", kTableLayoutType}, {"columns", "ArrayLike | None"},
    {"rows", "range"},       {"precision", "int | None"},  {"widths", "ArrayLike"},
    {"label_width", "int"},  {"gaps", "ArrayLike | None"}, {"return", "Iterator[str]"}};
constexpr Annotation kBlockNamesAnnotations[] = {
    {"blocks", "ArrayLike"}, {"idx", "ArrayLike"}, {"return", "str"}};
constexpr Annotation kColumnNamesAnnotations[] = {
    {"n_blocks", "int"}, {"columns", "ArrayLike"}, {"return", "list[str]"}};
constexpr Annotation kAlignedColumnNamesAnnotations[] = {
    {"n_blocks", "int"}, {"columns", "ArrayLike"}, {"widths", "ArrayLike"}, {"return", "str"}};
constexpr Annotation kMarginalsTableAnnotations[] = {{"values", "ArrayLike"},
                                                     {"layout", kLayoutType},
                                                     {"blocks", "ArrayLike | None"},
                                                     {"precision", "int | None"},
                                                     {"return", "Iterator[str]"}};

constexpr FunctionDef kFunctions[] = {
    {.name = "raw_csv",
     .doc = kRawCsvDoc,
     .params = kRawCsvParams,
     .required = 1,
     .annotations = kRawCsvAnnotations,
     .impl = raw_csv},
    {.name = "raw_json",
     .doc = kRawJsonDoc,
     .params = kRawJsonParams,
     .required = 1,
     .annotations = kRawJsonAnnotations,
     .impl = raw_json},
    {.name = "marginals_csv",
     .doc = kMarginalsCsvDoc,
     .params = kMarginalsCsvParams,
     .required = 2,
     .annotations = kMarginalsCsvAnnotations,
     .impl = marginals_csv},
    {.name = "marginals_json",
     .doc = kMarginalsJsonDoc,
     .params = kMarginalsJsonParams,
     .required = 2,
     .annotations = kMarginalsJsonAnnotations,
     .impl = marginals_json},
    {.name = "matrix_csv",
     .doc = kMatrixCsvDoc,
     .params = kMatrixCsvParams,
     .required = 2,
     .annotations = kMatrixCsvAnnotations,
     .impl = matrix_csv},
    {.name = "matrix_json",
     .doc = kMatrixJsonDoc,
     .params = kMatrixJsonParams,
     .required = 2,
     .annotations = kMatrixJsonAnnotations,
     .impl = matrix_json},
    {.name = "column_values",
     .doc = kColumnValuesDoc,
     .params = kColumnValuesParams,
     .required = 4,
     .annotations = kColumnValuesAnnotations,
     .impl = column_values},
    {.name = "cells",
     .doc = kCellsDoc,
     .params = kCellsParams,
     .required = 1,
     .annotations = kCellsAnnotations,
     .impl = cells},
    {.name = "table_widths",
     .doc = kTableWidthsDoc,
     .params = kTableWidthsParams,
     .required = 4,
     .annotations = kTableWidthsAnnotations,
     .impl = table_widths},
    {.name = "table_rows",
     .doc = kTableRowsDoc,
     .params = kTableRowsParams,
     .required = 7,
     .annotations = kTableRowsAnnotations,
     .impl = table_rows},
    {.name = "marginals_table",
     .doc = kMarginalsTableDoc,
     .params = kMarginalsTableParams,
     .required = 2,
     .annotations = kMarginalsTableAnnotations,
     .impl = marginals_table},
    {.name = "column_names",
     .doc = kColumnNamesDoc,
     .params = kColumnNamesParams,
     .required = 2,
     .annotations = kColumnNamesAnnotations,
     .impl = column_names},
    {.name = "aligned_column_names",
     .doc = kAlignedColumnNamesDoc,
     .params = kAlignedColumnNamesParams,
     .required = 3,
     .annotations = kAlignedColumnNamesAnnotations,
     .impl = aligned_column_names},
    {.name = "block_names",
     .doc = kBlockNamesDoc,
     .params = kBlockNamesParams,
     .required = 2,
     .annotations = kBlockNamesAnnotations,
     .impl = block_names},
};

void module_body(PyObject* module) {
  set_docstring(module, kModuleDoc);
  checked(PyArray_ImportNumPyAPI());
  State& kept = state();
  intern_names(kept.names, kNames);
  if (kept.chunks_type == nullptr) {
    kept.chunks_type = new_chunks_type().release();  // kept for the life of the process
  }
  checked(PyModule_AddIntConstant(module, "CHUNK_BYTES", kDefaultChunkBytes));
  checked(PyModule_AddIntConstant(module, "THREADS", kDefaultThreads));
  define_functions<kFunctions>(module);
}

PyModuleDef module_def = module_definition<state, module_body>("pykora._text");

}  // namespace
}  // namespace pykora::texts

PyMODINIT_FUNC PyInit__text() { return PyModuleDef_Init(&pykora::texts::module_def); }
