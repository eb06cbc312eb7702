#include "netcore/sysconfig/network_metadata.h"

namespace bcn {
namespace {

std::size_t mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

template <typename T>
std::size_t hashOf(const T& value) {
  return std::hash<T>{}(value);
}

}  // namespace

std::optional<NetworkService> NetworkMetadata::service(std::string_view bsdName) const {
  for (const NetworkService& candidate : services) {
    if (candidate.bsdName == bsdName) return candidate;
  }
  return std::nullopt;
}

}  // namespace bcn

std::size_t std::hash<bcn::NetworkService>::operator()(const bcn::NetworkService& s) const noexcept {
  std::size_t seed = bcn::hashOf(s.id);
  seed = bcn::mix(seed, bcn::hashOf(s.name));
  seed = bcn::mix(seed, bcn::hashOf(s.enabled));
  seed = bcn::mix(seed, bcn::hashOf(s.bsdName));
  return bcn::mix(seed, bcn::hashOf(s.hidden));
}

std::size_t std::hash<bcn::InterfaceMetadata>::operator()(const bcn::InterfaceMetadata& m) const noexcept {
  std::size_t seed = bcn::hashOf(m.bsdName);
  seed = bcn::mix(seed, bcn::hashOf(m.displayName));
  seed = bcn::mix(seed, bcn::hashOf(m.interfaceType));
  return bcn::mix(seed, bcn::hashOf(m.hardwareAddress));
}

std::size_t std::hash<bcn::NetworkMetadata>::operator()(const bcn::NetworkMetadata& m) const noexcept {
  // Summing entry hashes makes the map's hash independent of its order,
  // as its equality is.
  std::size_t interfaces = 0;
  for (const auto& [name, metadata] : m.interfaces) {
    interfaces += bcn::mix(bcn::hashOf(name), bcn::hashOf(metadata));
  }
  std::size_t seed = bcn::mix(0, interfaces);
  for (const bcn::NetworkService& service : m.services) seed = bcn::mix(seed, bcn::hashOf(service));
  seed = bcn::mix(seed, bcn::hashOf(m.primaryIPv4Interface));
  return bcn::mix(seed, bcn::hashOf(m.primaryIPv6Interface));
}
