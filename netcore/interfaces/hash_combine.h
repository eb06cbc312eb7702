// Hash mixing for the interface value types: folds each field's std::hash
// into a running seed in declaration order. Pure; header-only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace bcn::interfaces_detail {

template <typename T>
void hashCombine(std::size_t& seed, const T& value) {
  seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void hashCombine(std::size_t& seed, const std::vector<T>& values) {
  hashCombine(seed, values.size());
  for (const T& v : values) hashCombine(seed, v);
}

template <typename... Fields>
std::size_t hashFields(const Fields&... fields) {
  std::size_t seed = 0;
  (hashCombine(seed, fields), ...);
  return seed;
}

}  // namespace bcn::interfaces_detail
