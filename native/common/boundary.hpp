// Where native code returns to the interpreter: no C++ exception may unwind
// through it.
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
