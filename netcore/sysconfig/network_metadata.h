// The network configuration as one picture: interfaces by BSD name, the
// services in display order, and which interfaces hold the primary IPv4
// and IPv6 routes. SystemConfigurationReader produces it; it matches the
// interface inventory by BSD name.
//
// Plain values: copyable, comparable, hashable over all fields in
// declaration order (the interface map as an unordered whole); safe to pass
// between threads.
#pragma once

#include <compare>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT NetworkService {
  // The configuration's service identifier.
  std::string id;
  // User-visible name; the identifier when the service has none.
  std::string name;
  bool enabled = false;
  // BSD name of the interface the service runs on (en0, utun3), when known.
  std::optional<std::string> bsdName;
  // Marked hidden in its interface configuration.
  bool hidden = false;

  auto operator<=>(const NetworkService&) const = default;
};

struct NETCORE_EXPORT InterfaceMetadata {
  std::string bsdName;
  std::optional<std::string> displayName;
  std::optional<std::string> interfaceType;
  std::optional<std::string> hardwareAddress;

  auto operator<=>(const InterfaceMetadata&) const = default;
};

struct NETCORE_EXPORT NetworkMetadata {
  std::unordered_map<std::string, InterfaceMetadata> interfaces;
  // Configured services in display order, then transient services.
  std::vector<NetworkService> services;
  std::optional<std::string> primaryIPv4Interface;
  std::optional<std::string> primaryIPv6Interface;

  bool operator==(const NetworkMetadata&) const = default;

  // The first service, in `services` order, whose bsdName is exactly
  // `bsdName`; nothing when none is.
  std::optional<NetworkService> service(std::string_view bsdName) const;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::NetworkService> {
  std::size_t operator()(const bcn::NetworkService& service) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::InterfaceMetadata> {
  std::size_t operator()(const bcn::InterfaceMetadata& metadata) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::NetworkMetadata> {
  std::size_t operator()(const bcn::NetworkMetadata& metadata) const noexcept;
};
