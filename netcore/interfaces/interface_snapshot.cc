#include "netcore/interfaces/interface_snapshot.h"

#include "netcore/interfaces/hash_combine.h"

namespace bcn {

std::string MediaInfo::description() const {
  if (!active) return current;
  return current + " (" + *active + ")";
}

std::optional<FunctionalType> functionalTypeFromRaw(std::uint32_t raw) {
  if (raw > rawValue(FunctionalType::management)) return std::nullopt;
  return static_cast<FunctionalType>(raw);
}

bool InterfaceSnapshot::isLinkActive() const {
  if (!isUp() || !isRunning()) return false;
  return !media || media->status != MediaStatus::inactive;
}

}  // namespace bcn

using bcn::interfaces_detail::hashFields;

std::size_t std::hash<bcn::InterfaceCounters>::operator()(const bcn::InterfaceCounters& c) const noexcept {
  return hashFields(c.bytesIn, c.bytesOut, c.packetsIn, c.packetsOut, c.errorsIn, c.errorsOut,
                    c.multicastIn, c.multicastOut, c.collisions, c.dropsIn);
}

std::size_t std::hash<bcn::MediaInfo>::operator()(const bcn::MediaInfo& m) const noexcept {
  return hashFields(m.current, m.active, m.status);
}

std::size_t std::hash<bcn::InterfaceSnapshot>::operator()(const bcn::InterfaceSnapshot& s) const noexcept {
  return hashFields(s.name, s.index, s.flags, s.mtu, s.ifType, s.baudrate, s.counters, s.linkAddress,
                    s.ipv4, s.ipv6, s.media, s.capabilities, s.nd6Flags, s.functionalType);
}
