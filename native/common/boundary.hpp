// Where native code returns to the interpreter: no C++ exception may unwind
// through it.
//
// The error rule of the native modules: code that touches Python reports a
// failure by throwing (PythonError once the Python exception is set,
// std::bad_alloc when C++ runs out of memory) and never by an error value;
// the pure core (native/core) knows no Python and returns statuses. Only the
// boundaries catch: the function object's vectorcall and its attribute
// getters, the module's create and exec slots. Each turns the exception
// into the interpreter's NULL or -1 through guarded_call().
#pragma once

#include <type_traits>

#include "common/object.hpp"

namespace pykora {

// Sets the Python exception that stands for the C++ exception being
// handled: none for PythonError (the interpreter has it already),
// MemoryError for std::bad_alloc, RuntimeError for anything else.
void set_error_from_current_exception() noexcept;

// Runs `body` and returns its result; when it throws, returns the
// interpreter's error value (NULL, or -1) with the matching exception set.
template <typename Body>
auto guarded_call(Body&& body) noexcept -> decltype(body()) {
  using Result = decltype(body());
  static_assert(std::is_pointer_v<Result> || std::is_integral_v<Result>);
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    if constexpr (std::is_pointer_v<Result>) {
      return nullptr;
    } else {
      return -1;
    }
  }
}

}  // namespace pykora
