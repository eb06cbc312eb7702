#include "netcore/interfaces/bit_names.h"

#include <charconv>

namespace bcn {
namespace {

BitNames fromNames(std::initializer_list<const char*> names) {
  std::vector<std::pair<int, std::string>> bits;
  int position = 0;
  for (const char* name : names) bits.emplace_back(position++, name);
  return BitNames(std::move(bits));
}

}  // namespace

const BitNames& BitNames::interfaceFlags() {
  static const BitNames table = fromNames({"UP", "BROADCAST", "DEBUG", "LOOPBACK", "POINTOPOINT", "SMART",
                                           "RUNNING", "NOARP", "PROMISC", "ALLMULTI", "OACTIVE", "SIMPLEX",
                                           "LINK0", "LINK1", "LINK2", "MULTICAST"});
  return table;
}

const BitNames& BitNames::capabilities() {
  static const BitNames table =
      fromNames({"RXCSUM", "TXCSUM", "VLAN_MTU", "VLAN_HWTAGGING", "JUMBO_MTU", "TSO4", "TSO6", "LRO", "AV",
                 "TXSTATUS", "CHANNEL_IO", "HW_TIMESTAMP", "SW_TIMESTAMP", "PARTIAL_CSUM", "ZEROINVERT_CSUM",
                 "LRO_NUM_SEG"});
  return table;
}

const BitNames& BitNames::nd6Flags() {
  static const BitNames table =
      fromNames({"PERFORMNUD", "ACCEPT_RTADV", "PREFER_SOURCE", "IFDISABLED", "DONT_SET_IFROUTE",
                 "PROXY_PREFIXES", "IGNORE_NA", "INSECURE", "REPLICATED", "DAD"});
  return table;
}

std::vector<std::string> BitNames::names(std::uint32_t value) const {
  std::vector<std::string> out;
  for (const auto& [position, name] : bits_) {
    const std::uint32_t mask = position >= 0 && position < 32 ? 1u << position : 0u;
    if ((value & mask) != 0) out.push_back(name);
  }
  return out;
}

std::string BitNames::format(std::uint32_t value) const {
  char hex[8] = {};
  const auto end = std::to_chars(hex, hex + sizeof hex, value, 16).ptr;
  std::string text(hex, end);
  text += '<';
  bool first = true;
  for (const std::string& name : names(value)) {
    if (!first) text += ',';
    text += name;
    first = false;
  }
  return text + ">";
}

}  // namespace bcn
