// Decoding of rtnetlink dump replies (RTM_NEWLINK, RTM_NEWADDR) into plain
// records. Pure functions over the bytes of one received datagram: nothing
// here touches a socket, so every rule is tested with canned messages.
//
// Hostile input: a message or attribute whose length runs past the end of
// its container, or is shorter than its header, ends the walk of that
// container (what was decoded before it stands); an attribute with a
// payload too short for its type is ignored. No read ever leaves the span.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bcn::shim {

// The leading counters of struct rtnl_link_stats64, in its order.
struct LinkStats {
  std::uint64_t rxPackets = 0, txPackets = 0, rxBytes = 0, txBytes = 0;
  std::uint64_t rxErrors = 0, txErrors = 0, rxDropped = 0, txDropped = 0;
  std::uint64_t multicast = 0, collisions = 0;
};

// The per-interface IPv6 settings that the ND6 flags are made from
// (IFLA_AF_SPEC / AF_INET6 / IFLA_INET6_CONF).
struct Inet6Settings {
  std::int32_t forwarding = 0;
  std::int32_t acceptRa = 0;
  std::int32_t proxyNdp = 0;
  std::int32_t disableIpv6 = 0;
  std::int32_t acceptDad = 0;
  std::int32_t dropUnsolicitedNa = 0;
};

struct LinkRecord {
  std::uint32_t index = 0;
  std::uint16_t hardwareType = 0;  // ARPHRD_*
  std::uint32_t flags = 0;         // Linux IFF_*
  std::string name;
  std::uint32_t mtu = 0;
  std::optional<LinkStats> stats;
  std::string kind;                // IFLA_INFO_KIND ("veth", "bridge", "tun" ...); empty for hardware
  bool hasParentDevice = false;    // a bus device backs it (IFLA_PARENT_DEV_NAME)
  // The address the driver read from the device (IFLA_PERM_ADDRESS, since
  // Linux 5.6, sent only when non-zero); empty when absent or longer than
  // kMaxPermanentAddress.
  std::vector<std::uint8_t> permanentAddress;
  std::optional<Inet6Settings> inet6;
  // The device's current hardware address (IFLA_ADDRESS), kept inline: most
  // links have one. Absent when the kernel sends none (tun, most tunnels) or
  // one longer than kMaxPermanentAddress; it may be empty.
  bool hasHardwareAddress = false;
  std::uint8_t hardwareAddressLength = 0;
  std::array<std::uint8_t, 32> hardwareAddress{};
};

// MAX_ADDR_LEN of the kernel: no device address is longer.
inline constexpr std::size_t kMaxPermanentAddress = 32;

struct Inet6AddressRecord {
  std::uint32_t index = 0;
  std::array<std::uint8_t, 16> address{};
  std::uint32_t flags = 0;  // IFA_F_*, from IFA_FLAGS when present
  std::uint8_t protocol = 0;  // IFA_PROTO (IFAPROT_*), 0 when absent
};

// One RTM_NEWADDR message of any family. The own address and the one across
// from it are resolved from the attributes in the order they come, as the
// C library's address list does: IFA_LOCAL is the own address, and an
// IFA_ADDRESS beside it (before or after) is the far end; IFA_ADDRESS alone
// is the own address; IFA_BROADCAST replaces the far end. For IPv4 the
// kernel sends IFA_ADDRESS equal to IFA_LOCAL when there is no peer, so an
// address without a broadcast address has itself as the far end. Only
// AF_INET and AF_INET6 addresses are kept (4 or 16 bytes; an attribute of
// any other size is ignored); other families give a record without them.
struct AddressRecord {
  std::uint8_t family = 0;
  std::uint8_t prefixLength = 0;
  std::uint32_t index = 0;
  std::uint32_t flags = 0;    // IFA_F_*, from IFA_FLAGS when present
  std::uint8_t protocol = 0;  // IFA_PROTO (IFAPROT_*), 0 when absent
  std::optional<std::string> label;  // IFA_LABEL (IPv4 only, "eth0:1")
  bool hasAddress = false;
  bool hasPeer = false;
  std::array<std::uint8_t, 16> address{};  // IPv4 in the first 4 bytes
  std::array<std::uint8_t, 16> peer{};
};

enum class DumpStatus {
  kMore,   // the datagram held records (or nothing) but no end marker
  kDone,   // NLMSG_DONE for this sequence was seen
  kError,  // NLMSG_ERROR with a non-zero code for this sequence
};

// Decodes the RTM_NEWLINK messages of one datagram that belong to dump
// `sequence`, appending to `out`. Messages of other sequences are skipped.
DumpStatus parseLinkDump(std::span<const std::uint8_t> datagram, std::uint32_t sequence,
                         std::vector<LinkRecord>& out);

// Same for RTM_NEWADDR messages of every family.
DumpStatus parseAddressDump(std::span<const std::uint8_t> datagram, std::uint32_t sequence,
                            std::vector<AddressRecord>& out);

// The AF_INET6 records of parseAddressDump that carry an address, reduced to
// what the per-address flags are looked up by.
DumpStatus parseInet6AddressDump(std::span<const std::uint8_t> datagram, std::uint32_t sequence,
                                 std::vector<Inet6AddressRecord>& out);

}  // namespace bcn::shim
