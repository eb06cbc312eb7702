// The address values of an interface snapshot: IPv4 and IPv6 addresses and
// the link-layer (hardware) address. Plain values, compared and hashed over
// every field in declaration order; safe to copy between threads. Produced
// by InterfaceReader; a value describes the moment it was read.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT IPv4Address {
  std::string address;                      // dotted quad
  std::optional<std::string> netmask;       // absent when none or not IPv4
  std::optional<int> prefixLength;          // absent exactly when there was no netmask
  std::optional<std::string> broadcast;     // broadcast-capable, non point-to-point links; never "0.0.0.0"
  std::optional<std::string> destination;   // the peer of a point-to-point link

  auto operator<=>(const IPv4Address&) const = default;
};

struct NETCORE_EXPORT IPv6FlagName {
  std::uint32_t mask;
  std::string_view name;
};

struct NETCORE_EXPORT IPv6Address {
  std::string address;              // textual form, zone removed, no "%zone"
  std::optional<int> prefixLength;  // absent when there was no mask
  std::uint32_t scopeID = 0;        // zone index; 0 for global addresses
  std::uint32_t flags = 0;          // IN6_IFF_* bits; 0 when unknown

  // Names of the per-address flags, in display order ("optimistic" comes
  // third although its mask is 0x200).
  static constexpr std::array<IPv6FlagName, 11> flagOrder = {{
      {0x1, "anycast"},
      {0x2, "tentative"},
      {0x200, "optimistic"},
      {0x4, "duplicated"},
      {0x8, "detached"},
      {0x10, "deprecated"},
      {0x40, "autoconf"},
      {0x80, "temporary"},
      {0x100, "dynamic"},
      {0x400, "secured"},
      {0x1000, "clat46"},
  }};

  // The names of the bits set in `flags`, in flagOrder; unlisted bits are
  // not named.
  std::vector<std::string> flagNames() const;

  auto operator<=>(const IPv6Address&) const = default;
};

struct NETCORE_EXPORT LinkAddress {
  std::vector<std::uint8_t> bytes;  // 1 to 32 bytes
  std::uint8_t type = 0;            // BSD interface type of the link-layer address

  // Lower-case hex byte pairs joined by ":" ("00:1c:42:ab:cd:ef"); empty
  // for no bytes.
  std::string description() const;

  auto operator<=>(const LinkAddress&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::IPv4Address> {
  std::size_t operator()(const bcn::IPv4Address& a) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::IPv6Address> {
  std::size_t operator()(const bcn::IPv6Address& a) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::LinkAddress> {
  std::size_t operator()(const bcn::LinkAddress& a) const noexcept;
};
