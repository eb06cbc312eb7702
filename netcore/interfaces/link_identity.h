// LinkIdentity: what the kernel says makes a link the one it is, as
// opposed to how it is set up now (its name and current hardware address
// can be changed at will, and a bridge, bond or VLAN routinely takes its
// port's address). Read by InterfaceReader::linkIdentities().
//
// A plain value: copyable and comparable; safe to pass between threads.
#pragma once

#include <compare>
#include <optional>
#include <string>

#include "netcore/export.h"
#include "netcore/interfaces/interface_addresses.h"

namespace bcn {

struct NETCORE_EXPORT LinkIdentity {
  // The kind of virtual link the kernel made ("bridge", "bond", "vlan",
  // "veth", "tun", "wireguard" ...); empty for hardware ports and loopback.
  std::string kind;
  // A bus device backs the link: a physical port (also a USB or virtio one).
  bool hardwareBacked = false;
  // The address the driver read from the device, which no configuration
  // changes. Absent for virtual links, for a device without one, and on
  // kernels before Linux 5.6, which do not report it.
  std::optional<LinkAddress> permanentAddress;

  auto operator<=>(const LinkIdentity&) const = default;
};

}  // namespace bcn
