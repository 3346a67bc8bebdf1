// Functions written in Python, for the few steps where only the interpreter
// itself gives the exact behaviour: a generator expression handed to code
// of the caller's, and tuple unpacking, whose errors each CPython release
// words in its own way. Every snippet the shared code compiles is here; a
// module compiles its own with compile_function(), next to the code that
// calls it.
#pragma once

#include <utility>

#include "common/object.hpp"

namespace pykora {

// Compiles `source`, which defines the function `name` at its top level,
// and returns that function with `globals` as its namespace (what its
// frames report as f_globals). Nothing is bound in `globals`; `filename`
// is what tracebacks show for its frames.
Object compile_function(const char* source, const char* filename, const char* name,
                        PyObject* globals);

// `a, b = obj`, as the running interpreter unpacks: a 2-tuple directly,
// anything else through a compiled `first, second = pair`, whose errors and
// their wording are the interpreter's own; a failure leaves that exception
// set, without a traceback entry for the helper's frame, and throws.
std::pair<Object, Object> unpack_pair(const Object& obj);

// Sets shared_state().unpack_pair, the helper above; run when a module is
// created.
void init_python_code();

}  // namespace pykora
