#include "netcore/shim/netlink_parse.h"

#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/ipv6.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using bcn::shim::DumpStatus;
using Bytes = std::vector<std::uint8_t>;

void pad(Bytes& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}

template <typename T>
void put(Bytes& b, const T& value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  b.insert(b.end(), p, p + sizeof(T));
}

Bytes attribute(std::uint16_t type, const Bytes& payload) {
  Bytes b;
  rtattr header{static_cast<unsigned short>(sizeof(rtattr) + payload.size()), type};
  put(b, header);
  b.insert(b.end(), payload.begin(), payload.end());
  pad(b);
  return b;
}

template <typename T>
Bytes valueOf(const T& value) {
  Bytes b;
  put(b, value);
  return b;
}

Bytes text(const std::string& s, bool terminate = true) {
  Bytes b(s.begin(), s.end());
  if (terminate) b.push_back(0);
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes message(std::uint16_t type, std::uint32_t sequence, const Bytes& body) {
  Bytes b;
  nlmsghdr header{};
  header.nlmsg_len = static_cast<std::uint32_t>(sizeof(nlmsghdr) + body.size());
  header.nlmsg_type = type;
  header.nlmsg_seq = sequence;
  put(b, header);
  b.insert(b.end(), body.begin(), body.end());
  pad(b);
  return b;
}

Bytes linkBody(int index, std::uint16_t arphrd, unsigned flags, const Bytes& attributes) {
  ifinfomsg info{};
  info.ifi_family = AF_UNSPEC;
  info.ifi_index = index;
  info.ifi_type = arphrd;
  info.ifi_flags = flags;
  return concat({valueOf(info), attributes});
}

Bytes stats64(std::uint64_t rxBytes, std::uint64_t txBytes) {
  rtnl_link_stats64 s{};
  s.rx_packets = 1;
  s.tx_packets = 2;
  s.rx_bytes = rxBytes;
  s.tx_bytes = txBytes;
  s.rx_errors = 3;
  s.tx_errors = 4;
  s.rx_dropped = 5;
  s.tx_dropped = 6;
  s.multicast = 7;
  s.collisions = 8;
  return valueOf(s);
}

Bytes inet6Conf() {
  std::vector<std::int32_t> conf(DEVCONF_MAX, 0);
  conf[DEVCONF_FORWARDING] = 1;
  conf[DEVCONF_ACCEPT_RA] = 2;
  conf[DEVCONF_ACCEPT_DAD] = 1;
  conf[DEVCONF_DISABLE_IPV6] = 1;
  Bytes b(conf.size() * 4);
  std::memcpy(b.data(), conf.data(), b.size());
  return b;
}

Bytes fullLink(std::uint32_t sequence) {
  const Bytes attrs = concat({
      attribute(IFLA_IFNAME, text("eth7")),
      attribute(IFLA_MTU, valueOf(std::uint32_t{9000})),
      attribute(IFLA_STATS64, stats64(1'000'000'000'000ULL, 42)),
      attribute(IFLA_LINKINFO, attribute(IFLA_INFO_KIND, text("veth"))),
      attribute(IFLA_PARENT_DEV_NAME, text("0000:00:03.0")),
      attribute(IFLA_PERM_ADDRESS, Bytes{0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}),
      attribute(IFLA_AF_SPEC, concat({attribute(AF_INET, Bytes(8, 0)),
                                       attribute(AF_INET6, attribute(IFLA_INET6_CONF, inet6Conf()))})),
  });
  return message(RTM_NEWLINK, sequence, linkBody(7, ARPHRD_ETHER, 0x1043, attrs));
}

TEST(LinkDump, DecodesEveryAttributeTheInventoryUses) {
  std::vector<bcn::shim::LinkRecord> links;
  EXPECT_EQ(bcn::shim::parseLinkDump(fullLink(9), 9, links), DumpStatus::kMore);
  ASSERT_EQ(links.size(), 1u);
  const auto& l = links[0];
  EXPECT_EQ(l.index, 7u);
  EXPECT_EQ(l.hardwareType, ARPHRD_ETHER);
  EXPECT_EQ(l.flags, 0x1043u);
  EXPECT_EQ(l.name, "eth7");
  EXPECT_EQ(l.mtu, 9000u);
  ASSERT_TRUE(l.stats.has_value());
  EXPECT_EQ(l.stats->rxBytes, 1'000'000'000'000ULL);
  EXPECT_EQ(l.stats->txBytes, 42u);
  EXPECT_EQ(l.stats->rxPackets, 1u);
  EXPECT_EQ(l.stats->txPackets, 2u);
  EXPECT_EQ(l.stats->rxDropped, 5u);
  EXPECT_EQ(l.stats->multicast, 7u);
  EXPECT_EQ(l.stats->collisions, 8u);
  EXPECT_EQ(l.kind, "veth");
  EXPECT_TRUE(l.hasParentDevice);
  EXPECT_EQ(l.permanentAddress, (Bytes{0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}));
  ASSERT_TRUE(l.inet6.has_value());
  EXPECT_EQ(l.inet6->forwarding, 1);
  EXPECT_EQ(l.inet6->acceptRa, 2);
  EXPECT_EQ(l.inet6->acceptDad, 1);
  EXPECT_EQ(l.inet6->disableIpv6, 1);
}

TEST(LinkDump, EndMarkersErrorsAndForeignSequences) {
  std::vector<bcn::shim::LinkRecord> links;
  const Bytes datagram = concat({fullLink(4), fullLink(5), message(NLMSG_DONE, 4, valueOf(0))});
  EXPECT_EQ(bcn::shim::parseLinkDump(datagram, 5, links), DumpStatus::kMore);
  EXPECT_EQ(links.size(), 1u);  // the sequence-4 message and its end marker are not ours
  EXPECT_EQ(bcn::shim::parseLinkDump(datagram, 4, links), DumpStatus::kDone);

  nlmsgerr ack{};
  EXPECT_EQ(bcn::shim::parseLinkDump(message(NLMSG_ERROR, 1, valueOf(ack)), 1, links), DumpStatus::kMore);
  nlmsgerr failure{};
  failure.error = -22;
  EXPECT_EQ(bcn::shim::parseLinkDump(message(NLMSG_ERROR, 1, valueOf(failure)), 1, links), DumpStatus::kError);
  // An error message too short to hold its code is a failure, not an ack.
  EXPECT_EQ(bcn::shim::parseLinkDump(message(NLMSG_ERROR, 1, Bytes{}), 1, links), DumpStatus::kError);
}

TEST(LinkDump, MissingOrShortAttributesLeaveFieldsAbsent) {
  const Bytes attrs = concat({
      attribute(IFLA_IFNAME, text("unterminated-name", false)),
      attribute(IFLA_MTU, Bytes{1, 2}),             // too short for a u32
      attribute(IFLA_STATS64, Bytes(40, 0xFF)),     // shorter than the counters we read
      attribute(IFLA_AF_SPEC, attribute(AF_INET6, attribute(IFLA_INET6_FLAGS, valueOf(0u)))),
      attribute(IFLA_PERM_ADDRESS, Bytes(33, 0x02)),  // longer than any device address
  });
  std::vector<bcn::shim::LinkRecord> links;
  bcn::shim::parseLinkDump(message(RTM_NEWLINK, 1, linkBody(3, ARPHRD_NONE, 0, attrs)), 1, links);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].name, "unterminated-name");
  EXPECT_EQ(links[0].mtu, 0u);
  EXPECT_FALSE(links[0].stats.has_value());
  EXPECT_FALSE(links[0].inet6.has_value());  // IPv6 state without its configuration
  EXPECT_FALSE(links[0].hasParentDevice);
  EXPECT_TRUE(links[0].permanentAddress.empty());
}

TEST(LinkDump, ShortInet6ConfReadsOnlyTheValuesPresent) {
  Bytes conf = inet6Conf();
  conf.resize(4 * (DEVCONF_ACCEPT_RA + 1));
  const Bytes attrs = attribute(IFLA_AF_SPEC, attribute(AF_INET6, attribute(IFLA_INET6_CONF, conf)));
  std::vector<bcn::shim::LinkRecord> links;
  bcn::shim::parseLinkDump(message(RTM_NEWLINK, 1, linkBody(3, ARPHRD_ETHER, 0, attrs)), 1, links);
  ASSERT_EQ(links.size(), 1u);
  ASSERT_TRUE(links[0].inet6.has_value());
  EXPECT_EQ(links[0].inet6->acceptRa, 2);
  EXPECT_EQ(links[0].inet6->acceptDad, 0);
  EXPECT_EQ(links[0].inet6->disableIpv6, 0);
}

TEST(LinkDump, TruncatedDatagramsNeverReadPastTheirEnd) {
  const Bytes datagram = concat({fullLink(1), fullLink(1), message(NLMSG_DONE, 1, valueOf(0))});
  const std::size_t firstEnd = fullLink(1).size();
  for (std::size_t cut = 0; cut < datagram.size(); ++cut) {
    // A heap copy of exactly `cut` bytes, so the sanitizer sees any overread.
    std::vector<std::uint8_t> prefix(datagram.begin(), datagram.begin() + static_cast<long>(cut));
    std::vector<bcn::shim::LinkRecord> links;
    const DumpStatus status = bcn::shim::parseLinkDump(prefix, 1, links);
    EXPECT_EQ(status, DumpStatus::kMore) << cut;
    EXPECT_EQ(links.size(), cut >= 2 * firstEnd ? 2u : cut >= firstEnd ? 1u : 0u) << cut;
  }
}

TEST(LinkDump, LengthFieldsThatLieStopTheWalk) {
  Bytes datagram = fullLink(1);
  nlmsghdr header;
  std::memcpy(&header, datagram.data(), sizeof header);
  for (std::uint32_t len : {0u, 3u, 15u, static_cast<std::uint32_t>(datagram.size() + 1), 0xFFFFFFFFu}) {
    Bytes bad = datagram;
    header.nlmsg_len = len;
    std::memcpy(bad.data(), &header, sizeof header);
    std::vector<bcn::shim::LinkRecord> links;
    EXPECT_EQ(bcn::shim::parseLinkDump(bad, 1, links), DumpStatus::kMore);
    EXPECT_TRUE(links.empty()) << len;
  }
  // An attribute claiming more than its message holds ends the attribute
  // walk; the fields before it stand.
  Bytes attrs = concat({attribute(IFLA_MTU, valueOf(std::uint32_t{1400})), attribute(IFLA_IFNAME, text("x"))});
  rtattr lying{0xFFF0, IFLA_IFNAME};
  std::memcpy(attrs.data() + 8, &lying, sizeof lying);
  std::vector<bcn::shim::LinkRecord> links;
  bcn::shim::parseLinkDump(message(RTM_NEWLINK, 1, linkBody(2, ARPHRD_ETHER, 0, attrs)), 1, links);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].mtu, 1400u);
  EXPECT_EQ(links[0].name, "");
}

Bytes addressMessage(std::uint8_t family, int index, std::uint8_t legacyFlags, const Bytes& attributes) {
  ifaddrmsg info{};
  info.ifa_family = family;
  info.ifa_prefixlen = 64;
  info.ifa_flags = legacyFlags;
  info.ifa_index = static_cast<std::uint32_t>(index);
  return message(RTM_NEWADDR, 1, concat({valueOf(info), attributes}));
}

Bytes in6(std::uint8_t last) {
  Bytes b(16, 0);
  b[0] = 0xfd;
  b[15] = last;
  return b;
}

TEST(AddressDump, KeepsIpv6AddressesWithTheirFullFlags) {
  const Bytes datagram = concat({
      addressMessage(AF_INET6, 4, IFA_F_PERMANENT,
                     concat({attribute(IFA_ADDRESS, in6(1)), attribute(IFA_FLAGS, valueOf(0x840u)),
                             attribute(IFA_PROTO, Bytes{IFAPROT_KERNEL_RA})})),
      addressMessage(AF_INET, 4, 0, attribute(IFA_ADDRESS, Bytes{10, 0, 0, 1})),
      addressMessage(AF_INET6, 5, IFA_F_TENTATIVE, attribute(IFA_ADDRESS, in6(2))),
      message(NLMSG_DONE, 1, valueOf(0)),
  });
  std::vector<bcn::shim::Inet6AddressRecord> out;
  EXPECT_EQ(bcn::shim::parseInet6AddressDump(datagram, 1, out), DumpStatus::kDone);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].index, 4u);
  EXPECT_EQ(out[0].address[15], 1);
  EXPECT_EQ(out[0].flags, 0x840u);  // IFA_FLAGS replaces the 8-bit field
  EXPECT_EQ(out[0].protocol, IFAPROT_KERNEL_RA);
  EXPECT_EQ(out[1].index, 5u);
  EXPECT_EQ(out[1].flags, static_cast<std::uint32_t>(IFA_F_TENTATIVE));
  EXPECT_EQ(out[1].protocol, 0);
}

TEST(AddressDump, PointToPointAddressIsTheLocalSide) {
  const Bytes datagram = addressMessage(
      AF_INET6, 4, 0, concat({attribute(IFA_ADDRESS, in6(9)), attribute(IFA_LOCAL, in6(8))}));
  std::vector<bcn::shim::Inet6AddressRecord> out;
  bcn::shim::parseInet6AddressDump(datagram, 1, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].address[15], 8);
}

TEST(AddressDump, AddressesTooShortOrMissingAreDropped) {
  const Bytes datagram = concat({
      addressMessage(AF_INET6, 4, 0, attribute(IFA_ADDRESS, Bytes(8, 1))),
      addressMessage(AF_INET6, 4, 0, Bytes{}),
      message(RTM_NEWADDR, 1, Bytes(3, 0)),  // shorter than ifaddrmsg
  });
  std::vector<bcn::shim::Inet6AddressRecord> out;
  bcn::shim::parseInet6AddressDump(datagram, 1, out);
  EXPECT_TRUE(out.empty());
}

// The own and the far address depend on the order of the attributes, the
// way the C library resolves them, and a cut anywhere keeps what came
// before it.
TEST(AddressDump, OwnAndFarAddressesFollowTheAttributeOrder) {
  const Bytes first = addressMessage(
      AF_INET, 2, 0,
      concat({attribute(IFA_ADDRESS, Bytes{10, 0, 0, 9}), attribute(IFA_LOCAL, Bytes{10, 0, 0, 1}),
              attribute(IFA_LABEL, text("eth0:peer"))}));
  const Bytes datagram = concat({
      first,
      addressMessage(AF_INET, 2, 0,
                     concat({attribute(IFA_ADDRESS, Bytes{10, 0, 1, 1}), attribute(IFA_LOCAL, Bytes{10, 0, 1, 1}),
                             attribute(IFA_BROADCAST, Bytes{10, 0, 1, 255}),
                             attribute(IFA_BROADCAST, Bytes{10, 0, 1})})),  // wrong size: ignored
      addressMessage(AF_INET6, 3, 0, concat({attribute(IFA_LOCAL, in6(1)), attribute(IFA_ADDRESS, in6(2))})),
      addressMessage(AF_PACKET, 3, 0, attribute(IFA_ADDRESS, Bytes(6, 1))),
      message(NLMSG_DONE, 1, valueOf(0)),
  });
  std::vector<bcn::shim::AddressRecord> out;
  ASSERT_EQ(bcn::shim::parseAddressDump(datagram, 1, out), DumpStatus::kDone);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].address[3], 1);
  EXPECT_TRUE(out[0].hasPeer);
  EXPECT_EQ(out[0].peer[3], 9);
  EXPECT_EQ(out[0].label, "eth0:peer");
  EXPECT_EQ(out[1].address[3], 1);
  EXPECT_EQ(out[1].peer[3], 255);  // the broadcast address replaces the copy of the own one
  EXPECT_FALSE(out[1].label.has_value());
  EXPECT_EQ(out[2].address[15], 1);
  EXPECT_EQ(out[2].peer[15], 2);
  EXPECT_EQ(out[2].prefixLength, 64);
  EXPECT_EQ(out[3].family, AF_PACKET);
  EXPECT_FALSE(out[3].hasAddress);

  for (std::size_t cut = 0; cut < datagram.size(); ++cut) {
    std::vector<std::uint8_t> prefix(datagram.begin(), datagram.begin() + static_cast<long>(cut));
    std::vector<bcn::shim::AddressRecord> records;
    EXPECT_EQ(bcn::shim::parseAddressDump(prefix, 1, records), DumpStatus::kMore) << cut;
    EXPECT_EQ(records.empty(), cut < first.size()) << cut;
  }
}

}  // namespace
