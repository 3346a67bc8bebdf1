// The option table of pykora.options: every valid key, its default and the
// value vocabularies the post-set checks accept. Pure C++.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace pykora::core {

enum class DefaultKind { kNone, kText, kTrue, kFalse, kInteger, kCpuThreads };

struct OptionDefault {
  std::string_view key;
  DefaultKind kind;
  std::string_view text = {};  // kText
  long integer = 0;            // kInteger
};

// The default table, in the order callers see it.
inline constexpr std::array<OptionDefault, 24> kDefaultTable = {{
    {"kora.arg", DefaultKind::kNone},
    {"weftgen.arg", DefaultKind::kText, ""},
    {"num.threads", DefaultKind::kCpuThreads},
    {"smtp", DefaultKind::kText, "default"},
    {"safe", DefaultKind::kTrue},
    {"keep", DefaultKind::kFalse},
    {"verbose", DefaultKind::kFalse},
    {"save.memory", DefaultKind::kFalse},
    {"internal.opt", DefaultKind::kTrue},
    {"working.directory", DefaultKind::kNone},
    {"silent", DefaultKind::kTrue},
    {"debug", DefaultKind::kFalse},
    {"show.warning.graph.file", DefaultKind::kTrue},
    {"scale.model.default", DefaultKind::kFalse},
    {"short.summary", DefaultKind::kFalse},
    {"kora.timeout", DefaultKind::kInteger, {}, 0},
    {"weftgen.timeout", DefaultKind::kInteger, {}, 0},
    {"kora.mode", DefaultKind::kText, "compact"},
    {"malloc.lib", DefaultKind::kText, "mi"},
    {"weftgen.evolution", DefaultKind::kInteger, {}, 2},
    {"weftgen.evolution.warn", DefaultKind::kTrue},
    {"weftgen.evolution.verbosity", DefaultKind::kText, "default"},
    {"Braidwell.features", DefaultKind::kFalse},
    {"numa", DefaultKind::kFalse},
}};

inline constexpr std::array<std::string_view, 4> kModes = {"compact", "classic", "twostage",
                                                           "experimental"};
inline constexpr std::array<std::string_view, 5> kMallocNames = {"default", "compiler", "je", "tc",
                                                                 "mi"};

// The default of "num.threads" for a machine with `cpus` logical CPUs (0 when
// unknown): the count clamped to 1..16, followed by ":1".
struct ThreadsText {
  char text[8];
  std::size_t size;
};
ThreadsText cpu_threads_text(long long cpus);

}  // namespace pykora::core
