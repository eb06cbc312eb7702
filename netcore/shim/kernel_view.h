// The state behind bcn_kernel_session_t and bcn_kernel_view_t.
//
// A session is what outlives readings: the kept rtnetlink socket, the
// answers that never change while the kernel runs (the ethtool feature
// table, the link-mode mask size) and the last closed view, whose
// containers the next reading refills. Thread-safe; see bcn_interfaces.h.
//
// A view is one reading: the decoded link and address dumps with their
// indexes, the interface-address list made of them, and the per-interface
// answers computed on demand during the reading (ethtool link state,
// functional type), so that no kernel question is asked twice in one
// reading. Owned by one reading on one thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/ethtool_media.h"
#include "netcore/shim/name_index.h"
#include "netcore/shim/netlink_parse.h"
#include "netcore/shim/netlink_socket_linux.h"

struct bcn_kernel_view {
  struct EthtoolAnswer {
    std::optional<bcn::shim::LinkSettings> settings;
    std::optional<bool> link;
  };
  struct AddressKey {
    std::uint32_t index;
    std::array<std::uint8_t, 16> address;
    auto operator<=>(const AddressKey&) const = default;
  };

  // Storage for the socket addresses of the interface-address list: the
  // largest of them is a sockaddr_ll whose address field holds the 24 bytes
  // the C library allows.
  struct SocketAddress {
    alignas(8) std::uint8_t bytes[36];
  };

  int ioctlSocket = -1;
  struct bcn_kernel_session* session = nullptr;  // borrowed; null for a view without one
  std::vector<bcn::shim::LinkRecord> links;
  std::vector<bcn::shim::AddressRecord> addresses;
  // Sorted by index, then by position (the last of equal indexes counts);
  // the kernel lists links in index order, so this is rarely sorted again.
  std::vector<std::pair<std::uint32_t, std::size_t>> byIndex;
  bcn::shim::NameIndex byName;  // views of the names in `links`; the last of equal names counts
  // Sorted by key, then by dump order (the first of equal keys counts).
  std::vector<std::pair<AddressKey, bcn::shim::Inet6AddressRecord>> inet6Addresses;
  std::vector<bcn_ifaddr_t> entries;
  std::vector<SocketAddress> socketAddresses;

  // Filled on demand, one slot per entry of `links`.
  std::vector<std::optional<EthtoolAnswer>> ethtool;
  std::vector<std::optional<std::uint32_t>> functionalTypes;
  // The link found last by name: a reading asks several questions about
  // one interface in a row.
  mutable const bcn::shim::LinkRecord* lastByName = nullptr;
  // Where the next IPv6 address is likely to be: a reading asks for them in
  // dump order, which is the index's order whenever it needed no sort.
  mutable std::size_t nextInet6 = 0;
  std::shared_ptr<const std::vector<std::uint32_t>> featureCapabilities;
  bool featureCapabilitiesTried = false;
  int linkModeMaskWords = 0;

  // REQUIRES: for the per-link answers below, `link` is an element of `links`.
  const bcn::shim::LinkRecord* link(const char* name) const;
  const bcn::shim::LinkRecord* link(std::uint32_t index) const;
  const bcn::shim::Inet6AddressRecord* inet6Address(const AddressKey& key) const;
  // Ethtool link settings and carrier of an Ethernet device; empty for
  // every other kind of link. Asked once per device and reading.
  const EthtoolAnswer& ethtoolAnswer(const bcn::shim::LinkRecord& link);
  std::uint32_t functionalType(const bcn::shim::LinkRecord& link);
  // Capability mask per ethtool feature bit, asked through `link` the first
  // time (in the session's life, or the view's without one); null when
  // the kernel does not tell.
  const std::vector<std::uint32_t>* featureTable(const bcn::shim::LinkRecord& link);
};

struct bcn_kernel_session {
  // Held for the two dumps of a reading; see bcn_kernel_view_open.
  std::mutex dumpLock;
  bcn::shim::NetlinkSocket netlink;  // opened with the session

  std::mutex featureLock;
  std::shared_ptr<const std::vector<std::uint32_t>> featureCapabilities;  // null until fetched
  std::atomic<int> linkModeMaskWords{0};
  // A closed view kept for the next reading, which refills its containers
  // in place instead of allocating them again.
  std::mutex spareLock;
  std::unique_ptr<bcn_kernel_view> spare;
};

namespace bcn::shim {

// Builds the indexes and the interface-address list of a view from the
// links and addresses it holds, dropping every answer of an earlier reading.
void indexKernelView(bcn_kernel_view& view);

// Builds the indexes and the interface-address list of a view from
// decoded dumps (separate from the netlink I/O so tests and the fuzzer can
// feed canned records). The list is that of bcn_kernel_view_entries; an
// address whose link is not in `links` is left out of it.
void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links, std::vector<AddressRecord> addresses);

// The same with IPv6 records that carry only what the per-address flags
// are looked up by.
void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links,
                     const std::vector<Inet6AddressRecord>& addresses);

}  // namespace bcn::shim
