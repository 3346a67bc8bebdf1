// The guards of pykora.binary's fast routes.
//
// Each function has a native route and a module-level route (the Python it
// stands for, replayed one step at a time). The native route is taken only
// while a guard shows that it cannot be told apart from the module-level
// code: every global and attribute that code would look up still holds the
// object the module was created with. The module body captures those
// objects (Originals); a guard compares pointers, so it costs a few
// dictionary lookups.
//
// | guard               | protects                         | checks                          |
// |---------------------|----------------------------------|---------------------------------|
// | numpy_intact        | every native vector route; the   | module `np` is NumPy; NumPy's   |
// |                     | reader's decoding of the bytes   | asarray, float64, zeros, full,  |
// |                     |                                  | nan, concatenate, empty and     |
// |                     |                                  | frombuffer; round, int, max,    |
// |                     |                                  | len, enumerate not shadowed in  |
// |                     |                                  | the module and original in      |
// |                     |                                  | builtins                        |
// | splitter_intact     | the native decoders              | numpy_intact, and the module's  |
// |                     | (kora_interpret_vector[_list])   | `_split_vector_blocks` is its   |
// |                     |                                  | own                             |
// | path_reading_intact | the reader reading the file      | `Path` is pathlib's; the path's |
// |                     | itself                           | class resolves read_bytes and   |
// |                     |                                  | open to pathlib's own, and      |
// |                     |                                  | Path.open's `io.open` is still  |
// |                     |                                  | the original                    |
// | f8_le_intact        | the reader's decoding            | `_F8_LE` is the exact str "<f8" |
//
// Why these suffice: with NumPy's own functions, the dtype "float64", the
// builtins and pathlib's reading, the module-level code runs no code of the
// caller's once its input is converted, so its result, errors and side
// effects are fixed by the input alone, and the native route computes the
// same. Where the caller's code can run inside a call (converting `vec` runs
// its __array__, __len__ or __float__; opening a file runs audit hooks and
// __fspath__), the guards are checked again right after, and a call whose
// guard fails there goes on along the module-level route from that point.
//
// Every new fast path gets a guard here and a test that rebinds the global
// it depends on.
#pragma once

#include "binary/names.hpp"
#include "binary/numpy_api.hpp"

namespace pykora::binary {

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

// Captures the originals once the module body has bound its names.
bool init_originals(PyObject* module);

bool numpy_intact(PyObject* globals);
bool splitter_intact(PyObject* globals);
bool path_reading_intact(PyObject* path_type, PyObject* p);
bool f8_le_intact(PyObject* globals);

}  // namespace pykora::binary
