// Python objects for code that replays module-level Python one step at a
// time.
//
// Every operation of Object (attribute, item, call, arithmetic, comparison,
// truth) does what the matching Python expression does and throws
// PythonError when that raises, with the Python exception left set. The
// function boundary (function_vectorcall) returns NULL for it, so a replay
// reads as the Python it replays, one statement per sub-expression, with no
// error checks in between.
//
// Throwing is for the rare routes only. The fast routes keep their explicit,
// exception-free code.
#pragma once

#include <concepts>
#include <utility>

#include "common/ref.hpp"

namespace pykora {

// The interpreter has an exception set; whoever catches this returns NULL
// (or -1) to the interpreter and leaves the exception as it is. Not derived
// from std::exception, so that no handler for C++ errors takes it by mistake.
struct PythonError {};

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
  template <typename... Args>
  Object operator()(const Args&... args) const {
    PyObject* stack[] = {nullptr, raw(args)...};
    return steal(PyObject_Vectorcall(get(), stack + 1,
                                     sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  }

  // obj(*args, <kwname>=kwvalue)
  template <typename... Args>
  Object call_with_keyword(PyObject* kwname, const Object& kwvalue, const Args&... args) const {
    Object kwnames = steal(PyTuple_Pack(1, kwname));
    PyObject* stack[] = {nullptr, raw(args)..., kwvalue.get()};
    return steal(PyObject_Vectorcall(
        get(), stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames.get()));
  }

  // obj.name(*args)
  template <typename... Args>
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

template <typename T>
concept ObjectLike = std::same_as<T, Object> || std::same_as<T, PyObject*>;

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

// An int, a tuple, a list, a slice, as their Python literals make them.
Object integer(Py_ssize_t value);
template <ObjectLike... Items>
Object tuple(const Items&... items) {
  return Object::steal(PyTuple_Pack(sizeof...(Items), Object::raw(items)...));
}
Object list(std::initializer_list<PyObject*> items);
// start:stop; a null bound is left out, as in `[:stop]`.
Object slice(PyObject* start, PyObject* stop);

// A module-level name as module code sees it at the moment of use: the
// module namespace, then the builtins; NameError when neither has it.
Object global(PyObject* globals, PyObject* name);

// `a, b = obj`, with the interpreter's errors for anything else.
std::pair<Object, Object> unpack_pair(const Object& obj);

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
        checked(PyErr_Occurred() ? -1 : 0);
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
