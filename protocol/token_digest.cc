#include "protocol/token_digest.h"

namespace bcn::TokenDigest {

bool equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return equalBytes(a, b);
}

}  // namespace bcn::TokenDigest
