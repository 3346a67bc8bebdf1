// The native route of _split_vector_blocks, kora_interpret_vector and
// kora_interpret_vector_list: the vector is converted once, scanned with the
// C++ block scanner and the result built directly, while the guards
// (guards.hpp) show that nothing a caller can observe differs from the
// module-level route (vectors_module_level.cpp). Converting the vector can
// run the caller's code, so the guard is asked again after it; a call
// whose guard fails there goes on along the module-level route.
#include <cstring>
#include <span>
#include <vector>

#include "binary/functions.hpp"
#include "binary/guards.hpp"
#include "binary/vectors.hpp"
#include "common/count_errors.hpp"
#include "core/vector_blocks.hpp"

namespace pykora::binary {
namespace {

// A truncated block declaring more rows than this is built through NumPy's
// own calls even on the native route, so that a count too large for memory
// fails exactly as NumPy fails.
constexpr std::uint64_t kNativePaddingRows = std::uint64_t{1} << 24;

// Whether np.asarray(vec, dtype=np.float64) hands `vec` back as it is. Only
// an array with NumPy's own float64 dtype is; a float64 dtype carrying
// metadata is replaced by the plain one.
bool is_plain_float64_array(PyObject* vec) {
  return PyArray_CheckExact(vec) &&
         PyArray_DESCR(reinterpret_cast<PyArrayObject*>(vec)) == state().originals.float64_descr;
}

// Up to this many items, a list or tuple is looked through before it is
// converted: beyond it, the look would cost more than checking the guards
// again afterwards.
constexpr Py_ssize_t kLookThroughItems = 64;

// Whether converting `vec` with np.asarray(vec, dtype=np.float64) surely runs
// nothing of the caller's: a plain float64 array is handed back as it is, and
// NumPy reads a short list or tuple of exact floats and ints without calling
// into Python. Anything else may run __array__, __len__, __float__ and the
// like.
bool converts_without_callers_code(PyObject* vec) {
  if (is_plain_float64_array(vec)) {
    return true;
  }
  if (!PyList_CheckExact(vec) && !PyTuple_CheckExact(vec)) {
    return false;
  }
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(vec);
  if (size > kLookThroughItems) {
    return false;
  }
  PyObject** items = PySequence_Fast_ITEMS(vec);
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (!PyFloat_CheckExact(items[i]) && !PyLong_CheckExact(items[i])) {
      return false;
    }
  }
  return true;
}

// `np.asarray(vec, dtype=np.float64).ravel()`, with the original NumPy.
Object flat_float64(PyObject* vec) {
  Object arr;
  if (is_plain_float64_array(vec)) {
    arr = Object::borrow(vec);
  } else {
    const State& s = state();
    arr = Object::borrow(s.originals.numpy_attr[kAsarray])
              .call_with_keyword(s.names.dtype, s.originals.numpy_attr[kFloat64], vec);
    if (!PyArray_CheckExact(arr.get())) {
      PyErr_SetString(PyExc_TypeError, "numpy.asarray returned a non-array");
      throw PythonError{};
    }
  }
  auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
  if (PyArray_NDIM(a) == 1 && PyArray_IS_C_CONTIGUOUS(a)) {
    // Views taken on the raveled array would resolve to this array's data
    // owner all the same.
    return arr;
  }
  return Object::steal(PyArray_Ravel(a, NPY_CORDER));
}

// A vector on the native route: converted as the splitter converts it, its
// values readable as doubles (copied when the array's data is not aligned
// for double), and scanned into blocks.
struct ScannedVector {
  Object flat;
  PyArrayObject* arr = nullptr;
  std::vector<double> aligned;
  std::span<const double> values;
  core::Scan scan;

  // np.asarray(vec, dtype=np.float64).ravel() with the original NumPy.
  void convert(PyObject* vec) {
    flat = flat_float64(vec);
    arr = reinterpret_cast<PyArrayObject*>(flat.get());
    const auto count = static_cast<size_t>(PyArray_SIZE(arr));
    if (PyArray_ISALIGNED(arr)) {
      values = {reinterpret_cast<const double*>(PyArray_DATA(arr)), count};
    } else {
      aligned.resize(count);
      std::memcpy(aligned.data(), PyArray_DATA(arr), count * sizeof(double));
      values = aligned;
    }
  }

  // The splitter's loop over the converted values; throws what its
  // int(round(...)) raises for a NaN or infinite count. A signalling NaN is
  // left to the module-level route (see needs_module_level).
  void scan_values() {
    scan = core::scan_blocks(values);
    if (scan.status != core::ScanStatus::kSignallingNanCount) {
      raise_for_count(scan.status);
    }
  }

  // Rounding a signalling NaN count goes through NumPy's floating-point
  // error handling (a warning, or an error under np.errstate), which only
  // NumPy's own round() reproduces.
  bool needs_module_level() const { return scan.status == core::ScanStatus::kSignallingNanCount; }

  const Object& array() const { return flat; }
};

bool has_huge_padding(const core::Scan& scan) {
  return !scan.blocks.empty() && scan.blocks.back().truncated() &&
         scan.blocks.back().rows > kNativePaddingRows;
}

Object new_float64(npy_intp rows, npy_intp cols) {
  npy_intp dims[] = {rows, cols};
  return Object::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
}

Object zeros_float64(npy_intp rows, npy_intp cols) {
  npy_intp dims[] = {rows, cols};
  return Object::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
}

double* data_of(const Object& array) {
  return static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// A new (rows, 2) array holding block `b`'s pairs.
Object copy_of_pairs(const ScannedVector& v, const core::Block& b) {
  Object out = new_float64(static_cast<npy_intp>(b.rows), 2);
  core::copy_pairs(v.values, b, data_of(out), state().originals.nan);
  return out;
}

// arr[i : i + 2n].reshape(n, 2) for a complete block: a view on `arr`.
Object view_of_pairs(const ScannedVector& v, const core::Block& b) {
  PyArray_Descr* descr = PyArray_DESCR(v.arr);
  Py_INCREF(descr);
  npy_intp dims[] = {static_cast<npy_intp>(b.rows), 2};
  const int writeable = PyArray_FLAGS(v.arr) & NPY_ARRAY_WRITEABLE;
  char* data = PyArray_BYTES(v.arr) + b.data() * sizeof(double);
  Object view = Object::steal(
      PyArray_NewFromDescr(&PyArray_Type, descr, 2, dims, nullptr, data, writeable, nullptr));
  checked(PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(view.get()),
                                Py_NewRef(reinterpret_cast<PyObject*>(v.arr))));
  return view;
}

// The splitter's list of (idx, pairs) blocks from a finished scan.
Object block_list(PyObject* globals, const ScannedVector& v) {
  const auto n_blocks = static_cast<Py_ssize_t>(v.scan.blocks.size());
  Object blocks = Object::steal(PyList_New(n_blocks));
  for (Py_ssize_t k = 0; k < n_blocks; ++k) {
    const core::Block& b = v.scan.blocks[static_cast<size_t>(k)];
    Object idx =
        Object::steal(PyArray_Scalar(PyArray_BYTES(v.arr) + b.start * sizeof(double),
                                     PyArray_DESCR(v.arr), reinterpret_cast<PyObject*>(v.arr)));
    Object pairs;
    if (b.rows == 0) {
      pairs = zeros_float64(0, 2);
    } else if (!b.truncated()) {
      pairs = view_of_pairs(v, b);
    } else {
      // The one short block: padded with NaN through NumPy's own calls, so
      // that a count too large for memory fails as NumPy fails.
      Object i = integer(static_cast<Py_ssize_t>(b.data()));
      Object n = Object::steal(PyLong_FromDouble(core::round_half_even(v.values[b.start + 1])));
      Object count = integer(static_cast<Py_ssize_t>(v.values.size()));
      pairs = pairs_module_level(globals, v.array(), i, n, count);
    }
    PyList_SET_ITEM(blocks.get(), k, tuple(idx, pairs).release());
  }
  return blocks;
}

Object dense_native(const ScannedVector& v) {
  const std::span<const core::Block> blocks = v.scan.blocks;
  if (blocks.empty()) {
    return new_float64(0, 0);
  }
  if (blocks.size() == 1) {
    return copy_of_pairs(v, blocks.front());
  }
  const auto rows = static_cast<npy_intp>(core::max_rows(blocks));
  const auto cols = static_cast<npy_intp>(1 + 2 * blocks.size());
  if (rows == 0) {
    return zeros_float64(0, cols);
  }
  Object out = new_float64(rows, cols);
  core::fill_dense(v.values, blocks, static_cast<size_t>(rows), data_of(out),
                   state().originals.nan);
  return out;
}

Object list_native(const ScannedVector& v) {
  if (v.scan.blocks.empty()) {
    return Object::borrow(Py_None);
  }
  Object out = Object::steal(PyList_New(static_cast<Py_ssize_t>(v.scan.blocks.size())));
  Py_ssize_t k = 0;
  for (const core::Block& b : v.scan.blocks) {
    PyList_SET_ITEM(out.get(), k++, copy_of_pairs(v, b).release());
  }
  return out;
}

// How a vector goes on once the native route has converted it.
enum class Next {
  kNative,       // scanned; the native result stands for the module-level one
  kModuleLevel,  // the splitter's loop runs as module-level code over the array
};

// np.asarray(vec, dtype=np.float64).ravel(), then the scan. Converting may
// run the caller's code (__array__, __len__, __float__) and rebind what the
// loop uses; a signalling-NaN count needs NumPy's own rounding. Either way
// the loop then runs as module-level code over the converted array. The
// conversion is the splitter's first step, so from there on the splitter's
// own guard decides, even when a decoder called it: the decoder's call of
// the splitter has happened.
Next convert_and_scan(PyObject* globals, PyObject* vec, ScannedVector& v) {
  const bool may_run_callers_code = !converts_without_callers_code(vec);
  v.convert(vec);
  if (may_run_callers_code && !route_open(Route::kSplitNative, {globals})) {
    return Next::kModuleLevel;
  }
  v.scan_values();
  return v.needs_module_level() ? Next::kModuleLevel : Next::kNative;
}

// kora_interpret_vector and kora_interpret_vector_list: `native` over the
// scanned vector while the guard holds, else the module-level route from
// where it stopped holding.
template <typename Native, typename ModuleLevel>
PyObject* decode(Function* self, PyObject* vec, Native native, ModuleLevel module_level) {
  PyObject* globals = self->globals;
  // if vec is None: return None
  if (vec == Py_None) {
    Py_RETURN_NONE;
  }
  if (!route_open(Route::kDecodeNative, {globals})) {
    Object blocks = call_splitter(globals, vec);
    return module_level(globals, blocks).release();
  }
  ScannedVector v;
  if (convert_and_scan(globals, vec, v) == Next::kModuleLevel) {
    Object blocks = split_loop_module_level(globals, v.array());
    return module_level(globals, blocks).release();
  }
  if (has_huge_padding(v.scan)) {
    return module_level(globals, block_list(globals, v)).release();
  }
  return native(v).release();
}

}  // namespace

PyObject* split_vector_blocks(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  if (!route_open(Route::kSplitNative, {globals})) {
    return split_module_level(globals, args[0]).release();
  }
  ScannedVector v;
  if (convert_and_scan(globals, args[0], v) == Next::kModuleLevel) {
    return split_loop_module_level(globals, v.array()).release();
  }
  return block_list(globals, v).release();
}

PyObject* interpret_vector(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  return decode(self, args[0], dense_native, dense_module_level);
}

PyObject* interpret_vector_list(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  return decode(self, args[0], list_native, list_module_level);
}

}  // namespace pykora::binary
