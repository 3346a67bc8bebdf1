#include "binary/names.hpp"

#include <iterator>

namespace pykora::binary {

BinaryNames names;

namespace {

#define PYKORA_ENTRY(member, text) {&BinaryNames::member, text},
constexpr InternedName<BinaryNames> kNames[] = {PYKORA_BINARY_NAMES(PYKORA_ENTRY)};
#undef PYKORA_ENTRY

// Every member of BinaryNames is filled from one of the three lists.
static_assert(sizeof(BinaryNames) ==
              (std::size(kNames) + kNumpyAttrCount + kBuiltinCount) * sizeof(PyObject*));

}  // namespace

void intern_binary_names() {
  intern_names(names, kNames);
  intern_names(names.numpy_attr, kNumpyAttrTexts);
  intern_names(names.builtin, kBuiltinTexts);
  verify_interned("pykora.binary", names, kNames);
  verify_interned("pykora.binary", names.numpy_attr, kNumpyAttrTexts);
  verify_interned("pykora.binary", names.builtin, kBuiltinTexts);
}

}  // namespace pykora::binary
