// TokenDigest: comparison of pairing-token digests in time that does not
// depend on where two digests differ, so a caller probing tokens learns
// nothing from timing but the length. Stateless and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bcn::TokenDigest {

// Visits every position of equal-length inputs, never stopping early;
// inputs of different lengths are unequal at once. Works over any pair of
// sized ranges of bytes, so tests can observe the visits.
template <typename Bytes>
bool equalBytes(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return false;
  std::uint8_t accumulator = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    accumulator = static_cast<std::uint8_t>(accumulator | (a[i] ^ b[i]));
  }
  return accumulator == 0;
}

bool equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace bcn::TokenDigest
