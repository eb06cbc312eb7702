#include "tools/beaconbar/interface_text.h"

#include <algorithm>
#include <cstdio>

#include "netcore/interfaces/bit_names.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

// BSD interface type of Ethernet-framed hardware addresses (IFT_ETHER,
// IFT_IEEE80211), which ifconfig labels "ether".
constexpr std::uint8_t kEtherType = 0x06;
constexpr std::uint8_t kIEEE80211Type = 0x47;

std::string hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x", value);
  return buffer;
}

std::string zoneOf(const IPv6Address& address, const InterfaceSnapshot& owner) {
  if (address.scopeID == 0) return {};
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
  // overlap for "%" + string.
  std::string zone(1, '%');
  zone += address.scopeID == owner.index ? owner.name : std::to_string(address.scopeID);
  return zone;
}

void appendIPv4Line(std::string& out, const IPv4Address& a) {
  out += "\tinet " + a.address;
  if (a.destination) out += " --> " + *a.destination;
  if (a.netmask) {
    out += " netmask " + *a.netmask;
  } else if (a.prefixLength) {
    out += " prefixlen " + std::to_string(*a.prefixLength);
  }
  if (a.broadcast) out += " broadcast " + *a.broadcast;
  out += "\n";
}

void appendIPv6Line(std::string& out, const IPv6Address& a, const InterfaceSnapshot& owner) {
  out += "\tinet6 " + a.address + zoneOf(a, owner);
  if (a.prefixLength) out += " prefixlen " + std::to_string(*a.prefixLength);
  for (const std::string& name : a.flagNames()) out += " " + name;
  if (a.scopeID != 0) out += " scopeid " + hex(a.scopeID);
  out += "\n";
}

void appendCounters(std::string& out, const InterfaceCounters& c) {
  out += "\tRX packets " + std::to_string(c.packetsIn) + " bytes " + std::to_string(c.bytesIn) + " (" +
         formatBytes(static_cast<double>(c.bytesIn)) + ") errors " + std::to_string(c.errorsIn) + " dropped " +
         std::to_string(c.dropsIn) + " multicast " + std::to_string(c.multicastIn) + "\n";
  out += "\tTX packets " + std::to_string(c.packetsOut) + " bytes " + std::to_string(c.bytesOut) + " (" +
         formatBytes(static_cast<double>(c.bytesOut)) + ") errors " + std::to_string(c.errorsOut) + " collisions " +
         std::to_string(c.collisions) + "\n";
}

}  // namespace

std::string_view linkState(const InterfaceSnapshot& snapshot) {
  if (!snapshot.isUp()) return "down";
  return snapshot.isLinkActive() ? "active" : "inactive";
}

std::string_view functionalTypeTitle(FunctionalType type) {
  switch (type) {
    case FunctionalType::unknown:
      return "";
    case FunctionalType::loopback:
      return "Loopback";
    case FunctionalType::wired:
      return "Ethernet";
    case FunctionalType::wifiInfra:
      return "Wi-Fi";
    case FunctionalType::wifiAWDL:
      return "AWDL";
    case FunctionalType::cellular:
      return "Cellular";
    case FunctionalType::intcoproc:
      return "Coprocessor";
    case FunctionalType::companionLink:
      return "Companion link";
    case FunctionalType::management:
      return "Management";
  }
  return "";
}

std::string_view functionalTypeKey(FunctionalType type) {
  switch (type) {
    case FunctionalType::unknown:
      return "unknown";
    case FunctionalType::loopback:
      return "loopback";
    case FunctionalType::wired:
      return "wired";
    case FunctionalType::wifiInfra:
      return "wifiInfra";
    case FunctionalType::wifiAWDL:
      return "wifiAWDL";
    case FunctionalType::cellular:
      return "cellular";
    case FunctionalType::intcoproc:
      return "intcoproc";
    case FunctionalType::companionLink:
      return "companionLink";
    case FunctionalType::management:
      return "management";
  }
  return "unknown";
}

std::string_view mediaStatusKey(MediaStatus status) {
  switch (status) {
    case MediaStatus::unknown:
      return "unknown";
    case MediaStatus::active:
      return "active";
    case MediaStatus::inactive:
      return "inactive";
  }
  return "unknown";
}

std::string shortAddress(const IPv4Address& address) {
  if (address.destination) {
    return address.address + " --> " + *address.destination;
  }
  if (!address.prefixLength) return address.address;
  return address.address + "/" + std::to_string(*address.prefixLength);
}

std::string shortAddress(const IPv6Address& address, const InterfaceSnapshot& owner) {
  std::string text = address.address + zoneOf(address, owner);
  if (address.prefixLength) {
    text += '/';
    text += std::to_string(*address.prefixLength);
  }
  return text;
}

std::string hardwareAddress(const InterfaceSnapshot& snapshot) {
  const auto& link = snapshot.linkAddress;
  if (!link || std::all_of(link->bytes.begin(), link->bytes.end(), [](std::uint8_t b) { return b == 0; })) return {};
  const bool ether = link->type == kEtherType || link->type == kIEEE80211Type;
  return (ether ? "ether " : "lladdr ") + link->description();
}

std::string formatInterfaceBlock(const InterfaceSnapshot& s) {
  std::string out = s.name + ": flags=" + BitNames::interfaceFlags().format(s.flags);
  if (s.mtu != 0) out += " mtu " + std::to_string(s.mtu);
  if (s.index != 0) out += " index " + std::to_string(s.index);
  out += "\n";
  if (s.capabilities) out += "\toptions=" + BitNames::capabilities().format(*s.capabilities) + "\n";
  if (const std::string hardware = hardwareAddress(s); !hardware.empty()) out += "\t" + hardware + "\n";
  for (const IPv4Address& a : s.ipv4) appendIPv4Line(out, a);
  for (const IPv6Address& a : s.ipv6) appendIPv6Line(out, a, s);
  if (s.nd6Flags) out += "\tnd6 options=" + BitNames::nd6Flags().format(*s.nd6Flags) + "\n";
  if (s.media) {
    out += "\tmedia: " + s.media->description() + "\n";
    if (s.media->status != MediaStatus::unknown) {
      out += std::string("\tstatus: ") + std::string(mediaStatusKey(s.media->status)) + "\n";
    }
  }
  if (const std::string_view type = functionalTypeTitle(s.functionalType); !type.empty()) {
    out += "\ttype: " + std::string(type) + "\n";
  }
  if (s.baudrate != 0) out += "\tlink rate: " + formatLineSpeed(s.baudrate) + "\n";
  appendCounters(out, s.counters);
  return out;
}

}  // namespace bcn::cli
