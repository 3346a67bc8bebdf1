#include "options/state.hpp"

#include <iterator>

namespace pykora::options {
namespace {

#define PYKORA_ENTRY(member, text) {&Names::member, text},
constexpr InternedName<Names> kNames[] = {PYKORA_OPTION_NAMES(PYKORA_ENTRY)};
#undef PYKORA_ENTRY

// Every member of Names is filled from the list.
static_assert(sizeof(Names) == std::size(kNames) * sizeof(PyObject*));

// An interned text.
Object interned(std::string_view s) {
  PyObject* text = PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
  checked(text);
  PyUnicode_InternInPlace(&text);
  return Object::steal(text);
}

// A tuple of interned texts.
template <size_t N>
Object text_tuple(const std::array<std::string_view, N>& texts) {
  Object tuple = Object::steal(PyTuple_New(N));
  for (size_t i = 0; i < N; ++i) {
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), interned(texts[i]).release());
  }
  return tuple;
}

Object default_value(const core::OptionDefault& entry) {
  switch (entry.kind) {
    case core::DefaultKind::kNone:
      return Object::borrow(Py_None);
    case core::DefaultKind::kTrue:
      return Object::borrow(Py_True);
    case core::DefaultKind::kFalse:
      return Object::borrow(Py_False);
    case core::DefaultKind::kInteger:
      return Object::steal(PyLong_FromLong(entry.integer));
    case core::DefaultKind::kText:
      return interned(entry.text);
    case core::DefaultKind::kCpuThreads:
      break;
  }
  return Object();  // computed at each call
}

}  // namespace

void init_names() { intern_names(state().names, kNames); }

// Builds every object of the table first and publishes them only once all
// exist: a failure part way (the import then fails) releases what was made.
void init_table() {
  State& s = state();
  if (s.table.index != nullptr) {
    return;
  }
  Object index = Object::steal(PyDict_New());
  Object valid = Object::steal(PySet_New(nullptr));
  Object prototype = Object::steal(PyDict_New());
  std::array<Object, core::kDefaultTable.size()> values;
  Object num_threads_key;
  for (size_t i = 0; i < core::kDefaultTable.size(); ++i) {
    const core::OptionDefault& entry = core::kDefaultTable[i];
    Object key = interned(entry.key);
    Object position = Object::steal(PyLong_FromSize_t(i));
    checked(PyDict_SetItem(index.get(), key.get(), position.get()));
    checked(PySet_Add(valid.get(), key.get()));
    values[i] = default_value(entry);
    if (entry.kind == core::DefaultKind::kCpuThreads) {
      num_threads_key = key;
    }
    PyObject* value = values[i] ? values[i].get() : Py_None;
    checked(PyDict_SetItem(prototype.get(), key.get(), value));
  }
  checked(PySet_Add(valid.get(), s.names.kora_call));
  checked(PySet_Add(valid.get(), s.names.weftgen_call));
  Object valid_keys = Object::steal(PyFrozenSet_New(valid.get()));
  Object modes = text_tuple(core::kModes);
  Object malloc_names = text_tuple(core::kMallocNames);
  // Kept for the life of the process.
  Table& table = s.table;
  for (size_t i = 0; i < values.size(); ++i) {
    table.values[i] = values[i].release();
  }
  table.num_threads_key = num_threads_key.release();
  table.index = index.release();
  table.prototype = prototype.release();
  table.valid_keys = valid_keys.release();
  table.modes = modes.release();
  table.malloc_names = malloc_names.release();
}

}  // namespace pykora::options
