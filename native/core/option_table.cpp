#include "core/option_table.hpp"

#include <algorithm>

namespace pykora::core {

std::string cpu_threads_text(long long cpus) {
  return std::to_string(std::clamp(cpus, 1LL, 16LL)) + ":1";
}

}  // namespace pykora::core
