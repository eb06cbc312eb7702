// InterfaceSnapshot: one network interface as read at one moment, with its
// counters, media state and functional type. Plain values, compared and
// hashed over every field in declaration order (two readings of the same
// interface differ as soon as a counter moves; use id() for identity).
// Safe to copy between threads. InterfaceReader is the only producer.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netcore/export.h"
#include "netcore/interfaces/interface_addresses.h"

namespace bcn {

// Cumulative counters since the interface was attached.
struct NETCORE_EXPORT InterfaceCounters {
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
  std::uint64_t packetsIn = 0;
  std::uint64_t packetsOut = 0;
  std::uint64_t errorsIn = 0;
  std::uint64_t errorsOut = 0;
  std::uint64_t multicastIn = 0;
  std::uint64_t multicastOut = 0;  // Linux counts none: always 0
  std::uint64_t collisions = 0;
  std::uint64_t dropsIn = 0;

  auto operator<=>(const InterfaceCounters&) const = default;
};

enum class MediaStatus { unknown, active, inactive };

struct NETCORE_EXPORT MediaInfo {
  std::string current;                // configured media word as text
  std::optional<std::string> active;  // word in use, only when it differs from the configured one
  MediaStatus status = MediaStatus::unknown;

  // `current`, or "current (active)" when the active word differs.
  std::string description() const;

  auto operator<=>(const MediaInfo&) const = default;
};

enum class FunctionalType : std::uint32_t {
  unknown = 0,
  loopback = 1,
  wired = 2,
  wifiInfra = 3,
  wifiAWDL = 4,
  cellular = 5,
  intcoproc = 6,
  companionLink = 7,
  management = 8,
};

// The case with this raw value; none above 8.
NETCORE_EXPORT std::optional<FunctionalType> functionalTypeFromRaw(std::uint32_t raw);
constexpr std::uint32_t rawValue(FunctionalType type) { return static_cast<std::uint32_t>(type); }

struct NETCORE_EXPORT InterfaceSnapshot {
  std::string name;
  std::uint32_t index = 0;
  std::uint32_t flags = 0;  // BSD interface flags (BitNames::interfaceFlags)
  std::uint32_t mtu = 0;
  std::uint8_t ifType = 0;
  std::uint64_t baudrate = 0;  // bits per second
  InterfaceCounters counters;
  std::optional<LinkAddress> linkAddress;
  std::vector<IPv4Address> ipv4;
  std::vector<IPv6Address> ipv6;
  std::optional<MediaInfo> media;
  std::optional<std::uint32_t> capabilities;  // BitNames::capabilities
  std::optional<std::uint32_t> nd6Flags;      // BitNames::nd6Flags
  FunctionalType functionalType = FunctionalType::unknown;

  const std::string& id() const { return name; }

  // True when flags AND the mask's 32-bit pattern is non-zero.
  bool hasFlag(std::int32_t mask) const { return (flags & static_cast<std::uint32_t>(mask)) != 0; }
  bool isUp() const { return (flags & 0x1) != 0; }
  bool isLoopback() const { return (flags & 0x8) != 0; }
  bool isPointToPoint() const { return (flags & 0x10) != 0; }
  bool isRunning() const { return (flags & 0x40) != 0; }
  // Up and running, and the media (when reported) not known to be down.
  bool isLinkActive() const;

  auto operator<=>(const InterfaceSnapshot&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::InterfaceCounters> {
  std::size_t operator()(const bcn::InterfaceCounters& c) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::MediaInfo> {
  std::size_t operator()(const bcn::MediaInfo& m) const noexcept;
};
template <>
struct NETCORE_EXPORT std::hash<bcn::InterfaceSnapshot> {
  std::size_t operator()(const bcn::InterfaceSnapshot& s) const noexcept;
};
