// Module-level names as the code of a module sees them.
#pragma once

#include "common/object.hpp"

namespace pykora {

// Sets shared_state().builtins, the builtins namespace that module code
// falls back on for a name it does not bind itself; run when a module is
// created.
void init_builtins_namespace();

// A module-level name at the moment of use: the module namespace first,
// then the builtins; NameError when neither has it.
Object global(PyObject* globals, PyObject* name);

}  // namespace pykora
