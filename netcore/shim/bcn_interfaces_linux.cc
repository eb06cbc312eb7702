// The per-interface queries, answered from a kernel view, ethtool and
// SIOCGIFMTU, and the AF_PACKET socket-address accessors.
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <bit>
#include <cstddef>
#include <cstring>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/ethtool_linux.h"
#include "netcore/shim/kernel_view.h"
#include "netcore/shim/linux_words.h"

namespace {

// glibc's getifaddrs stores link-layer addresses in a sockaddr_ll whose
// address field is 24 bytes long (enough for InfiniBand); a length above
// that cannot have come from it.
constexpr std::size_t kMaxStoredLinkAddress = 24;

const sockaddr_ll* packetAddress(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_PACKET) return nullptr;
  return reinterpret_cast<const sockaddr_ll*>(address);
}

}  // namespace

extern "C" {

bool bcn_get_ifdata(bcn_kernel_view_t* view, std::uint32_t index, const char* name, bcn_ifdata_t* out) {
  if (view == nullptr || out == nullptr || name == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(index);
  if (link == nullptr || std::strncmp(link->name.c_str(), name, IFNAMSIZ) != 0) return false;
  bcn_ifdata_t data{};
  if (link->stats) {
    const bcn::shim::LinkStats& s = *link->stats;
    data.bytes_in = s.rxBytes;
    data.bytes_out = s.txBytes;
    data.packets_in = s.rxPackets;
    data.packets_out = s.txPackets;
    data.errors_in = s.rxErrors;
    data.errors_out = s.txErrors;
    data.multicast_in = s.multicast;
    data.multicast_out = 0;
    data.collisions = s.collisions;
    data.drops_in = s.rxDropped;
  }
  const auto& ethtool = view->ethtoolAnswer(*link);
  if (ethtool.settings) data.line_speed = std::uint64_t{ethtool.settings->speedMbps} * 1000000u;
  data.mtu = link->mtu;
  data.type = bcn_bsd_interface_type(link->hardwareType);
  *out = data;
  return true;
}

bool bcn_get_media(bcn_kernel_view_t* view, const char* name, bcn_media_t* out) {
  if (view == nullptr || out == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr) return false;
  const auto& ethtool = view->ethtoolAnswer(*link);
  std::optional<bcn_media_t> media;
  if (view->functionalType(*link) == 3) {
    media = bcn::shim::wirelessMedia(ethtool.link);
  } else if (ethtool.settings) {
    media = bcn::shim::ethernetMedia(*ethtool.settings, ethtool.link);
  }
  if (!media) return false;
  *out = *media;
  return true;
}

bool bcn_get_link_identity(bcn_kernel_view_t* view, const char* name, bcn_link_identity_t* out) {
  if (view == nullptr || out == nullptr || name == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr) return false;
  bcn_link_identity_t identity{};
  std::strncpy(identity.kind, link->kind.c_str(), sizeof identity.kind - 1);
  identity.hardware_backed = link->hasParentDevice;
  static_assert(sizeof identity.permanent_address >= bcn::shim::kMaxPermanentAddress);
  const std::vector<std::uint8_t>& permanent = link->permanentAddress;
  identity.permanent_address_length = permanent.size();
  // Most links have none, and memcpy from an empty vector's null data is undefined.
  if (!permanent.empty()) std::memcpy(identity.permanent_address, permanent.data(), permanent.size());
  *out = identity;
  return true;
}

bool bcn_get_mtu(int socket, const char* name, std::uint32_t* out) {
  if (socket < 0 || name == nullptr || out == nullptr) return false;
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
  if (ioctl(socket, SIOCGIFMTU, &ifr) != 0 || ifr.ifr_mtu < 0) return false;
  *out = static_cast<std::uint32_t>(ifr.ifr_mtu);
  return true;
}

bool bcn_get_curcap(bcn_kernel_view_t* view, const char* name, std::uint32_t* out) {
  if (view == nullptr || out == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr) return false;
  const std::vector<std::uint32_t>* table = view->featureTable(*link);
  if (table == nullptr) return false;
  const std::vector<std::uint32_t>& perFeature = *table;
  std::uint32_t active[bcn::shim::kMaxFeatureWords];
  const auto words = bcn::shim::ethtoolActiveFeatures(view->ioctlSocket, link->name.c_str(), perFeature.size(), active);
  if (!words) return false;
  std::uint32_t capabilities = 0;
  // Only the set bits matter, and few features are on.
  for (std::size_t word = 0; word < *words; ++word) {
    for (std::uint32_t bits = active[word]; bits != 0; bits &= bits - 1) {
      const std::size_t bit = word * 32 + static_cast<std::size_t>(std::countr_zero(bits));
      if (bit < perFeature.size()) capabilities |= perFeature[bit];
    }
  }
  *out = capabilities;
  return true;
}

bool bcn_get_functional_type(bcn_kernel_view_t* view, const char* name, std::uint32_t* out) {
  if (view == nullptr || out == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr) return false;
  *out = view->functionalType(*link);
  return true;
}

bool bcn_get_nd6_flags(int ipv6_socket, bcn_kernel_view_t* view, const char* name, std::uint32_t* out) {
  if (ipv6_socket < 0 || view == nullptr || out == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr || !link->inet6) return false;
  *out = bcn::shim::nd6FlagsFrom(*link->inet6, link->flags);
  return true;
}

bool bcn_get_in6_addr_flags(int ipv6_socket, bcn_kernel_view_t* view, const char* name,
                            const struct sockaddr* address, std::uint32_t* out) {
  if (address == nullptr || address->sa_family != AF_INET6) return false;
  if (ipv6_socket < 0 || view == nullptr || out == nullptr) return false;
  const bcn::shim::LinkRecord* link = view->link(name);
  if (link == nullptr) return false;
  sockaddr_in6 in6;
  std::memcpy(&in6, address, sizeof in6);
  bcn_kernel_view::AddressKey key{link->index, {}};
  std::memcpy(key.address.data(), &in6.sin6_addr, 16);
  const bcn::shim::Inet6AddressRecord* record = view->inet6Address(key);
  if (record == nullptr) return false;
  *out = bcn::shim::in6AddressFlagsFrom(record->flags, record->protocol);
  return true;
}

std::size_t bcn_sockaddr_dl_lladdr(const struct sockaddr* address, std::uint8_t* buffer, std::size_t size) {
  const sockaddr_ll* ll = packetAddress(address);
  if (ll == nullptr || buffer == nullptr) return 0;
  const std::size_t length = ll->sll_halen;
  if (length == 0 || length > size || length > kMaxStoredLinkAddress) return 0;
  // Read through the byte view: the stored address may run past the
  // 8 bytes that struct sockaddr_ll declares.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(ll) + offsetof(sockaddr_ll, sll_addr);
  std::memcpy(buffer, bytes, length);
  return length;
}

std::uint32_t bcn_sockaddr_dl_index(const struct sockaddr* address) {
  const sockaddr_ll* ll = packetAddress(address);
  return ll == nullptr ? 0 : static_cast<std::uint32_t>(ll->sll_ifindex);
}

std::uint8_t bcn_sockaddr_dl_type(const struct sockaddr* address) {
  const sockaddr_ll* ll = packetAddress(address);
  return ll == nullptr ? 0 : bcn_bsd_interface_type(ll->sll_hatype);
}

}  // extern "C"
