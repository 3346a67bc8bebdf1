// Python objects for code that runs inside the native modules.
//
// Every operation of Object (attribute, item, call, arithmetic, comparison,
// truth) does what the matching Python expression does and throws
// PythonError when that raises, with the Python exception left set. Code
// that touches Python reports every failure this way and never returns an
// error value: only the boundaries (boundary.hpp) turn an exception into
// the interpreter's NULL or -1. So a function reads as the Python it
// stands for, one statement per sub-expression, with no error checks in
// between, and the native routes read the same way.
#pragma once

#include <concepts>
#include <initializer_list>
#include <utility>

#include "common/ref.hpp"

namespace pykora {

// The interpreter has an exception set; whoever catches this returns NULL
// (or -1) to the interpreter and leaves the exception as it is. Not derived
// from std::exception, so that no handler for C++ errors takes it by mistake.
struct PythonError {};

// The result of a C API call that signals failure with NULL or a negative
// status, which then throws.
inline PyObject* checked(PyObject* result) {
  if (result == nullptr) {
    throw PythonError{};
  }
  return result;
}

inline int checked(int status) {
  if (status < 0) {
    throw PythonError{};
  }
  return status;
}

// After a C API call that returns NULL both for "absent" and for "failed":
// throws in the second case.
inline void throw_if_error_set() {
  if (PyErr_Occurred() != nullptr) {
    throw PythonError{};
  }
}

class Object;

template <typename T>
concept ObjectLike = std::same_as<T, Object> || std::same_as<T, PyObject*>;

class Object {
 public:
  Object() noexcept = default;  // no object yet; assign one before use
  explicit Object(Ref ref) : ref_(std::move(ref)) { checked(ref_.get()); }

  // A new reference from a C API call: a null result throws.
  static Object steal(PyObject* result) { return Object(Ref::steal(checked(result))); }
  // A borrowed object that is known to exist.
  static Object borrow(PyObject* obj) { return Object(Ref::borrow(checked(obj))); }

  PyObject* get() const noexcept { return ref_.get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(ref_); }
  [[nodiscard]] PyObject* release() noexcept { return ref_.release(); }

  // obj.name
  Object attr(PyObject* name) const { return steal(PyObject_GetAttr(get(), name)); }
  // obj[key]
  Object operator[](PyObject* key) const { return steal(PyObject_GetItem(get(), key)); }
  Object operator[](const Object& key) const { return (*this)[key.get()]; }
  // obj[index] for an int literal index
  Object at(Py_ssize_t index) const;
  // obj[key] = value
  void set_item(const Object& key, const Object& value) const {
    checked(PyObject_SetItem(get(), key.get(), value.get()));
  }
  // bool(obj)
  bool truth() const { return checked(PyObject_IsTrue(get())) == 1; }
  bool is(PyObject* other) const noexcept { return get() == other; }

  // obj(*args)
  template <ObjectLike... Args>
  Object operator()(const Args&... args) const {
    PyObject* stack[] = {nullptr, raw(args)...};
    return steal(PyObject_Vectorcall(get(), stack + 1,
                                     sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  }

  // obj(*args, <kwname>=kwvalue)
  template <ObjectLike Value, ObjectLike... Args>
  Object call_with_keyword(PyObject* kwname, const Value& kwvalue, const Args&... args) const {
    Object kwnames = steal(PyTuple_Pack(1, kwname));
    PyObject* stack[] = {nullptr, raw(args)..., raw(kwvalue)};
    return steal(PyObject_Vectorcall(
        get(), stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames.get()));
  }

  // obj.name(*args)
  template <ObjectLike... Args>
  Object method(PyObject* name, const Args&... args) const {
    PyObject* stack[] = {get(), raw(args)...};
    return steal(PyObject_VectorcallMethod(
        name, stack, (sizeof...(Args) + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  }

  static PyObject* raw(const Object& obj) noexcept { return obj.get(); }
  static PyObject* raw(PyObject* obj) noexcept { return obj; }

 private:
  Ref ref_;
};

// a + b, a - b, a * b; at least one side is an Object.
template <ObjectLike A, ObjectLike B>
  requires(std::same_as<A, Object> || std::same_as<B, Object>)
Object operator+(const A& a, const B& b) {
  return Object::steal(PyNumber_Add(Object::raw(a), Object::raw(b)));
}
template <ObjectLike A, ObjectLike B>
  requires(std::same_as<A, Object> || std::same_as<B, Object>)
Object operator-(const A& a, const B& b) {
  return Object::steal(PyNumber_Subtract(Object::raw(a), Object::raw(b)));
}
template <ObjectLike A, ObjectLike B>
  requires(std::same_as<A, Object> || std::same_as<B, Object>)
Object operator*(const A& a, const B& b) {
  return Object::steal(PyNumber_Multiply(Object::raw(a), Object::raw(b)));
}

// Comparisons give the object the comparison returns, as Python's do; its
// truth is asked separately (`if a < b:` is the comparison, then bool()).
template <ObjectLike A, ObjectLike B>
Object compare(const A& a, const B& b, int op) {
  return Object::steal(PyObject_RichCompare(Object::raw(a), Object::raw(b), op));
}
#define PYKORA_COMPARISON(symbol, op)                            \
  template <ObjectLike A, ObjectLike B>                          \
    requires(std::same_as<A, Object> || std::same_as<B, Object>) \
  Object operator symbol(const A& a, const B& b) {               \
    return compare(a, b, op);                                    \
  }
PYKORA_COMPARISON(<, Py_LT)
PYKORA_COMPARISON(<=, Py_LE)
PYKORA_COMPARISON(==, Py_EQ)
PYKORA_COMPARISON(!=, Py_NE)
#undef PYKORA_COMPARISON

// `item in container`
template <ObjectLike Container, ObjectLike Item>
bool contains(const Container& container, const Item& item) {
  return checked(PySequence_Contains(Object::raw(container), Object::raw(item))) == 1;
}

// An int, a str, a tuple, a list, a slice, as their Python literals make them.
Object integer(Py_ssize_t value);
Object text(const char* utf8);
template <ObjectLike... Items>
Object tuple(const Items&... items) {
  return Object::steal(PyTuple_Pack(sizeof...(Items), Object::raw(items)...));
}
Object list(std::initializer_list<PyObject*> items);
// start:stop; a null bound is left out, as in `[:stop]`.
Object slice(PyObject* start, PyObject* stop);

// `for item in obj:` as a C++ range: iter(obj) on entry, next() per turn.
class Iteration {
 public:
  explicit Iteration(const Object& iterable)
      : it_(Object::steal(PyObject_GetIter(iterable.get()))) {}

  class Cursor {
   public:
    explicit Cursor(PyObject* it) : it_(it) { advance(); }
    Cursor() = default;
    const Object& operator*() const { return item_; }
    Cursor& operator++() {
      advance();
      return *this;
    }
    bool operator==(const Cursor& other) const { return !item_ && !other.item_; }

   private:
    void advance() {
      item_ = Object();
      PyObject* next = PyIter_Next(it_);
      if (next == nullptr) {
        throw_if_error_set();
        return;
      }
      item_ = Object::steal(next);
    }
    PyObject* it_ = nullptr;
    Object item_;
  };

  Cursor begin() const { return Cursor(it_.get()); }
  Cursor end() const { return Cursor(); }

 private:
  Object it_;
};

inline Iteration iterate(const Object& iterable) { return Iteration(iterable); }

}  // namespace pykora
