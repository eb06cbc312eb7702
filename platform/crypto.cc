#include "platform/crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace bcn::crypto {

namespace {

// Fetched once and kept: the one-shot SHA256() looks the algorithm up in
// the provider store on every call, which costs several times the hashing
// of a short token, and the daemon hashes one on every status call.
const EVP_MD* sha256Algorithm() {
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return algorithm;
}

}  // namespace

Sha256Digest sha256(std::span<const std::uint8_t> bytes) {
  Sha256Digest digest{};
  unsigned int size = 0;
  const EVP_MD* algorithm = sha256Algorithm();
  // Digesting only fails when OpenSSL cannot allocate or load its default
  // provider; there is no sensible digest to return then.
  if (algorithm == nullptr || EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, algorithm, nullptr) != 1 ||
      size != digest.size()) {
    std::fputs("beaconbar: SHA-256 failed\n", stderr);
    std::abort();
  }
  return digest;
}

Sha256Digest sha256(std::string_view bytes) {
  return sha256(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::expected<std::vector<std::uint8_t>, PlatformError> secureRandomBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  if (count > static_cast<std::size_t>(INT_MAX) ||
      RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
    const unsigned long code = ERR_get_error();
    char text[256] = "random generator failed";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    return std::unexpected(PlatformError{"OpenSSL", static_cast<std::int64_t>(code), text});
  }
  return bytes;
}

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  // EVP_EncodeBlock takes an int length; whole groups of three bytes per
  // call keep every chunk's output free of padding but the last.
  constexpr std::size_t kChunk = 3 * 16384;
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  std::size_t out = 0;
  for (std::size_t in = 0; in < bytes.size(); in += kChunk) {
    const std::size_t n = std::min(kChunk, bytes.size() - in);
    out += static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + out),
                                                    bytes.data() + in, static_cast<int>(n)));
  }
  text.resize(out);
  return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
  // EVP_DecodeBlock tolerates whitespace and keeps padding as zero bytes,
  // so the shape is checked here and the padding length taken off after.
  if (text.size() % 4 != 0 || text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (c == '=') {
      if (i + 2 < text.size()) return std::nullopt;
      ++padding;
    } else if (!alphabet || padding > 0) {
      return std::nullopt;
    }
  }
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(n) - padding);
  return bytes;
}

std::expected<std::string, PlatformError> randomUUID() {
  auto bytes = secureRandomBytes(16);
  if (!bytes) return std::unexpected(bytes.error());
  auto& b = *bytes;
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[b[i] >> 4]);
    text.push_back(kHex[b[i] & 0x0F]);
  }
  return text;
}

}  // namespace bcn::crypto
