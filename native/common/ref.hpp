// Owning reference to a Python object.
//
// Every new reference the native code takes is held by a Ref, so each early
// return releases what it took without hand-written decref paths.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace pykora {

class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref& other) noexcept : ptr_(Py_XNewRef(other.ptr_)) {}
  Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~Ref() { Py_XDECREF(ptr_); }

  Ref& operator=(Ref other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  // Takes over a new reference (as returned by most C API calls); null stays null.
  [[nodiscard]] static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
  // Takes a new reference to a borrowed object.
  [[nodiscard]] static Ref borrow(PyObject* obj) noexcept { return Ref(Py_XNewRef(obj)); }

  PyObject* get() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Hands the reference to the caller, typically as a function's return value.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

  void reset() noexcept { Py_CLEAR(ptr_); }

 private:
  explicit Ref(PyObject* obj) noexcept : ptr_(obj) {}
  PyObject* ptr_ = nullptr;
};

}  // namespace pykora
