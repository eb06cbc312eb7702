#include "netcore/interfaces/address_records.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "netcore/c_string.h"
#include "netcore/shim/bcn_interfaces.h"

namespace bcn {

namespace {

// Writes the dotted quad of `bytes` at `out` and returns its end.
char* writeDottedQuad(char* out, const std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    const unsigned b = bytes[i];
    if (b >= 100) *out++ = static_cast<char>('0' + b / 100);
    if (b >= 10) *out++ = static_cast<char>('0' + b / 10 % 10);
    *out++ = static_cast<char>('0' + b % 10);
    *out++ = '.';
  }
  return out - 1;
}

std::string dottedQuad(const std::uint8_t* bytes) {
  char quad[16];
  return std::string(quad, writeDottedQuad(quad, bytes));
}

// inet_ntop's text of an IPv6 address, made the way it makes it: the first
// longest run of two or more zero groups becomes "::", groups in lower-case
// hex without leading zeros, and an address of the form ::a.b.c.d or
// ::ffff:a.b.c.d ends in its IPv4 dotted quad. Written here because
// inet_ntop formats each group through sprintf, which made up a fifth of a
// reading's own work; the text is made in a buffer so the string is sized
// once.
std::string ipv6Text(const std::uint8_t* bytes) {
  std::uint16_t words[8];
  for (int i = 0; i < 8; ++i) words[i] = static_cast<std::uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  int bestBase = -1, bestLength = 0, base = -1, length = 0;
  for (int i = 0; i <= 8; ++i) {
    if (i < 8 && words[i] == 0) {
      if (base < 0) base = i, length = 0;
      ++length;
    } else if (base >= 0) {
      if (length > bestLength) bestBase = base, bestLength = length;
      base = -1;
    }
  }
  if (bestLength < 2) bestBase = -1;

  static constexpr char kHex[] = "0123456789abcdef";
  char text[48];
  char* out = text;
  for (int i = 0; i < 8; ++i) {
    if (bestBase >= 0 && i >= bestBase && i < bestBase + bestLength) {
      if (i == bestBase) *out++ = ':';
      continue;
    }
    if (i != 0) *out++ = ':';
    if (i == 6 && bestBase == 0 && (bestLength == 6 || (bestLength == 5 && words[5] == 0xFFFF))) {
      out = writeDottedQuad(out, bytes + 12);
      return std::string(text, out);
    }
    const unsigned w = words[i];
    if (w >= 0x1000) *out++ = kHex[w >> 12];
    if (w >= 0x100) *out++ = kHex[(w >> 8) & 0xF];
    if (w >= 0x10) *out++ = kHex[(w >> 4) & 0xF];
    *out++ = kHex[w & 0xF];
  }
  if (bestBase >= 0 && bestBase + bestLength == 8) *out++ = ':';
  return std::string(text, out);
}

}  // namespace

std::string ntop(int family, const void* address) {
  if (address == nullptr) return "";
  std::uint8_t bytes[16];
  if (family == AF_INET) {
    std::memcpy(bytes, address, 4);
    return dottedQuad(bytes);
  }
  if (family == AF_INET6) {
    std::memcpy(bytes, address, 16);
    return ipv6Text(bytes);
  }
  return "";
}

int prefixLength(std::span<const std::uint8_t> mask, int family) {
  const std::size_t start = family == AF_INET ? 4 : 8;
  const std::size_t limit = family == AF_INET ? 4 : 16;
  if (mask.size() <= start) return 0;
  const std::size_t n = std::min(mask.size() - start, limit);
  int length = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t byte = mask[start + i];
    if (byte != 0xFF) return length + std::countl_one(byte);
    length += 8;
  }
  return length;
}

std::span<const std::uint8_t> socketAddressBytes(const sockaddr* address) {
  if (address == nullptr) return {};
  const std::size_t size = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  return {reinterpret_cast<const std::uint8_t*>(address), size};
}

namespace {

// The four address bytes of an AF_INET socket address; false for null or
// another family.
bool ipv4Bytes(const sockaddr* address, std::uint8_t (&bytes)[4]) {
  if (address == nullptr || address->sa_family != AF_INET) return false;
  std::memcpy(bytes, reinterpret_cast<const std::uint8_t*>(address) + offsetof(sockaddr_in, sin_addr), 4);
  return true;
}

}  // namespace

IPv4Address ipv4Address(const sockaddr* address, const sockaddr* netmask, const sockaddr* peer, std::uint32_t flags) {
  constexpr std::uint32_t kBroadcast = 0x2;
  constexpr std::uint32_t kPointToPoint = 0x10;
  IPv4Address record;
  std::uint8_t own[4], mask[4], far[4];
  const bool hasOwn = ipv4Bytes(address, own);
  record.address = hasOwn ? dottedQuad(own) : "0.0.0.0";
  if (netmask != nullptr) {
    if (ipv4Bytes(netmask, mask)) record.netmask = dottedQuad(mask);
    record.prefixLength = prefixLength(socketAddressBytes(netmask), AF_INET);
  }
  if (!ipv4Bytes(peer, far)) return record;
  if ((flags & kPointToPoint) != 0) {
    record.destination = dottedQuad(far);
    return record;
  }
  if ((flags & kBroadcast) == 0) return record;
  static constexpr std::uint8_t kZero[4] = {};
  // The interface-address list, like glibc's getifaddrs, fills the
  // broadcast slot with the address itself when the kernel has no broadcast
  // address for it (added without "brd"). In a subnet of more than two
  // addresses a host address can never be the broadcast address, so there
  // that value means "none"; on /31 and /32 it may be a real (if odd)
  // setting and is kept.
  const bool ownStandingIn = hasOwn && std::memcmp(far, own, 4) == 0 && record.prefixLength.has_value() &&
                             *record.prefixLength < 31;
  if (std::memcmp(far, kZero, 4) != 0 && !ownStandingIn) record.broadcast = dottedQuad(far);
  return record;
}

IPv6Address ipv6Address(const sockaddr_in6& address, const sockaddr* netmask, std::uint32_t flags) {
  IPv6Address record;
  std::uint8_t bytes[16];
  std::memcpy(bytes, &address.sin6_addr, sizeof bytes);
  const bool linkLocal = bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
  if (linkLocal && (bytes[2] != 0 || bytes[3] != 0)) {
    const std::uint32_t embedded = (std::uint32_t{bytes[2]} << 8) | bytes[3];
    record.scopeID = address.sin6_scope_id != 0 ? address.sin6_scope_id : embedded;
    bytes[2] = 0;
    bytes[3] = 0;
  } else {
    record.scopeID = address.sin6_scope_id;
  }
  record.flags = flags;
  record.address = ntop(AF_INET6, bytes);
  if (netmask != nullptr) record.prefixLength = prefixLength(socketAddressBytes(netmask), AF_INET6);
  return record;
}

std::string mediaWord(std::int32_t word) {
  char text[128] = {};
  bcn_media_word_string(word, text, sizeof text);
  return decodeCString(std::span<const char>(text, sizeof text));
}

}  // namespace bcn
