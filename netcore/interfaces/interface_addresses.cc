#include "netcore/interfaces/interface_addresses.h"

#include "netcore/interfaces/hash_combine.h"

namespace bcn {

std::vector<std::string> IPv6Address::flagNames() const {
  std::vector<std::string> names;
  for (const IPv6FlagName& f : flagOrder) {
    if ((flags & f.mask) != 0) names.emplace_back(f.name);
  }
  return names;
}

std::string LinkAddress::description() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ':';
    text += kHex[b >> 4];
    text += kHex[b & 0xF];
  }
  return text;
}

}  // namespace bcn

using bcn::interfaces_detail::hashFields;

std::size_t std::hash<bcn::IPv4Address>::operator()(const bcn::IPv4Address& a) const noexcept {
  return hashFields(a.address, a.netmask, a.prefixLength, a.broadcast, a.destination);
}

std::size_t std::hash<bcn::IPv6Address>::operator()(const bcn::IPv6Address& a) const noexcept {
  return hashFields(a.address, a.prefixLength, a.scopeID, a.flags);
}

std::size_t std::hash<bcn::LinkAddress>::operator()(const bcn::LinkAddress& a) const noexcept {
  return hashFields(a.bytes, a.type);
}
