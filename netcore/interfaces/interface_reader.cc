#include "netcore/interfaces/interface_reader.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <unordered_map>

#include "netcore/c_string.h"
#include "netcore/interfaces/address_records.h"
#include "netcore/shim/bcn_interfaces.h"

namespace bcn {
namespace {

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

struct ViewDeleter {
  void operator()(bcn_kernel_view_t* view) const { bcn_kernel_view_close(view); }
};

std::string entryName(const ifaddrs& entry) {
  if (entry.ifa_name == nullptr) return "";
  return decodeCString(std::span<const char>(entry.ifa_name, std::strlen(entry.ifa_name)));
}

void applyLinkEntry(InterfaceSnapshot& snapshot, const sockaddr* address) {
  if (const std::uint32_t index = bcn_sockaddr_dl_index(address); index != 0) snapshot.index = index;
  std::uint8_t buffer[32] = {};
  const std::size_t length = bcn_sockaddr_dl_lladdr(address, buffer, sizeof buffer);
  if (length == 0) {
    snapshot.linkAddress.reset();
    return;
  }
  snapshot.linkAddress = LinkAddress{{buffer, buffer + length}, bcn_sockaddr_dl_type(address)};
}

void applyStatistics(InterfaceSnapshot& snapshot, const bcn_ifdata_t& data) {
  InterfaceCounters& c = snapshot.counters;
  c.bytesIn = data.bytes_in;
  c.bytesOut = data.bytes_out;
  c.packetsIn = data.packets_in;
  c.packetsOut = data.packets_out;
  c.errorsIn = data.errors_in;
  c.errorsOut = data.errors_out;
  c.multicastIn = data.multicast_in;
  c.multicastOut = data.multicast_out;
  c.collisions = data.collisions;
  c.dropsIn = data.drops_in;
  snapshot.mtu = data.mtu;
  snapshot.ifType = data.type;
  snapshot.baudrate = data.line_speed;
}

}  // namespace

InterfaceReader::InterfaceReader()
    : sock4_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
      sock6_(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

InterfaceReader::~InterfaceReader() {
  if (sock4_ >= 0) close(sock4_);
  if (sock6_ >= 0) close(sock6_);
}

std::vector<InterfaceSnapshot> InterfaceReader::snapshot() const {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0 || raw == nullptr) return {};
  const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
  // Taken after the address list, so an interface created in between is
  // simply not found in it (its queries fail), never mixed up.
  const std::unique_ptr<bcn_kernel_view_t, ViewDeleter> view(bcn_kernel_view_open(sock4_));

  std::vector<InterfaceSnapshot> ordered;
  std::unordered_map<std::string, std::size_t> byName;
  std::vector<bool> hasLinkEntry;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    std::string name = entryName(*entry);
    auto [it, inserted] = byName.try_emplace(name, ordered.size());
    if (inserted) {
      InterfaceSnapshot fresh;
      fresh.name = std::move(name);
      fresh.flags = bcn_bsd_interface_flags(entry->ifa_flags);
      ordered.push_back(std::move(fresh));
      hasLinkEntry.push_back(false);
    }
    InterfaceSnapshot& snapshot = ordered[it->second];
    const sockaddr* address = entry->ifa_addr;
    if (address == nullptr) continue;
    switch (address->sa_family) {
      case AF_INET:
        snapshot.ipv4.push_back(
            ipv4Address(address, entry->ifa_netmask, entry->ifa_broadaddr, entry->ifa_flags));
        break;
      case AF_INET6:
        snapshot.ipv6.push_back(ipv6Address(*entry, snapshot.name, view.get()));
        break;
      case AF_PACKET:
        hasLinkEntry[it->second] = true;
        applyLinkEntry(snapshot, address);
        break;
      default:
        break;
    }
  }

  for (std::size_t i = 0; i < ordered.size(); ++i) {
    InterfaceSnapshot& snapshot = ordered[i];
    // The link entry carries the index; only names without one (address
    // labels such as "eth0:1") need the extra lookup.
    if (!hasLinkEntry[i] || snapshot.index == 0) snapshot.index = if_nametoindex(snapshot.name.c_str());
    bcn_ifdata_t data{};
    if (bcn_get_ifdata(view.get(), snapshot.index, snapshot.name.c_str(), &data)) applyStatistics(snapshot, data);
    readIoctls(snapshot, view.get());
  }
  return ordered;
}

std::map<std::string, LinkIdentity> InterfaceReader::linkIdentities(
    std::span<const InterfaceSnapshot> snapshots) const {
  std::map<std::string, LinkIdentity> identities;
  const std::unique_ptr<bcn_kernel_view_t, ViewDeleter> view(bcn_kernel_view_open(sock4_));
  for (const InterfaceSnapshot& snapshot : snapshots) {
    bcn_link_identity_t raw{};
    if (!bcn_get_link_identity(view.get(), snapshot.name.c_str(), &raw)) continue;
    LinkIdentity identity;
    identity.kind = decodeCString(std::span<const char>(raw.kind, sizeof raw.kind));
    identity.hardwareBacked = raw.hardware_backed;
    if (raw.permanent_address_length > 0) {
      const std::uint8_t* bytes = raw.permanent_address;
      const std::uint8_t type = snapshot.linkAddress ? snapshot.linkAddress->type : snapshot.ifType;
      identity.permanentAddress = LinkAddress{{bytes, bytes + raw.permanent_address_length}, type};
    }
    identities.emplace(snapshot.name, std::move(identity));
  }
  return identities;
}

void InterfaceReader::readIoctls(InterfaceSnapshot& snapshot, bcn_kernel_view_t* view) const {
  const char* name = snapshot.name.c_str();
  snapshot.media = media(snapshot.name, view);
  std::uint32_t value = 0;
  snapshot.capabilities.reset();
  if (bcn_get_curcap(view, name, &value)) snapshot.capabilities = value;
  snapshot.nd6Flags.reset();
  if (bcn_get_nd6_flags(sock6_, view, name, &value)) snapshot.nd6Flags = value;
  if (bcn_get_functional_type(view, name, &value)) {
    snapshot.functionalType = functionalTypeFromRaw(value).value_or(FunctionalType::unknown);
  }
  if (snapshot.mtu == 0 && bcn_get_mtu(sock4_, name, &value)) snapshot.mtu = value;
}

std::optional<MediaInfo> InterfaceReader::media(const std::string& name, bcn_kernel_view_t* view) const {
  bcn_media_t words{};
  if (!bcn_get_media(view, name.c_str(), &words)) return std::nullopt;
  MediaInfo info;
  if (!bcn_media_status_valid(words.status)) {
    info.status = MediaStatus::unknown;
  } else {
    info.status = bcn_media_status_active(words.status) ? MediaStatus::active : MediaStatus::inactive;
  }
  info.current = mediaWord(words.current);
  if (words.active != words.current) info.active = mediaWord(words.active);
  return info;
}

IPv6Address InterfaceReader::ipv6Address(const ifaddrs& entry, const std::string& ifname,
                                         bcn_kernel_view_t* view) const {
  sockaddr_in6 address;
  std::memcpy(&address, entry.ifa_addr, sizeof address);
  std::uint32_t flags = 0;
  if (!bcn_get_in6_addr_flags(sock6_, view, ifname.c_str(), entry.ifa_addr, &flags)) flags = 0;
  return bcn::ipv6Address(address, entry.ifa_netmask, flags);
}

}  // namespace bcn
