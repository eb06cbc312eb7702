// Text forms of an interface snapshot: the ifconfig-style block of
// `beaconbar interfaces`, and the short words and address forms the
// overview shares with it. Everything is derived from the library's value
// model and vocabularies (BitNames, IPv6 flag names, media descriptions);
// nothing here reads the machine. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "netcore/interfaces/interface_snapshot.h"

namespace bcn::cli {

// "active" (up, running, media not down), "inactive" (up without link),
// or "down" (administratively down).
std::string_view linkState(const InterfaceSnapshot& snapshot);

// Display name of a functional type ("Ethernet", "Wi-Fi", "Loopback" ...);
// empty for unknown.
std::string_view functionalTypeTitle(FunctionalType type);
// The case name, as the JSON output spells it ("wired", "wifiInfra" ...).
std::string_view functionalTypeKey(FunctionalType type);
std::string_view mediaStatusKey(MediaStatus status);

// "192.0.2.2/24" (or the bare address without a netmask).
std::string shortAddress(const IPv4Address& address);
// "fe80::1%eth0/64": the zone is the interface's name when the scope is
// its own index, else the number.
std::string shortAddress(const IPv6Address& address, const InterfaceSnapshot& owner);

// "ether 02:42:ac:11:00:02" ("lladdr ..." for other hardware); empty when
// the interface has no hardware address or only an all-zero one, which
// identifies nothing (loopback).
std::string hardwareAddress(const InterfaceSnapshot& snapshot);

// The ifconfig-style block: the header line
//   eth0: flags=8863<UP,BROADCAST,...> mtu 1500 index 2
// then tab-indented lines for options, hardware and protocol addresses,
// ND6 options, media and status, type, line speed and the counters.
// Lines whose value is absent are left out. Ends with a newline.
std::string formatInterfaceBlock(const InterfaceSnapshot& snapshot);

}  // namespace bcn::cli
