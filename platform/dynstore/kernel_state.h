// One reading of the kernel's network state that the dynamic store is
// computed from: links, addresses and default routes of the main table.
// Talks rtnetlink in the calling thread's network namespace.
//
// Stateless and thread-safe; each call opens its own netlink socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netcore/export.h"
#include "platform/netprefs/kernel_links.h"

namespace bcn::dynstore {

struct NETCORE_EXPORT KernelAddress {
  std::int32_t linkIndex = 0;
  int family = 0;       // AF_INET or AF_INET6
  std::string address;  // "192.0.2.2", "fd00::2"
  std::uint8_t prefixLength = 0;

  bool operator==(const KernelAddress&) const = default;
};

// A route to 0.0.0.0/0 or ::/0 in the main table, through its first next hop.
struct NETCORE_EXPORT KernelDefaultRoute {
  int family = 0;
  std::int32_t linkIndex = 0;
  std::uint32_t metric = 0;
  std::optional<std::string> gateway;

  bool operator==(const KernelDefaultRoute&) const = default;
};

struct NETCORE_EXPORT KernelState {
  std::vector<netprefs::KernelLink> links;  // interface-index order
  std::vector<KernelAddress> addresses;     // kernel dump order
  std::vector<KernelDefaultRoute> defaultRoutes;
};

// Absent when rtnetlink cannot be reached or a dump fails.
std::optional<KernelState> readKernelState();

}  // namespace bcn::dynstore
