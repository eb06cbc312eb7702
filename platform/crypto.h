// Cryptographic primitives over OpenSSL: SHA-256, secure random bytes,
// standard Base64 and random UUIDs. Stateless and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace bcn::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> bytes);
Sha256Digest sha256(std::string_view bytes);

// `count` bytes from the system's cryptographically secure generator. A
// generator failure is an error, never weaker or partial output.
std::expected<std::vector<std::uint8_t>, PlatformError> secureRandomBytes(std::size_t count);

// RFC 4648 standard alphabet, with padding, no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);
// Strict inverse of base64Encode: absent for any other alphabet, missing or
// misplaced padding, or whitespace.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

// A random (version 4) UUID in its 36-character upper-case form,
// e.g. "0F8E2A8C-6B1D-4C3E-9A47-5D2B1E0C9F13".
std::expected<std::string, PlatformError> randomUUID();

}  // namespace bcn::crypto
