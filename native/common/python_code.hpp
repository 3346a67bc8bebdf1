// Functions written in Python, compiled once per process, for the few steps
// where only the interpreter itself gives the exact behaviour: a generator
// expression handed to code of the caller's, and tuple unpacking, whose
// errors each CPython release words in its own way.
#pragma once

#include "common/object.hpp"

namespace pykora {

// Compiles `source`, which defines the function `name` at its top level,
// and returns that function with `globals` as its namespace (what its
// frames report as f_globals). Nothing is bound in `globals`; `filename`
// is what tracebacks show for its frames.
Object compile_function(const char* source, const char* filename, const char* name,
                        PyObject* globals);

// `first, second = pair` run by the interpreter. A failure leaves the
// interpreter's own exception set, without a traceback entry for the
// helper's frame, and throws.
std::pair<Object, Object> interpreter_unpack_pair(const Object& pair);

// Compiles the helpers above; run when a module is created.
void init_python_code();

}  // namespace pykora
