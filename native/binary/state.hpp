// What the functions of pykora.binary share: interned names, and the objects
// the module body bound, kept to tell whether a fast path still behaves
// exactly as the module-level code would.
#pragma once

#include "binary/numpy_api.hpp"
#include "common/ref.hpp"

namespace pykora::binary {

// NumPy attributes the functions use, and the builtins they call.
enum NumpyAttr {
  kAsarray,
  kFloat64,
  kZeros,
  kFull,
  kNan,
  kConcatenate,
  kEmpty,
  kFrombuffer,
  kNumpyAttrCount
};
enum Builtin { kRound, kInt, kMax, kLen, kEnumerate, kBuiltinCount };

struct Names {
  PyObject *np, *Path, *F8_LE, *split_vector_blocks;  // module globals
  PyObject* numpy_attr[kNumpyAttrCount];
  PyObject* builtin[kBuiltinCount];
  PyObject *ravel, *size, *shape, *reshape, *copy, *exists, *read_bytes, *open, *io, *dtype;
};
extern Names names;

// Captured by the module body. While the module namespace, NumPy and the
// builtins still hold these very objects, the native fast paths are
// indistinguishable from the module-level code; otherwise the functions run
// the module-level code step by step through whatever is bound now.
struct Originals {
  PyObject* numpy;
  PyObject* numpy_attr[kNumpyAttrCount];
  PyObject* builtin[kBuiltinCount];
  PyObject* path_type;           // pathlib.Path
  PyObject* read_bytes;          // pathlib.Path.read_bytes
  PyObject* open;                // pathlib.Path.open
  PyObject* open_globals;        // namespace of the module defining Path.open
  PyObject* pathlib_io;          // the io module as Path.open sees it
  PyObject* io_open;             // io.open, which Path.open calls; null: never read natively
  PyObject* splitter;            // this module's _split_vector_blocks
  PyArray_Descr* f8_le;          // the dtype that "<f8" names
  PyArray_Descr* float64_descr;  // NumPy's own float64 dtype
  double nan;                    // numpy.nan, bit for bit
};
extern Originals originals;

bool init_names();
bool init_originals(PyObject* module);

// The module's `np`, NumPy's attributes and the builtins the functions use
// are the ones the module was created with.
bool numpy_intact(PyObject* globals);

// As numpy_intact, and the module's `_split_vector_blocks` is its own.
bool splitter_intact(PyObject* globals);

// `p.read_bytes()` for `p` of the module's own Path class would run
// pathlib's own code down to io.open.
bool path_reading_intact(PyObject* path_type, PyObject* p);

}  // namespace pykora::binary
