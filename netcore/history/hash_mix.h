// Internal to netcore_history: folds field hashes into one value for the
// std::hash specializations of the history's plain value types.
#pragma once

#include <cstddef>

namespace bcn::history_internal {

inline std::size_t hashMix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace bcn::history_internal
