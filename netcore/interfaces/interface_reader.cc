#include "netcore/interfaces/interface_reader.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "netcore/c_string.h"
#include "netcore/interfaces/address_records.h"
#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/name_index.h"

namespace bcn {
namespace {

struct ViewDeleter {
  void operator()(bcn_kernel_view_t* view) const { bcn_kernel_view_close(view); }
};

std::string_view entryName(const bcn_ifaddr_t& entry) { return entry.name == nullptr ? "" : entry.name; }

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

// The text of the media words seen in one reading: interfaces of one kind
// share them, and each text is worth a lookup in the media tables.
struct InterfaceReader::MediaTexts {
  std::vector<std::pair<std::int32_t, std::string>> known;

  const std::string& of(std::int32_t word) {
    for (const auto& [w, text] : known) {
      if (w == word) return text;
    }
    return known.emplace_back(word, mediaWord(word)).second;
  }
};

InterfaceReader::InterfaceReader()
    : sock4_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
      sock6_(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
      session_(bcn_kernel_session_open()) {}

InterfaceReader::~InterfaceReader() {
  bcn_kernel_session_close(session_);
  if (sock4_ >= 0) close(sock4_);
  if (sock6_ >= 0) close(sock6_);
}

std::vector<InterfaceSnapshot> InterfaceReader::snapshot() const {
  const std::unique_ptr<bcn_kernel_view_t, ViewDeleter> view(bcn_kernel_view_open(session_, sock4_, true));
  const bcn_ifaddr_t* entries = nullptr;
  const std::size_t count = bcn_kernel_view_entries(view.get(), &entries);
  if (count == 0) return {};

  std::vector<InterfaceSnapshot> ordered;
  ordered.reserve(count);
  // Names point into the view, which outlives this loop.
  shim::NameIndex byName;
  byName.reset(count);
  std::vector<bool> hasLinkEntry;
  hasLinkEntry.reserve(count);
  for (std::size_t e = 0; e < count; ++e) {
    const bcn_ifaddr_t* entry = &entries[e];
    const std::string_view name = entryName(*entry);
    const std::uint32_t position = byName.findOrInsert(name, static_cast<std::uint32_t>(ordered.size()));
    if (position == ordered.size()) {
      InterfaceSnapshot& fresh = ordered.emplace_back();
      fresh.name = name;
      fresh.flags = bcn_bsd_interface_flags(entry->flags);
      hasLinkEntry.push_back(false);
    }
    InterfaceSnapshot& snapshot = ordered[position];
    if (entry->link_index != 0) {
      hasLinkEntry[position] = true;
      snapshot.index = entry->link_index;
    }
    const sockaddr* address = entry->address;
    if (address == nullptr) continue;
    switch (address->sa_family) {
      case AF_INET:
        snapshot.ipv4.push_back(ipv4Address(address, entry->netmask, entry->peer, entry->flags));
        break;
      case AF_INET6:
        snapshot.ipv6.push_back(ipv6Address(*entry, snapshot.name, view.get()));
        break;
      case AF_PACKET:
        hasLinkEntry[position] = true;
        applyLinkEntry(snapshot, address);
        break;
      default:
        break;
    }
  }

  MediaTexts texts;
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    InterfaceSnapshot& snapshot = ordered[i];
    // The link entry carries the index; only names without one (address
    // labels such as "eth0:1", which the kernel resolves to their link)
    // need the extra lookup.
    if (!hasLinkEntry[i] || snapshot.index == 0) snapshot.index = if_nametoindex(snapshot.name.c_str());
    bcn_ifdata_t data{};
    if (bcn_get_ifdata(view.get(), snapshot.index, snapshot.name.c_str(), &data)) applyStatistics(snapshot, data);
    readIoctls(snapshot, view.get(), texts);
  }
  return ordered;
}

std::map<std::string, LinkIdentity> InterfaceReader::linkIdentities(
    std::span<const InterfaceSnapshot> snapshots) const {
  std::map<std::string, LinkIdentity> identities;
  const std::unique_ptr<bcn_kernel_view_t, ViewDeleter> view(bcn_kernel_view_open(session_, sock4_, false));
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

void InterfaceReader::readIoctls(InterfaceSnapshot& snapshot, bcn_kernel_view_t* view, MediaTexts& texts) const {
  const char* name = snapshot.name.c_str();
  snapshot.media = media(snapshot.name, view, texts);
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

std::optional<MediaInfo> InterfaceReader::media(const std::string& name, bcn_kernel_view_t* view,
                                                MediaTexts& texts) const {
  bcn_media_t words{};
  if (!bcn_get_media(view, name.c_str(), &words)) return std::nullopt;
  MediaInfo info;
  if (!bcn_media_status_valid(words.status)) {
    info.status = MediaStatus::unknown;
  } else {
    info.status = bcn_media_status_active(words.status) ? MediaStatus::active : MediaStatus::inactive;
  }
  info.current = texts.of(words.current);
  if (words.active != words.current) info.active = texts.of(words.active);
  return info;
}

IPv6Address InterfaceReader::ipv6Address(const bcn_ifaddr_t& entry, const std::string& ifname,
                                         bcn_kernel_view_t* view) const {
  sockaddr_in6 address;
  std::memcpy(&address, entry.address, sizeof address);
  std::uint32_t flags = 0;
  if (!bcn_get_in6_addr_flags(sock6_, view, ifname.c_str(), entry.address, &flags)) flags = 0;
  return bcn::ipv6Address(address, entry.netmask, flags);
}

}  // namespace bcn
