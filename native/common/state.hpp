// What the native modules keep for the life of the process.
//
// Each module keeps everything of its own in one struct, `State`, derived
// from ModuleState, with one accessor, `state()`: its interned names, the
// originals its guards compare against, the code it compiles. A module
// exists once per process (module.hpp), so its state is a process static,
// as NumPy keeps its own, rather than the per-module state of
// PyModule_GetState(): that would be one more indirection on every call,
// and before CPython 3.12 the interpreter drops a module's state pointer
// when a re-import hands the existing module back. The pattern, for a
// module `m`:
//
//   // m/state.hpp
//   struct State : ModuleState {
//     Names names;  // what the module adds
//   };
//   inline State& state() {
//     static constinit State instance;
//     return instance;
//   }
//
// constinit makes the state constant-initialised, so `state()` compiles to
// the address of the static, with no guard. The shared code keeps its own
// few objects in SharedState below.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ref.hpp"

namespace pykora {

// What every module keeps, whatever else it keeps: made once, it is handed
// back by every later import (module.hpp).
struct ModuleState {
  PyObject* module = nullptr;  // the module whose body has run, once it has
  // The interpreter that first imported the module. Atomic because the
  // import of another interpreter, which may run under a GIL of its own,
  // reads it to refuse that interpreter.
  std::atomic<std::int64_t> owner_interpreter{-1};
};

// What the shared code keeps, made when a module is first created. Each
// extension module links the shared code statically, so each holds a copy
// of its own; all copies hold the same objects.
struct SharedState {
  PyObject* builtins = nullptr;     // the builtins namespace (globals.cpp)
  PyObject* unpack_pair = nullptr;  // `first, second = pair`, compiled (python_code.cpp)
};

inline SharedState& shared_state() {
  static constinit SharedState instance;
  return instance;
}

}  // namespace pykora
