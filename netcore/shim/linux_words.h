// Linux numbers turned into the BSD words the inventory speaks: ND6 flags
// from the IPv6 settings, IN6_IFF flags from IFA_F flags. (Interface flags
// and types are public: bcn_bsd_interface_flags/_type.) Pure functions.
#pragma once

#include <cstdint>

#include "netcore/shim/netlink_parse.h"

namespace bcn::shim {

// ND6 flag bits (positions as in the ND6 vocabulary).
inline constexpr std::uint32_t kNd6PerformNud = 1u << 0;
inline constexpr std::uint32_t kNd6AcceptRtadv = 1u << 1;
inline constexpr std::uint32_t kNd6ProxyPrefixes = 1u << 5;
inline constexpr std::uint32_t kNd6IgnoreNa = 1u << 6;
inline constexpr std::uint32_t kNd6IfDisabled = 1u << 3;
inline constexpr std::uint32_t kNd6Dad = 1u << 9;

// `linuxFlags` are the interface's IFF_* flags: neighbour unreachability
// detection runs on every IPv6 interface that resolves neighbours at all
// (not IFF_NOARP, not loopback).
std::uint32_t nd6FlagsFrom(const Inet6Settings& settings, std::uint32_t linuxFlags);

// IN6_IFF words.
inline constexpr std::uint32_t kIn6Tentative = 0x2;
inline constexpr std::uint32_t kIn6Duplicated = 0x4;
inline constexpr std::uint32_t kIn6Deprecated = 0x10;
inline constexpr std::uint32_t kIn6Autoconf = 0x40;
inline constexpr std::uint32_t kIn6Temporary = 0x80;
inline constexpr std::uint32_t kIn6Dynamic = 0x100;
inline constexpr std::uint32_t kIn6Optimistic = 0x200;
inline constexpr std::uint32_t kIn6Secured = 0x400;

// `protocol` is IFA_PROTO (IFAPROT_KERNEL_RA marks addresses made from a
// router advertisement).
std::uint32_t in6AddressFlagsFrom(std::uint32_t ifaFlags, std::uint8_t protocol);

}  // namespace bcn::shim
