// The preferences a machine has before anyone saved any: one set holding one
// service per configurable kernel link, built from the kernel's link list.
// The same links always give the same document, so every process that
// looks before the first commit sees the same service identifiers.
//
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/netprefs/kernel_links.h"
#include "platform/plist.h"

namespace bcn::netprefs {

// How a link is presented: interface type as the interface list reports it
// ("Ethernet", "IEEE80211", "Bridge", "VLAN", "Bond"), the entity's "Type" and
// "Hardware" values, and the label services are named after ("Wi-Fi").
struct LinkDescription {
  std::string interfaceType;
  std::string entityType;
  std::string entityHardware;
  std::string label;
};

// Links a service can be configured on: Ethernet-framed hardware, bridges,
// VLANs and bonds. Loopback and tunnels (tun/tap, WireGuard, PPP, IP-in-IP)
// are not; they show up as transient services while they exist.
bool isConfigurableLink(const KernelLink& link);

LinkDescription describeLink(const KernelLink& link);

// "Ethernet (eth0)".
std::string defaultServiceName(const KernelLink& link);

// An upper-case UUID derived from the device name, the same in every process.
std::string stableServiceID(std::string_view deviceName);

// The default document: a set "Automatic" whose services follow `links` in
// order. A link that is administratively down gets a disabled service, so
// applying the default changes nothing in the kernel.
PlistDictionary defaultPreferences(const std::vector<KernelLink>& links);

}  // namespace bcn::netprefs
