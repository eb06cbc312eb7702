// The per-reading state behind bcn_kernel_view_t: the decoded link and
// IPv6-address dumps with their indexes, and the per-interface answers
// computed on demand during the reading (ethtool link state, functional
// type, the feature-name table), so that no kernel question is asked twice
// in one reading. Owned by one reading on one thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "netcore/shim/ethtool_media.h"
#include "netcore/shim/netlink_parse.h"

struct bcn_kernel_view {
  struct EthtoolAnswer {
    std::optional<bcn::shim::LinkSettings> settings;
    std::optional<bool> link;
  };
  struct AddressKey {
    std::uint32_t index;
    std::array<std::uint8_t, 16> address;
    bool operator==(const AddressKey&) const = default;
  };
  struct AddressKeyHash {
    std::size_t operator()(const AddressKey& k) const noexcept;
  };

  int ioctlSocket = -1;
  std::vector<bcn::shim::LinkRecord> links;
  std::unordered_map<std::uint32_t, std::size_t> byIndex;
  std::unordered_map<std::string, std::size_t> byName;
  std::unordered_map<AddressKey, bcn::shim::Inet6AddressRecord, AddressKeyHash> inet6Addresses;

  // Filled on demand.
  std::unordered_map<std::uint32_t, EthtoolAnswer> ethtool;
  std::unordered_map<std::uint32_t, std::uint32_t> functionalTypes;
  std::optional<std::vector<std::uint32_t>> featureCapabilities;
  bool featureCapabilitiesTried = false;
  int linkModeMaskWords = 0;

  const bcn::shim::LinkRecord* link(const char* name) const;
  const bcn::shim::LinkRecord* link(std::uint32_t index) const;
  // Ethtool link settings and carrier of an Ethernet device; empty for
  // every other kind of link. Asked once per device and reading.
  const EthtoolAnswer& ethtoolAnswer(const bcn::shim::LinkRecord& link);
  std::uint32_t functionalType(const bcn::shim::LinkRecord& link);
};

namespace bcn::shim {

// Builds the indexes of a view from decoded dumps (separate from the
// netlink I/O so tests can feed canned records).
void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links,
                     const std::vector<Inet6AddressRecord>& addresses);

}  // namespace bcn::shim
