// What the two routes of the vector decoders share. The native route
// (vectors_native.cpp) hands over to the module-level route
// (vectors_module_level.cpp) where it can no longer stand for it.
#pragma once

#include "common/object.hpp"

namespace pykora::binary {

// `np.asarray(vec, dtype=np.float64).ravel()` and the splitter's loop.
Object split_module_level(PyObject* globals, PyObject* vec);

// The splitter's loop, from `count = arr.size` on, over the flat array `arr`.
Object split_loop_module_level(PyObject* globals, const Object& arr);

// From `needed = 2 * n` to `chunk.reshape(n, 2)` for a block whose pairs
// start at `i` and whose count `n` is above 0. Returns the pairs; `i` is
// set to where the next block starts.
Object pairs_module_level(PyObject* globals, const Object& arr, Object& i, const Object& n,
                          const Object& count);

// `_split_vector_blocks(vec)` through whatever the module binds now.
Object call_splitter(PyObject* globals, PyObject* vec);

// kora_interpret_vector and kora_interpret_vector_list after their call of
// the splitter, over its blocks.
Object dense_module_level(PyObject* globals, const Object& blocks);
Object list_module_level(PyObject* globals, const Object& blocks);

// Compiles the generator expression of kora_interpret_vector's module-level
// route into state().row_counts, once, with `module`'s namespace as its
// globals.
void compile_module_level_code(PyObject* module);

}  // namespace pykora::binary
