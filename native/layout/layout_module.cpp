// pykora._layout: where the blocks of a flattened vector lie, as arrays.
//
// The command line reads this layout to know which slices of a file hold
// the blocks it is about to show, and hands only those slices to the
// decoders of pykora.binary. The blocks are found by the decoders' own
// scanner, so the two cannot disagree about where a block starts or how
// many pairs it holds.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <numpy/arrayobject.h>

#include <cstdint>
#include <cstring>
#include <span>

#include "common/count_errors.hpp"
#include "common/function.hpp"
#include "common/module.hpp"
#include "common/object.hpp"
#include "common/state.hpp"
#include "core/vector_blocks.hpp"

namespace pykora::layout {
namespace {

constexpr const char kModuleDoc[] =
    "Where the blocks of a flattened [idx, n, x1, y1, ...] vector lie.\n"
    "\n"
    "Private to pykora: the command line uses it to decode only the blocks it\n"
    "shows. The blocks are found by the same scanner as pykora.binary's decoders.\n";

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

Object new_column(npy_intp size, int type) {
  return Object::steal(PyArray_SimpleNew(1, &size, type));
}

template <typename T>
T* data_of(const Object& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

PyObject* block_layout(Function*, PyObject* const* args, Py_ssize_t, PyObject*) {
  // Cast whatever the decoders' np.asarray(vec, dtype=np.float64) casts (object,
  // complex, long double, text), with NumPy's own errors and warnings.
  Object converted = Object::steal(
      PyArray_FROMANY(args[0], NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO | NPY_ARRAY_FORCECAST));
  auto* arr = reinterpret_cast<PyArrayObject*>(converted.get());
  const std::span<const double> values(static_cast<const double*>(PyArray_DATA(arr)),
                                       static_cast<std::size_t>(PyArray_SIZE(arr)));

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

constexpr const char* kVecParams[] = {"vec"};
constexpr Annotation kBlockLayoutAnnotations[] = {
    {"vec", "ArrayLike"},
    {"return", "tuple[NDArray[int64], NDArray[float64], NDArray[int64], NDArray[int64]]"}};

constexpr FunctionDef kFunctions[] = {
    {.name = "block_layout",
     .doc = kBlockLayoutDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kBlockLayoutAnnotations,
     .impl = block_layout},
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
