// A lazy mapping over an iterable, as a generator expression gives one.
//
// `max(block[1].shape[0] for block in blocks)` hands `max` an iterator that
// has taken iter(blocks) already and computes each value only when asked for
// it. Native code that replays such a call passes a lazy_map instead, so that
// whatever `max` is bound to sees the same thing: one value per request, and
// the error of a value at the moment that value is asked for.
#pragma once

#include "common/object.hpp"

namespace pykora {

using ItemTransform = Object (*)(const Object& item);

// An iterator yielding transform(item) for each item of iter(iterable).
Object lazy_map(const Object& iterable, ItemTransform transform);

}  // namespace pykora
