// Reading the two rtnetlink dumps that a kernel view is made of, the
// interface-address list built from them, and the view's on-demand answers.
#include <fcntl.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/ethtool_linux.h"
#include "netcore/shim/kernel_view.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool ueventSays(const std::string& name, const char* line) {
  const std::string path = "/sys/class/net/" + name + "/uevent";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[1024] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  return std::strstr(text, line) != nullptr;
}

}  // namespace

const bcn::shim::LinkRecord* bcn_kernel_view::link(const char* name) const {
  if (name == nullptr) return nullptr;
  if (lastByName != nullptr && std::strcmp(lastByName->name.c_str(), name) == 0) return lastByName;
  const std::uint32_t position = byName.find(std::string_view(name));
  if (position == bcn::shim::NameIndex::kAbsent) return nullptr;
  lastByName = &links[position];
  return lastByName;
}

const bcn::shim::LinkRecord* bcn_kernel_view::link(std::uint32_t index) const {
  const auto after = std::upper_bound(byIndex.begin(), byIndex.end(), index,
                                     [](std::uint32_t i, const auto& entry) { return i < entry.first; });
  if (after == byIndex.begin() || std::prev(after)->first != index) return nullptr;
  return &links[std::prev(after)->second];
}

const bcn::shim::Inet6AddressRecord* bcn_kernel_view::inet6Address(const AddressKey& key) const {
  // The first of equal keys counts, so the guess holds only when the one
  // before it differs.
  if (const std::size_t at = nextInet6; at < inet6Addresses.size() && inet6Addresses[at].first == key &&
                                        (at == 0 || inet6Addresses[at - 1].first != key)) {
    nextInet6 = at + 1;
    return &inet6Addresses[at].second;
  }
  const auto it = std::lower_bound(inet6Addresses.begin(), inet6Addresses.end(), key,
                                   [](const auto& entry, const AddressKey& k) { return entry.first < k; });
  if (it == inet6Addresses.end() || it->first != key) return nullptr;
  nextInet6 = static_cast<std::size_t>(it - inet6Addresses.begin()) + 1;
  return &it->second;
}

const bcn_kernel_view::EthtoolAnswer& bcn_kernel_view::ethtoolAnswer(const bcn::shim::LinkRecord& l) {
  std::optional<EthtoolAnswer>& slot = ethtool[static_cast<std::size_t>(&l - links.data())];
  if (slot) return *slot;
  EthtoolAnswer& answer = slot.emplace();
  if (l.hardwareType == ARPHRD_ETHER) {
    answer.settings = bcn::shim::ethtoolLinkSettings(ioctlSocket, l.name.c_str(), linkModeMaskWords);
    // The mask size is the kernel's, so later readings skip the handshake.
    if (session != nullptr) session->linkModeMaskWords.store(linkModeMaskWords, std::memory_order_relaxed);
    // The carrier is in the dump already (IFF_LOWER_UP, what ETHTOOL_GLINK
    // reports for nearly every driver), which saves a request per device.
    constexpr std::uint32_t kLowerUp = 0x10000;
    answer.link = (l.flags & kLowerUp) != 0;
  }
  return answer;
}

const std::vector<std::uint32_t>* bcn_kernel_view::featureTable(const bcn::shim::LinkRecord& l) {
  if (!featureCapabilitiesTried) {
    featureCapabilitiesTried = true;
    if (session == nullptr) {
      if (auto table = bcn::shim::ethtoolFeatureCapabilities(ioctlSocket, l.name.c_str())) {
        featureCapabilities = std::make_shared<const std::vector<std::uint32_t>>(std::move(*table));
      }
    } else {
      // The names come from a table compiled into the kernel, the same for
      // every device, so one answer serves the session's whole life.
      const std::lock_guard guard(session->featureLock);
      if (session->featureCapabilities == nullptr) {
        if (auto table = bcn::shim::ethtoolFeatureCapabilities(ioctlSocket, l.name.c_str())) {
          session->featureCapabilities = std::make_shared<const std::vector<std::uint32_t>>(std::move(*table));
        }
      }
      featureCapabilities = session->featureCapabilities;
    }
  }
  return featureCapabilities.get();
}

std::uint32_t bcn_kernel_view::functionalType(const bcn::shim::LinkRecord& l) {
  std::optional<std::uint32_t>& slot = functionalTypes[static_cast<std::size_t>(&l - links.data())];
  if (slot) return *slot;
  std::uint32_t type = 0;
  if (l.hardwareType == ARPHRD_LOOPBACK) {
    type = 1;
  } else if (l.kind == "wwan") {
    type = 5;
  } else if (l.hasParentDevice) {
    // Only devices backed by hardware are looked up in sysfs, so a
    // namespace full of virtual links costs no file system access.
    const std::string base = "/sys/class/net/" + l.name;
    if (exists(base + "/phy80211") || exists(base + "/wireless")) {
      type = 3;
    } else if (l.hardwareType == ARPHRD_RAWIP || l.hardwareType == ARPHRD_NONE ||
               ueventSays(l.name, "DEVTYPE=wwan")) {
      type = 5;
    } else if (l.hardwareType == ARPHRD_ETHER) {
      type = 2;
    }
  }
  slot = type;
  return type;
}

namespace bcn::shim {
namespace {

using SocketAddress = bcn_kernel_view::SocketAddress;
static_assert(sizeof(SocketAddress) >= offsetof(sockaddr_ll, sll_addr) + 24);
static_assert(sizeof(SocketAddress) >= sizeof(sockaddr_in6));

const sockaddr* linkAddress(SocketAddress& slot, const LinkRecord& link) {
  std::memset(slot.bytes, 0, sizeof slot.bytes);
  sockaddr_ll ll{};
  ll.sll_family = AF_PACKET;
  ll.sll_ifindex = static_cast<int>(link.index);
  ll.sll_hatype = link.hardwareType;
  ll.sll_halen = link.hardwareAddressLength;
  std::memcpy(slot.bytes, &ll, offsetof(sockaddr_ll, sll_addr));
  // The address may run past the 8 bytes sockaddr_ll declares; the slot
  // holds 24, and a longer one is still described by its length.
  const std::size_t room = sizeof slot.bytes - offsetof(sockaddr_ll, sll_addr);
  std::memcpy(slot.bytes + offsetof(sockaddr_ll, sll_addr), link.hardwareAddress.data(),
              std::min<std::size_t>(link.hardwareAddressLength, room));
  return reinterpret_cast<const sockaddr*>(slot.bytes);
}

bool linkLocalScope(const std::array<std::uint8_t, 16>& a) {
  const bool unicast = a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
  const bool multicast = a[0] == 0xFF && (a[1] & 0x0F) == 0x02;
  return unicast || multicast;
}

const sockaddr* ipAddress(SocketAddress& slot, const AddressRecord& record, const std::array<std::uint8_t, 16>& bytes) {
  std::memset(slot.bytes, 0, sizeof slot.bytes);
  if (record.family == AF_INET) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, bytes.data(), 4);
    std::memcpy(slot.bytes, &in, sizeof in);
  } else {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, bytes.data(), 16);
    if (linkLocalScope(bytes)) in6.sin6_scope_id = record.index;
    std::memcpy(slot.bytes, &in6, sizeof in6);
  }
  return reinterpret_cast<const sockaddr*>(slot.bytes);
}

std::array<std::uint8_t, 16> maskOf(int prefixLength, int maxLength) {
  std::array<std::uint8_t, 16> mask{};
  const int length = std::min(prefixLength, maxLength);
  for (int i = 0; i < length / 8; ++i) mask[static_cast<std::size_t>(i)] = 0xFF;
  if (length % 8 != 0) mask[static_cast<std::size_t>(length / 8)] = static_cast<std::uint8_t>(0xFF << (8 - length % 8));
  return mask;
}

// Fills view.entries from the links and addresses already in the view, as
// the C library lays out its address list.
void buildEntries(bcn_kernel_view& view) {
  view.entries.clear();
  view.entries.reserve(view.links.size() + view.addresses.size());
  // Sized before the first entry points into it, and only grown: each slot
  // is cleared when it is filled, so a reading touches the slots it uses
  // rather than zeroing room for three per address.
  const std::size_t slots = view.links.size() + 3 * view.addresses.size();
  if (view.socketAddresses.size() < slots) view.socketAddresses.resize(slots);
  std::size_t slot = 0;
  for (const LinkRecord& link : view.links) {
    bcn_ifaddr_t entry{link.name.c_str(), link.flags, link.index, nullptr, nullptr, nullptr};
    if (link.hasHardwareAddress) entry.address = linkAddress(view.socketAddresses[slot++], link);
    view.entries.push_back(entry);
  }
  for (const AddressRecord& record : view.addresses) {
    const LinkRecord* link = view.link(record.index);
    if (link == nullptr) continue;  // appeared after the link dump
    bcn_ifaddr_t entry{record.label ? record.label->c_str() : link->name.c_str(), link->flags, 0, nullptr, nullptr,
                       nullptr};
    const bool ip = record.family == AF_INET || record.family == AF_INET6;
    if (ip && record.hasAddress) {
      entry.address = ipAddress(view.socketAddresses[slot++], record, record.address);
      const int maxLength = record.family == AF_INET ? 32 : 128;
      AddressRecord maskRecord;  // index 0: a mask carries no scope
      maskRecord.family = record.family;
      entry.netmask = ipAddress(view.socketAddresses[slot++], maskRecord, maskOf(record.prefixLength, maxLength));
    }
    if (ip && record.hasPeer) entry.peer = ipAddress(view.socketAddresses[slot++], record, record.peer);
    view.entries.push_back(entry);
  }
}

}  // namespace

void indexKernelView(bcn_kernel_view& view) {
  view.byIndex.clear();
  view.byName.reset(view.links.size());
  for (std::size_t i = 0; i < view.links.size(); ++i) {
    view.byIndex.emplace_back(view.links[i].index, i);
    view.byName.assign(view.links[i].name, static_cast<std::uint32_t>(i));
  }
  if (!std::is_sorted(view.byIndex.begin(), view.byIndex.end())) std::sort(view.byIndex.begin(), view.byIndex.end());
  view.featureCapabilities.reset();
  view.featureCapabilitiesTried = false;
  view.ethtool.assign(view.links.size(), std::nullopt);
  view.functionalTypes.assign(view.links.size(), std::nullopt);
  view.lastByName = nullptr;
  view.nextInet6 = 0;
  view.inet6Addresses.clear();
  for (const AddressRecord& a : view.addresses) {
    if (a.family != AF_INET6 || !a.hasAddress) continue;
    view.inet6Addresses.emplace_back(bcn_kernel_view::AddressKey{a.index, a.address},
                                     Inet6AddressRecord{a.index, a.address, a.flags, a.protocol});
  }
  // One address per link comes sorted already (the kernel lists them by
  // link), and the check spares the sort its scratch buffer.
  const auto byKey = [](const auto& x, const auto& y) { return x.first < y.first; };
  if (!std::is_sorted(view.inet6Addresses.begin(), view.inet6Addresses.end(), byKey)) {
    std::stable_sort(view.inet6Addresses.begin(), view.inet6Addresses.end(), byKey);
  }
  buildEntries(view);
}

void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links, std::vector<AddressRecord> addresses) {
  view.links = std::move(links);
  view.addresses = std::move(addresses);
  indexKernelView(view);
}

void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links,
                     const std::vector<Inet6AddressRecord>& addresses) {
  std::vector<AddressRecord> records;
  records.reserve(addresses.size());
  for (const Inet6AddressRecord& a : addresses) {
    AddressRecord r;
    r.family = AF_INET6;
    r.prefixLength = 128;
    r.index = a.index;
    r.flags = a.flags;
    r.protocol = a.protocol;
    r.hasAddress = true;
    r.address = a.address;
    records.push_back(r);
  }
  indexKernelView(view, std::move(links), std::move(records));
}

}  // namespace bcn::shim

extern "C" {

bcn_kernel_session_t* bcn_kernel_session_open(void) { return new bcn_kernel_session; }

void bcn_kernel_session_close(bcn_kernel_session_t* session) { delete session; }

bcn_kernel_view_t* bcn_kernel_view_open(bcn_kernel_session_t* session, int ioctl_socket, bool with_addresses) {
  if (session == nullptr) return nullptr;
  std::unique_ptr<bcn_kernel_view> view;
  {
    const std::lock_guard guard(session->spareLock);
    view = std::move(session->spare);
  }
  if (view == nullptr) view = std::make_unique<bcn_kernel_view>();
  std::vector<bcn::shim::LinkRecord>& links = view->links;
  std::vector<bcn::shim::AddressRecord>& addresses = view->addresses;
  links.clear();
  addresses.clear();
  {
    // The kernel runs one dump per socket, and the datagrams of a dump go to
    // whichever thread reads next, so concurrent readings take turns here
    // for their dumps only. (A socket per reading would avoid the wait but
    // cost a socket()/close() pair each time and read the namespace of the
    // calling thread rather than the session's.)
    const std::lock_guard guard(session->dumpLock);
    bcn::shim::NetlinkSocket& netlink = session->netlink;
    const bool linksRead = netlink.dump(RTM_GETLINK, AF_UNSPEC, [&](std::span<const std::uint8_t> d, std::uint32_t seq) {
      return bcn::shim::parseLinkDump(d, seq, links);
    });
    if (!linksRead) return nullptr;
    // Without the address dump the view still answers everything but the
    // addresses and their flags.
    if (with_addresses &&
        !netlink.dump(RTM_GETADDR, AF_UNSPEC, [&](std::span<const std::uint8_t> d, std::uint32_t seq) {
          return bcn::shim::parseAddressDump(d, seq, addresses);
        })) {
      addresses.clear();
    }
  }
  view->ioctlSocket = ioctl_socket;
  view->session = session;
  view->linkModeMaskWords = session->linkModeMaskWords.load(std::memory_order_relaxed);
  bcn::shim::indexKernelView(*view);
  return view.release();
}

void bcn_kernel_view_close(bcn_kernel_view_t* view) {
  std::unique_ptr<bcn_kernel_view> owned(view);
  if (owned == nullptr || owned->session == nullptr) return;
  bcn_kernel_session* session = owned->session;
  const std::lock_guard guard(session->spareLock);
  if (session->spare == nullptr) session->spare = std::move(owned);
}

std::size_t bcn_kernel_view_entries(const bcn_kernel_view_t* view, const bcn_ifaddr_t** entries) {
  if (entries != nullptr) *entries = nullptr;
  if (view == nullptr || entries == nullptr || view->entries.empty()) return 0;
  *entries = view->entries.data();
  return view->entries.size();
}

}  // extern "C"
