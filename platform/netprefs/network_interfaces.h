// The interface list of the network configuration: every link a service can
// be configured on, with the name, type and hardware address the
// configuration presents for it.
//
// Stateless and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "netcore/export.h"
#include "platform/netprefs/kernel_links.h"

namespace bcn::netprefs {

struct NETCORE_EXPORT NetworkInterfaceInfo {
  std::optional<std::string> bsdName;
  std::optional<std::string> displayName;      // "Ethernet (eth0)"
  std::optional<std::string> interfaceType;    // "Ethernet", "IEEE80211", "Bridge", ...
  std::optional<std::string> hardwareAddress;  // "02:fc:00:00:00:01"

  bool operator==(const NetworkInterfaceInfo&) const = default;
};

// The configurable links among `links`, in their order.
std::vector<NetworkInterfaceInfo> networkInterfaces(const std::vector<KernelLink>& links);

// The same for the calling thread's namespace; empty when the links cannot be read.
NETCORE_EXPORT std::vector<NetworkInterfaceInfo> copyAllNetworkInterfaces();

}  // namespace bcn::netprefs
