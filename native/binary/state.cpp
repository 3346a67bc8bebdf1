#include "binary/state.hpp"

#include <iterator>

namespace pykora::binary {
namespace {

#define PYKORA_ENTRY(member, text) {&Names::member, text},
constexpr InternedName<Names> kNames[] = {PYKORA_BINARY_NAMES(PYKORA_ENTRY)};
#undef PYKORA_ENTRY

// Every member of Names is filled from one of the three lists.
static_assert(sizeof(Names) ==
              (std::size(kNames) + kNumpyAttrCount + kBuiltinCount) * sizeof(PyObject*));

}  // namespace

void init_names() {
  Names& names = state().names;
  intern_names(names, kNames);
  intern_names(names.numpy_attr, kNumpyAttrTexts);
  intern_names(names.builtin, kBuiltinTexts);
}

}  // namespace pykora::binary
