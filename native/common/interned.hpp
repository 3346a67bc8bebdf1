// Tables of interned names: the module globals, attributes and texts that a
// module's functions look up, made once per process and kept in the
// module's state (state.hpp).
//
// A module declares its names once, as an X-list of (member, text), and
// generates both the struct that holds them and the table that fills it, so
// that no member can be left out of the filling:
//
//   #define MY_NAMES(X) X(np, "np") X(asarray, "asarray")
//   struct MyNames { MY_NAMES(PYKORA_NAME_MEMBER) };
//   #define ENTRY(member, text) {&MyNames::member, text},
//   constexpr InternedName<MyNames> kMyNames[] = {MY_NAMES(ENTRY)};
//
// Names looked up in a loop (a guard's list of NumPy attributes) live in an
// array indexed by an enum generated from an X-list of its own.
// intern_names() fills both: every slot, or it throws when a name cannot
// be made. That the lists cover every member of the struct is checked
// when the module is compiled, by comparing sizes:
//
//   static_assert(sizeof(MyNames) == std::size(kMyNames) * sizeof(PyObject*));
#pragma once

#include <cstddef>

#include "common/object.hpp"

namespace pykora {

template <typename Names>
struct InternedName {
  PyObject* Names::* member;
  const char* text;
};

#define PYKORA_NAME_MEMBER(member, text) PyObject* member = nullptr;
#define PYKORA_NAME_ENUMERATOR(enumerator, text) enumerator,
#define PYKORA_NAME_TEXT(member, text) text,

// Interns each text into its member; kept for the life of the process. A
// slot filled already (by an import that failed later on and is now tried
// again) is kept.
template <typename Names, size_t N>
void intern_names(Names& names, const InternedName<Names> (&table)[N]) {
  for (const InternedName<Names>& entry : table) {
    if (names.*entry.member == nullptr) {
      names.*entry.member = checked(PyUnicode_InternFromString(entry.text));
    }
  }
}

template <size_t N>
void intern_names(PyObject* (&slots)[N], const char* const (&texts)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (slots[i] == nullptr) {
      slots[i] = checked(PyUnicode_InternFromString(texts[i]));
    }
  }
}

}  // namespace pykora
