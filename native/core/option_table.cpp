#include "core/option_table.hpp"

#include <algorithm>
#include <charconv>

namespace pykora::core {

ThreadsText cpu_threads_text(long long cpus) {
  ThreadsText out{};
  const long long n = std::clamp(cpus, 1LL, 16LL);
  char* end = std::to_chars(out.text, out.text + sizeof(out.text), n).ptr;
  *end++ = ':';
  *end++ = '1';
  out.size = static_cast<std::size_t>(end - out.text);
  return out;
}

}  // namespace pykora::core
