// pykora._layout: where the blocks of a flattened vector lie, as arrays, and
// what they hold, as counts.
//
// The command line reads this layout to know which slices of a file hold
// the blocks it is about to show, and hands only those slices to the
// decoders of pykora.binary; `info` reads the summary. The blocks are found
// by the decoders' own scanner, so the two cannot disagree about where a
// block starts or how many pairs it holds.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <numpy/arrayobject.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "common/count_errors.hpp"
#include "common/function.hpp"
#include "common/module.hpp"
#include "common/object.hpp"
#include "common/state.hpp"
#include "core/vector_blocks.hpp"
#include "core/vector_summary.hpp"

namespace pykora::layout {
namespace {

constexpr const char kModuleDoc[] =
    "Where the blocks of a flattened [idx, n, x1, y1, ...] vector lie, and what they hold.\n"
    "\n"
    "Private to pykora: the command line uses it to decode only the blocks it\n"
    "shows, and to describe a file without decoding it. The blocks are found by\n"
    "the same scanner as pykora.binary's decoders.\n";

constexpr const char kBlockLayoutDoc[] =
    "The layout of a flattened vector's blocks, as four arrays of one entry per block.\n"
    "\n"
    "    ``vec`` is converted to float64 and read in C order, as the decoders read it.\n"
    "    Returns ``(starts, idx, declared, present)``:\n"
    "\n"
    "    * ``starts`` (int64): the position of each block's idx in the vector;\n"
    "    * ``idx`` (float64): each block's idx, bit for bit;\n"
    "    * ``declared`` (int64): the pairs each block declares, its count rounded half\n"
    "      to even, 0 for a count <= 0, and 2**62 for any count beyond that;\n"
    "    * ``present`` (int64): the pairs of each block whose x and y are both in the\n"
    "      vector. Only a last block cut short by the end of the vector has fewer\n"
    "      than it declares; the decoders pad the rest with NaN.\n"
    "\n"
    "    A count that is NaN raises ValueError and an infinite one OverflowError,\n"
    "    with the decoders' messages.\n"
    "    ";

constexpr const char kBlockSummaryDoc[] =
    "What a flattened vector's blocks hold, counted in one scan, as a dict.\n"
    "\n"
    "    ``vec`` is converted as ``block_layout`` converts it. Nothing is decoded:\n"
    "    a block's NaN padding is counted, never made. The keys:\n"
    "\n"
    "    * ``complete``: whether every count could be read. If not, the scan\n"
    "      stopped at the block whose count is NaN or infinite, which starts at\n"
    "      ``end``, and the block figures cover only the blocks before it;\n"
    "    * ``end``: the position after the last block; a complete scan leaves at\n"
    "      most one value after it, which no block holds;\n"
    "    * ``blocks``, ``empty_blocks`` (those that declare no pairs), and\n"
    "      ``last_start``, the position of the last block's idx (None: no block);\n"
    "    * ``pairs``: the pairs whose x and y are both in the vector;\n"
    "      ``padded_pairs``: those declared beyond them, which the decoders pad;\n"
    "    * ``least_pairs``, ``most_pairs``: the fewest and the most pairs a block\n"
    "      declares, as ``block_layout`` counts them (at most 2**62);\n"
    "    * ``x``, ``y``: ``(least, most)`` of the finite x and y values in the\n"
    "      vector (a last x without its y too), or None where there are none;\n"
    "    * ``idx_integral``, ``idx_increasing``: whether every idx is a finite\n"
    "      whole number, and whether each is above the one before it;\n"
    "    * ``nan_values``, ``inf_values``: over every value of the vector.\n"
    "    ";

Object new_column(npy_intp size, int type) {
  return Object::steal(PyArray_SimpleNew(1, &size, type));
}

template <typename T>
T* data_of(const Object& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// Casts whatever the decoders' np.asarray(vec, dtype=np.float64) casts (object,
// complex, long double, text), with NumPy's own errors and warnings.
Object as_float64(PyObject* vec) {
  return Object::steal(
      PyArray_FROMANY(vec, NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO | NPY_ARRAY_FORCECAST));
}

std::span<const double> values_of(const Object& converted) {
  auto* arr = reinterpret_cast<PyArrayObject*>(converted.get());
  return {static_cast<const double*>(PyArray_DATA(arr)),
          static_cast<std::size_t>(PyArray_SIZE(arr))};
}

PyObject* block_layout(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  Object converted = as_float64(args[0]);
  const std::span<const double> values = values_of(converted);

  // Counted first, so that each array is allocated once at its final size
  // and no list of blocks is held next to them.
  std::size_t count = 0;
  raise_for_count(core::for_each_block(values, [&count](const core::Block&) { ++count; }));
  const auto size = static_cast<npy_intp>(count);
  Object starts = new_column(size, NPY_INT64);
  Object idx = new_column(size, NPY_DOUBLE);
  Object declared = new_column(size, NPY_INT64);
  Object present = new_column(size, NPY_INT64);
  auto* start_at = data_of<std::int64_t>(starts);
  auto* idx_at = data_of<double>(idx);
  auto* declared_at = data_of<std::int64_t>(declared);
  auto* present_at = data_of<std::int64_t>(present);
  // Nothing runs between the two scans (the values belong to `converted`
  // and the interpreter lock is held), so both see the same blocks.
  std::size_t k = 0;
  core::for_each_block(values, [&](const core::Block& b) {
    start_at[k] = static_cast<std::int64_t>(b.start);
    std::memcpy(idx_at + k, values.data() + b.start, sizeof(double));  // NaN payloads too
    declared_at[k] = static_cast<std::int64_t>(b.rows);
    present_at[k] = static_cast<std::int64_t>(b.present / 2);
    ++k;
  });
  return tuple(starts, idx, declared, present).release();
}

Object count(std::uint64_t n) { return Object::steal(PyLong_FromUnsignedLongLong(n)); }

Object flag(bool value) { return Object::borrow(value ? Py_True : Py_False); }

Object range_of(const core::FiniteRange& range) {
  if (range.empty()) {
    return Object::borrow(Py_None);
  }
  return tuple(Object::steal(PyFloat_FromDouble(range.least)),
               Object::steal(PyFloat_FromDouble(range.most)));
}

PyObject* block_summary(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  Object converted = as_float64(args[0]);
  const core::VectorSummary summary = core::summarise_vector(values_of(converted));
  // Read as Python's own types, so that the command line writes them as it
  // writes every other number: exact, and None where there is nothing.
  const std::pair<const char*, Object> items[] = {
      {"complete", flag(summary.complete)},
      {"end", count(summary.end)},
      {"blocks", count(summary.blocks)},
      {"empty_blocks", count(summary.empty_blocks)},
      {"last_start", summary.blocks != 0 ? count(summary.last_start) : Object::borrow(Py_None)},
      {"pairs", count(summary.pairs)},
      {"padded_pairs", count(summary.padded_pairs)},
      {"least_pairs", count(summary.least_pairs)},
      {"most_pairs", count(summary.most_pairs)},
      {"x", range_of(summary.x)},
      {"y", range_of(summary.y)},
      {"idx_integral", flag(summary.idx_integral)},
      {"idx_increasing", flag(summary.idx_increasing)},
      {"nan_values", count(summary.nan_values)},
      {"inf_values", count(summary.inf_values)},
  };
  Object result = Object::steal(PyDict_New());
  for (const auto& [key, value] : items) {
    checked(PyDict_SetItemString(result.get(), key, value.get()));
  }
  return result.release();
}

constexpr const char* kVecParams[] = {"vec"};
constexpr Annotation kBlockLayoutAnnotations[] = {
    {"vec", "ArrayLike"},
    {"return", "tuple[NDArray[int64], NDArray[float64], NDArray[int64], NDArray[int64]]"}};

constexpr Annotation kBlockSummaryAnnotations[] = {{"vec", "ArrayLike"},
                                                   {"return", "BlockSummary"}};

constexpr FunctionDef kFunctions[] = {
    {.name = "block_layout",
     .doc = kBlockLayoutDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kBlockLayoutAnnotations,
     .impl = block_layout},
    {.name = "block_summary",
     .doc = kBlockSummaryDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kBlockSummaryAnnotations,
     .impl = block_summary},
};

void module_body(PyObject* module) {
  set_docstring(module, kModuleDoc);
  checked(PyArray_ImportNumPyAPI());
  define_functions<kFunctions>(module);
}

// The module keeps nothing beyond what every module keeps.
ModuleState& state() {
  static constinit ModuleState instance;
  return instance;
}

PyModuleDef module_def = module_definition<state, module_body>("pykora._layout");

}  // namespace
}  // namespace pykora::layout

PyMODINIT_FUNC PyInit__layout() { return PyModuleDef_Init(&pykora::layout::module_def); }
