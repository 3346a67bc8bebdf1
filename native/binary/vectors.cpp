// _split_vector_blocks, kora_interpret_vector and kora_interpret_vector_list.
//
// Each function has two routes. The native route scans the vector once with
// the C++ block scanner and builds its result directly; it is taken while
// the module still sees the NumPy, builtins and splitter it was created with,
// because then nothing a caller can observe differs. Otherwise the function
// runs its module-level code step by step through whatever is bound now, so
// a rebound `np`, `_split_vector_blocks` or builtin is used at once.
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "binary/functions.hpp"
#include "binary/state.hpp"
#include "common/calls.hpp"
#include "core/vector_blocks.hpp"

namespace pykora::binary {
namespace {

// A truncated block declaring more rows than this is built through NumPy's
// own calls even on the native route, so that a count too large for memory
// fails exactly as NumPy fails.
constexpr std::uint64_t kNativePaddingRows = std::uint64_t{1} << 24;

// ---------------------------------------------------------------------------
// Small steps of the module-level code

Ref py_int(Py_ssize_t value) { return Ref::steal(PyLong_FromSsize_t(value)); }

Ref item(PyObject* obj, PyObject* key) { return Ref::steal(PyObject_GetItem(obj, key)); }

Ref item_at(PyObject* obj, Py_ssize_t index) {
  Ref key = py_int(index);
  return key ? item(obj, key.get()) : Ref{};
}

// `np.<attr>` for the `np` bound now.
Ref np_attr(PyObject* globals, int attr) {
  Ref np = load_global(globals, names.np);
  return np ? getattr(np.get(), names.numpy_attr[attr]) : Ref{};
}

// `np.<function>(*args, dtype=np.float64)`, evaluated in source order.
template <typename... Args>
Ref np_call_float64(PyObject* globals, int function, Args... args) {
  Ref callable = np_attr(globals, function);
  if (!callable) {
    return {};
  }
  Ref float64 = np_attr(globals, kFloat64);
  if (!float64) {
    return {};
  }
  return call_with_keyword(callable.get(), names.dtype, float64.get(), args...);
}

// (a, b) = obj, with the interpreter's messages for a wrong length.
bool unpack_pair(PyObject* obj, Ref& first, Ref& second) {
  if (PyTuple_CheckExact(obj) && PyTuple_GET_SIZE(obj) == 2) {
    first = Ref::borrow(PyTuple_GET_ITEM(obj, 0));
    second = Ref::borrow(PyTuple_GET_ITEM(obj, 1));
    return true;
  }
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(obj)->tp_iter == nullptr &&
        !PySequence_Check(obj)) {
      PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                   Py_TYPE(obj)->tp_name);
    }
    return false;
  }
  Ref* slots[] = {&first, &second};
  for (Py_ssize_t got = 0; got < 2; ++got) {
    *slots[got] = Ref::steal(PyIter_Next(it.get()));
    if (!*slots[got]) {
      if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", got);
      }
      return false;
    }
  }
  Ref extra = Ref::steal(PyIter_Next(it.get()));
  if (extra) {
    PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    return false;
  }
  return !PyErr_Occurred();
}

// The key of obj[:stop, column]; a null `stop` gives obj[:, column].
Ref column_key(PyObject* stop, PyObject* column) {
  Ref slice = Ref::steal(PySlice_New(nullptr, stop, nullptr));
  return slice ? Ref::steal(PyTuple_Pack(2, slice.get(), column)) : Ref{};
}

Ref column_key_at(PyObject* stop, Py_ssize_t column) {
  Ref col = py_int(column);
  return col ? column_key(stop, col.get()) : Ref{};
}

// ---------------------------------------------------------------------------
// The module-level code, step by step

// From `needed = 2 * n` to `chunk.reshape(n, 2)` for a block with n > 0
// whose pairs start at `i`; sets `next` to where the following block starts.
Ref pairs_step_by_step(PyObject* globals, PyObject* arr, PyObject* i, PyObject* n, PyObject* count,
                       Ref& next) {
  Ref two = py_int(2);
  Ref needed = two ? Ref::steal(PyNumber_Multiply(two.get(), n)) : Ref{};
  Ref stop = needed ? Ref::steal(PyNumber_Add(i, needed.get())) : Ref{};
  Ref bounds = stop ? Ref::steal(PySlice_New(i, stop.get(), nullptr)) : Ref{};
  Ref chunk = bounds ? item(arr, bounds.get()) : Ref{};
  Ref size = chunk ? getattr(chunk.get(), names.size) : Ref{};
  if (!size) {
    return {};
  }
  const int short_block = PyObject_RichCompareBool(size.get(), needed.get(), Py_LT);
  if (short_block < 0) {
    return {};
  }
  if (short_block) {
    Ref full = np_attr(globals, kFull);
    Ref chunk_size = full ? getattr(chunk.get(), names.size) : Ref{};
    Ref missing =
        chunk_size ? Ref::steal(PyNumber_Subtract(needed.get(), chunk_size.get())) : Ref{};
    Ref shape = missing ? Ref::steal(PyTuple_Pack(1, missing.get())) : Ref{};
    Ref nan = shape ? np_attr(globals, kNan) : Ref{};
    Ref float64 = nan ? np_attr(globals, kFloat64) : Ref{};
    Ref padding =
        float64 ? call_with_keyword(full.get(), names.dtype, float64.get(), shape.get(), nan.get())
                : Ref{};
    Ref concatenate = padding ? np_attr(globals, kConcatenate) : Ref{};
    Ref parts = concatenate ? Ref::steal(PyList_New(2)) : Ref{};
    if (!parts) {
      return {};
    }
    PyList_SET_ITEM(parts.get(), 0, Py_NewRef(chunk.get()));
    PyList_SET_ITEM(parts.get(), 1, padding.release());
    chunk = call(concatenate.get(), parts.get());
    if (!chunk) {
      return {};
    }
    next = Ref::borrow(count);
  } else {
    next = Ref::steal(PyNumber_Add(i, needed.get()));
    if (!next) {
      return {};
    }
  }
  return call_method(chunk.get(), names.reshape, n, two.get());
}

// The splitter's loop over an array that is already flat float64.
Ref split_step_by_step(PyObject* globals, PyObject* arr) {
  Ref blocks = Ref::steal(PyList_New(0));
  Ref i = py_int(0);
  Ref count = getattr(arr, names.size);
  Ref one = py_int(1);
  Ref two = py_int(2);
  Ref zero = py_int(0);
  if (!blocks || !i || !count || !one || !two || !zero) {
    return {};
  }
  for (;;) {
    Ref i_next = Ref::steal(PyNumber_Add(i.get(), one.get()));
    if (!i_next) {
      return {};
    }
    const int more = PyObject_RichCompareBool(i_next.get(), count.get(), Py_LT);
    if (more <= 0) {
      return more < 0 ? Ref{} : blocks;
    }
    Ref idx = item(arr, i.get());
    Ref int_ = idx ? load_global(globals, names.builtin[kInt]) : Ref{};
    Ref round_ = int_ ? load_global(globals, names.builtin[kRound]) : Ref{};
    Ref declared = round_ ? item(arr, i_next.get()) : Ref{};
    Ref rounded = declared ? call(round_.get(), declared.get()) : Ref{};
    Ref n = rounded ? call(int_.get(), rounded.get()) : Ref{};
    i = n ? Ref::steal(PyNumber_Add(i.get(), two.get())) : Ref{};
    if (!i) {
      return {};
    }
    const int empty = PyObject_RichCompareBool(n.get(), zero.get(), Py_LE);
    if (empty < 0) {
      return {};
    }
    Ref pairs;
    if (empty) {
      Ref shape = Ref::steal(Py_BuildValue("(ii)", 0, 2));
      pairs = shape ? np_call_float64(globals, kZeros, shape.get()) : Ref{};
    } else {
      Ref next;
      pairs = pairs_step_by_step(globals, arr, i.get(), n.get(), count.get(), next);
      i = next;
    }
    Ref block = pairs ? Ref::steal(PyTuple_Pack(2, idx.get(), pairs.get())) : Ref{};
    if (!block || PyList_Append(blocks.get(), block.get()) < 0) {
      return {};
    }
  }
}

Ref split_module_level(PyObject* globals, PyObject* vec) {
  Ref converted = np_call_float64(globals, kAsarray, vec);
  Ref arr = converted ? call_method(converted.get(), names.ravel) : Ref{};
  return arr ? split_step_by_step(globals, arr.get()) : Ref{};
}

Ref call_splitter(PyObject* globals, PyObject* vec) {
  Ref splitter = load_global(globals, names.split_vector_blocks);
  return splitter ? call(splitter.get(), vec) : Ref{};
}

// Steps 3 to 11 of kora_interpret_vector over the splitter's blocks.
Ref dense_step_by_step(PyObject* globals, PyObject* blocks) {
  const int any = PyObject_IsTrue(blocks);
  if (any < 0) {
    return {};
  }
  if (!any) {
    Ref shape = Ref::steal(Py_BuildValue("(ii)", 0, 0));
    return shape ? np_call_float64(globals, kEmpty, shape.get()) : Ref{};
  }
  Ref len = load_global(globals, names.builtin[kLen]);
  Ref length = len ? call(len.get(), blocks) : Ref{};
  Ref one = py_int(1);
  const int single = length && one ? PyObject_RichCompareBool(length.get(), one.get(), Py_EQ) : -1;
  if (single < 0) {
    return {};
  }
  if (single) {
    Ref first = item_at(blocks, 0);
    Ref pairs = first ? item_at(first.get(), 1) : Ref{};
    return pairs ? call_method(pairs.get(), names.copy) : Ref{};
  }

  // max(block[1].shape[0] for block in blocks)
  Ref max = load_global(globals, names.builtin[kMax]);
  Ref row_counts = max ? Ref::steal(PyList_New(0)) : Ref{};
  Ref it = row_counts ? Ref::steal(PyObject_GetIter(blocks)) : Ref{};
  if (!it) {
    return {};
  }
  Ref max_rows;
  const bool builtin_max = max.get() == originals.builtin[kMax];
  while (Ref block = Ref::steal(PyIter_Next(it.get()))) {
    Ref pairs = item_at(block.get(), 1);
    Ref shape = pairs ? getattr(pairs.get(), names.shape) : Ref{};
    Ref rows = shape ? item_at(shape.get(), 0) : Ref{};
    if (!rows) {
      return {};
    }
    if (!builtin_max) {
      if (PyList_Append(row_counts.get(), rows.get()) < 0) {
        return {};
      }
      continue;
    }
    int larger = 1;
    if (max_rows) {
      larger = PyObject_RichCompareBool(rows.get(), max_rows.get(), Py_GT);
      if (larger < 0) {
        return {};
      }
    }
    if (larger) {
      max_rows = rows;
    }
  }
  if (PyErr_Occurred()) {
    return {};
  }
  if (!builtin_max) {
    max_rows = call(max.get(), row_counts.get());
  }
  len = max_rows ? load_global(globals, names.builtin[kLen]) : Ref{};
  Ref n_blocks = len ? call(len.get(), blocks) : Ref{};
  Ref zero = py_int(0);
  Ref two = py_int(2);
  if (!n_blocks || !zero || !two) {
    return {};
  }
  // 1 + 2 * n_blocks
  auto columns = [&] {
    Ref twice = Ref::steal(PyNumber_Multiply(two.get(), n_blocks.get()));
    return twice ? Ref::steal(PyNumber_Add(one.get(), twice.get())) : Ref{};
  };
  const int all_empty = PyObject_RichCompareBool(max_rows.get(), zero.get(), Py_EQ);
  if (all_empty < 0) {
    return {};
  }
  if (all_empty) {
    Ref zeros = np_attr(globals, kZeros);
    Ref cols = zeros ? columns() : Ref{};
    Ref shape = cols ? Ref::steal(PyTuple_Pack(2, zero.get(), cols.get())) : Ref{};
    Ref float64 = shape ? np_attr(globals, kFloat64) : Ref{};
    return float64 ? call_with_keyword(zeros.get(), names.dtype, float64.get(), shape.get())
                   : Ref{};
  }

  Ref full = np_attr(globals, kFull);
  Ref cols = full ? columns() : Ref{};
  Ref shape = cols ? Ref::steal(PyTuple_Pack(2, max_rows.get(), cols.get())) : Ref{};
  Ref nan = shape ? np_attr(globals, kNan) : Ref{};
  Ref float64 = nan ? np_attr(globals, kFloat64) : Ref{};
  Ref out = float64
                ? call_with_keyword(full.get(), names.dtype, float64.get(), shape.get(), nan.get())
                : Ref{};
  if (!out) {
    return {};
  }

  // Column 0: block 0's x values.
  Ref first = item_at(blocks, 0);
  Ref first_pairs = first ? item_at(first.get(), 1) : Ref{};
  Ref first_size = first_pairs ? getattr(first_pairs.get(), names.size) : Ref{};
  const int first_filled =
      first_size ? PyObject_RichCompareBool(first_size.get(), zero.get(), Py_NE) : -1;
  if (first_filled < 0) {
    return {};
  }
  if (first_filled) {
    Ref zero_col = column_key_at(nullptr, 0);
    Ref xs = zero_col ? item(first_pairs.get(), zero_col.get()) : Ref{};
    Ref first_shape = xs ? getattr(first_pairs.get(), names.shape) : Ref{};
    Ref stop = first_shape ? item_at(first_shape.get(), 0) : Ref{};
    Ref key = stop ? column_key_at(stop.get(), 0) : Ref{};
    if (!key || PyObject_SetItem(out.get(), key.get(), xs.get()) < 0) {
      return {};
    }
  }

  // The y and x columns of each block.
  Ref enumerate = load_global(globals, names.builtin[kEnumerate]);
  Ref numbered = enumerate ? call(enumerate.get(), blocks) : Ref{};
  Ref blocks_it = numbered ? Ref::steal(PyObject_GetIter(numbered.get())) : Ref{};
  if (!blocks_it) {
    return {};
  }
  while (Ref entry = Ref::steal(PyIter_Next(blocks_it.get()))) {
    Ref k, block, idx, pairs;
    if (!unpack_pair(entry.get(), k, block) || !unpack_pair(block.get(), idx, pairs)) {
      return {};
    }
    Ref size = getattr(pairs.get(), names.size);
    const int empty = size ? PyObject_RichCompareBool(size.get(), zero.get(), Py_EQ) : -1;
    if (empty < 0) {
      return {};
    }
    if (empty) {
      continue;
    }
    Ref pairs_shape = getattr(pairs.get(), names.shape);
    Ref rows = pairs_shape ? item_at(pairs_shape.get(), 0) : Ref{};
    if (!rows) {
      return {};
    }
    // out[:rows, 1 + 2 * k] = pairs[:, 1]; out[:rows, 1 + 2 * k + 1] = pairs[:, 0]
    for (const int source : {1, 0}) {
      Ref source_key = column_key_at(nullptr, source);
      Ref values = source_key ? item(pairs.get(), source_key.get()) : Ref{};
      Ref twice_k = values ? Ref::steal(PyNumber_Multiply(two.get(), k.get())) : Ref{};
      Ref column = twice_k ? Ref::steal(PyNumber_Add(one.get(), twice_k.get())) : Ref{};
      if (column && source == 0) {
        column = Ref::steal(PyNumber_Add(column.get(), one.get()));
      }
      Ref key = column ? column_key(rows.get(), column.get()) : Ref{};
      if (!key || PyObject_SetItem(out.get(), key.get(), values.get()) < 0) {
        return {};
      }
    }
  }
  if (PyErr_Occurred()) {
    return {};
  }
  return out;
}

// Steps 3 to 5 of kora_interpret_vector_list over the splitter's blocks.
Ref list_step_by_step(PyObject* blocks) {
  const int any = PyObject_IsTrue(blocks);
  if (any <= 0) {
    return any < 0 ? Ref{} : Ref::borrow(Py_None);
  }
  Ref out = Ref::steal(PyList_New(0));
  Ref it = out ? Ref::steal(PyObject_GetIter(blocks)) : Ref{};
  if (!it) {
    return {};
  }
  while (Ref block = Ref::steal(PyIter_Next(it.get()))) {
    Ref idx, pairs;
    if (!unpack_pair(block.get(), idx, pairs)) {
      return {};
    }
    Ref copy = call_method(pairs.get(), names.copy);
    if (!copy || PyList_Append(out.get(), copy.get()) < 0) {
      return {};
    }
  }
  return PyErr_Occurred() ? Ref{} : out;
}

// ---------------------------------------------------------------------------
// The native route

// `np.asarray(vec, dtype=np.float64).ravel()`, with the original NumPy.
Ref flat_float64(PyObject* vec) {
  Ref arr;
  auto* given = reinterpret_cast<PyArrayObject*>(vec);
  // Only an array with NumPy's own float64 dtype is handed back as it is; a
  // float64 dtype carrying metadata is replaced by the plain one.
  if (PyArray_CheckExact(vec) && PyArray_DESCR(given) == originals.float64_descr) {
    arr = Ref::borrow(vec);
  } else {
    arr = call_with_keyword(originals.numpy_attr[kAsarray], names.dtype,
                            originals.numpy_attr[kFloat64], vec);
    if (!arr) {
      return {};
    }
    if (!PyArray_CheckExact(arr.get())) {
      PyErr_SetString(PyExc_TypeError, "numpy.asarray returned a non-array");
      return {};
    }
  }
  auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
  if (PyArray_NDIM(a) == 1 && PyArray_IS_C_CONTIGUOUS(a)) {
    // Views taken on the raveled array would resolve to this array's data
    // owner all the same.
    return arr;
  }
  return Ref::steal(PyArray_Ravel(a, NPY_CORDER));
}

// A vector on the native route: converted as the splitter converts it, its
// values readable as doubles (copied when the array's data is not aligned
// for double), and scanned into blocks.
struct ScannedVector {
  Ref flat;
  PyArrayObject* arr = nullptr;
  std::vector<double> aligned;
  std::span<const double> values;
  core::Scan scan;

  // Returns false with the exception the splitter would raise.
  bool read(PyObject* vec) {
    flat = flat_float64(vec);
    if (!flat) {
      return false;
    }
    arr = reinterpret_cast<PyArrayObject*>(flat.get());
    const auto count = static_cast<size_t>(PyArray_SIZE(arr));
    if (PyArray_ISALIGNED(arr)) {
      values = {reinterpret_cast<const double*>(PyArray_DATA(arr)), count};
    } else {
      aligned.resize(count);
      std::memcpy(aligned.data(), PyArray_DATA(arr), count * sizeof(double));
      values = aligned;
    }
    scan = core::scan_blocks(values);
    switch (scan.status) {
      case core::ScanStatus::kOk:
        return true;
      case core::ScanStatus::kNanCount:
        PyErr_SetString(PyExc_ValueError, "cannot convert float NaN to integer");
        return false;
      case core::ScanStatus::kInfiniteCount:
        PyErr_SetString(PyExc_OverflowError, "cannot convert float infinity to integer");
        return false;
    }
    return false;
  }
};

bool has_huge_padding(const core::Scan& scan) {
  return !scan.blocks.empty() && scan.blocks.back().truncated() &&
         scan.blocks.back().rows > kNativePaddingRows;
}

Ref new_float64(npy_intp rows, npy_intp cols) {
  npy_intp dims[] = {rows, cols};
  return Ref::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
}

double* data_of(const Ref& array) {
  return static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// A new (rows, 2) array holding block `b`'s pairs.
Ref copy_of_pairs(const ScannedVector& v, const core::Block& b) {
  Ref out = new_float64(static_cast<npy_intp>(b.rows), 2);
  if (out) {
    core::copy_pairs(v.values, b, data_of(out), originals.nan);
  }
  return out;
}

// arr[i : i + 2n].reshape(n, 2) for a complete block: a view on `arr`.
Ref view_of_pairs(const ScannedVector& v, const core::Block& b) {
  PyArray_Descr* descr = PyArray_DESCR(v.arr);
  Py_INCREF(descr);
  npy_intp dims[] = {static_cast<npy_intp>(b.rows), 2};
  const int writeable = PyArray_FLAGS(v.arr) & NPY_ARRAY_WRITEABLE;
  char* data = PyArray_BYTES(v.arr) + b.data() * sizeof(double);
  Ref view = Ref::steal(
      PyArray_NewFromDescr(&PyArray_Type, descr, 2, dims, nullptr, data, writeable, nullptr));
  if (!view || PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(view.get()),
                                     Py_NewRef(reinterpret_cast<PyObject*>(v.arr))) < 0) {
    return {};
  }
  return view;
}

Ref empty_pairs() {
  npy_intp dims[] = {0, 2};
  return Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
}

// The splitter's list of (idx, pairs) blocks from a finished scan.
Ref block_list(PyObject* globals, const ScannedVector& v) {
  const auto n_blocks = static_cast<Py_ssize_t>(v.scan.blocks.size());
  Ref blocks = Ref::steal(PyList_New(n_blocks));
  if (!blocks) {
    return {};
  }
  for (Py_ssize_t k = 0; k < n_blocks; ++k) {
    const core::Block& b = v.scan.blocks[static_cast<size_t>(k)];
    Ref idx = Ref::steal(PyArray_Scalar(PyArray_BYTES(v.arr) + b.start * sizeof(double),
                                        PyArray_DESCR(v.arr), reinterpret_cast<PyObject*>(v.arr)));
    if (!idx) {
      return {};
    }
    Ref pairs;
    if (b.rows == 0) {
      pairs = empty_pairs();
    } else if (!b.truncated()) {
      pairs = view_of_pairs(v, b);
    } else {
      // The one short block: padded with NaN through NumPy's own calls.
      Ref start = py_int(static_cast<Py_ssize_t>(b.data()));
      Ref n = Ref::steal(PyLong_FromDouble(std::nearbyint(v.values[b.start + 1])));
      Ref count = py_int(static_cast<Py_ssize_t>(v.values.size()));
      Ref next;
      if (start && n && count) {
        pairs = pairs_step_by_step(globals, reinterpret_cast<PyObject*>(v.arr), start.get(),
                                   n.get(), count.get(), next);
      }
    }
    if (!pairs) {
      return {};
    }
    PyObject* block = PyTuple_New(2);
    if (block == nullptr) {
      return {};
    }
    PyTuple_SET_ITEM(block, 0, idx.release());
    PyTuple_SET_ITEM(block, 1, pairs.release());
    PyList_SET_ITEM(blocks.get(), k, block);
  }
  return blocks;
}

Ref dense_native(const ScannedVector& v) {
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
    npy_intp dims[] = {0, cols};
    return Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
  }
  Ref out = new_float64(rows, cols);
  if (out) {
    core::fill_dense(v.values, blocks, static_cast<size_t>(rows), data_of(out), originals.nan);
  }
  return out;
}

Ref list_native(const ScannedVector& v) {
  if (v.scan.blocks.empty()) {
    return Ref::borrow(Py_None);
  }
  Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(v.scan.blocks.size())));
  if (!out) {
    return {};
  }
  Py_ssize_t k = 0;
  for (const core::Block& b : v.scan.blocks) {
    Ref pairs = copy_of_pairs(v, b);
    if (!pairs) {
      return {};
    }
    PyList_SET_ITEM(out.get(), k++, pairs.release());
  }
  return out;
}

// Runs `native` over the scanned vector when the splitter and NumPy are the
// module's own, and otherwise the module-level code through `step_by_step`.
template <typename Native, typename StepByStep>
PyObject* decode(Function* self, PyObject* vec, Native native, StepByStep step_by_step) {
  PyObject* globals = self->globals;
  if (vec == Py_None) {
    Py_RETURN_NONE;
  }
  if (!splitter_intact(globals)) {
    Ref blocks = call_splitter(globals, vec);
    return blocks ? step_by_step(globals, blocks.get()).release() : nullptr;
  }
  ScannedVector v;
  if (!v.read(vec)) {
    return nullptr;
  }
  if (has_huge_padding(v.scan)) {
    Ref blocks = block_list(globals, v);
    return blocks ? step_by_step(globals, blocks.get()).release() : nullptr;
  }
  return native(v).release();
}

}  // namespace

PyObject* split_vector_blocks(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  if (!numpy_intact(globals)) {
    return split_module_level(globals, args[0]).release();
  }
  ScannedVector v;
  if (!v.read(args[0])) {
    return nullptr;
  }
  return block_list(globals, v).release();
}

PyObject* interpret_vector(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  return decode(self, args[0], dense_native, dense_step_by_step);
}

PyObject* interpret_vector_list(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  return decode(self, args[0], list_native,
                [](PyObject*, PyObject* blocks) { return list_step_by_step(blocks); });
}

}  // namespace pykora::binary
