// The per-interface queries over a view built from canned dump records:
// which answers they give, and that a failed query leaves its output alone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <cstring>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/kernel_view.h"
#include "netcore/shim/linux_words.h"

namespace {

using bcn::shim::AddressRecord;
using bcn::shim::Inet6AddressRecord;
using bcn::shim::LinkRecord;

LinkRecord link(std::uint32_t index, const char* name, std::uint16_t type, std::uint32_t flags = 0) {
  LinkRecord l;
  l.index = index;
  l.name = name;
  l.hardwareType = type;
  l.flags = flags;
  l.mtu = 1500;
  return l;
}

class KernelView : public ::testing::Test {
 protected:
  void SetUp() override {
    LinkRecord lo = link(1, "lo", ARPHRD_LOOPBACK, 0x9);
    lo.stats = bcn::shim::LinkStats{.rxPackets = 3, .txPackets = 4, .rxBytes = 300, .txBytes = 400,
                                    .rxErrors = 1, .txErrors = 2, .rxDropped = 5, .txDropped = 6,
                                    .multicast = 7, .collisions = 8};
    lo.inet6 = bcn::shim::Inet6Settings{};
    LinkRecord tun = link(5, "tun0", ARPHRD_NONE, 0x91);
    tun.kind = "tun";
    LinkRecord modem = link(6, "wwan0", ARPHRD_NONE);
    modem.kind = "wwan";
    LinkRecord longName = link(7, "abcdefghijklmno", ARPHRD_ETHER);
    Inet6AddressRecord address;
    address.index = 1;
    inet_pton(AF_INET6, "fd00::1", address.address.data());
    address.flags = 0x40;  // tentative, not permanent
    bcn::shim::indexKernelView(view_, {lo, tun, modem, longName}, {address});
  }

  static sockaddr_in6 v6(const char* text) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return a;
  }

  bcn_kernel_view view_;
};

TEST_F(KernelView, StatisticsNeedTheIndexToStillCarryTheName) {
  bcn_ifdata_t data{};
  ASSERT_TRUE(bcn_get_ifdata(&view_, 1, "lo", &data));
  EXPECT_EQ(data.bytes_in, 300u);
  EXPECT_EQ(data.bytes_out, 400u);
  EXPECT_EQ(data.packets_in, 3u);
  EXPECT_EQ(data.errors_out, 2u);
  EXPECT_EQ(data.multicast_in, 7u);
  EXPECT_EQ(data.multicast_out, 0u);
  EXPECT_EQ(data.collisions, 8u);
  EXPECT_EQ(data.drops_in, 5u);
  EXPECT_EQ(data.mtu, 1500u);
  EXPECT_EQ(data.type, 24);

  bcn_ifdata_t untouched{};
  untouched.bytes_in = 99;
  EXPECT_FALSE(bcn_get_ifdata(&view_, 1, "eth0", &untouched));  // index 1 is someone else now
  EXPECT_FALSE(bcn_get_ifdata(&view_, 42, "lo", &untouched));
  EXPECT_FALSE(bcn_get_ifdata(nullptr, 1, "lo", &untouched));
  EXPECT_EQ(untouched.bytes_in, 99u);
  // The 16 bytes compared include the terminator of a 15-byte name.
  EXPECT_TRUE(bcn_get_ifdata(&view_, 7, "abcdefghijklmno", &data));
  EXPECT_FALSE(bcn_get_ifdata(&view_, 7, "abcdefghijklmnoXYZ", &untouched));
  EXPECT_EQ(untouched.bytes_in, 99u);
}

TEST_F(KernelView, FunctionalTypeWithoutTouchingTheFileSystem) {
  std::uint32_t type = 99;
  ASSERT_TRUE(bcn_get_functional_type(&view_, "lo", &type));
  EXPECT_EQ(type, 1u);
  ASSERT_TRUE(bcn_get_functional_type(&view_, "wwan0", &type));
  EXPECT_EQ(type, 5u);
  ASSERT_TRUE(bcn_get_functional_type(&view_, "tun0", &type));
  EXPECT_EQ(type, 0u);
  type = 99;
  EXPECT_FALSE(bcn_get_functional_type(&view_, "gone0", &type));
  EXPECT_EQ(type, 99u);
}

TEST_F(KernelView, Nd6FlagsNeedIpv6StateAndAnIpv6Socket) {
  std::uint32_t flags = 77;
  EXPECT_FALSE(bcn_get_nd6_flags(3, &view_, "tun0", &flags));  // no IPv6 state
  EXPECT_FALSE(bcn_get_nd6_flags(-1, &view_, "lo", &flags));   // no IPv6 in this kernel
  EXPECT_EQ(flags, 77u);
  ASSERT_TRUE(bcn_get_nd6_flags(3, &view_, "lo", &flags));
  EXPECT_EQ(flags, 0u);  // loopback: no neighbour discovery, nothing enabled
}

TEST_F(KernelView, AddressFlagsAreLookedUpByInterfaceAndAddress) {
  std::uint32_t flags = 0;
  const sockaddr_in6 known = v6("fd00::1");
  ASSERT_TRUE(bcn_get_in6_addr_flags(3, &view_, "lo", reinterpret_cast<const sockaddr*>(&known), &flags));
  EXPECT_EQ(flags, 0x2u | 0x100u);  // tentative, dynamic

  flags = 55;
  const sockaddr_in6 other = v6("fd00::2");
  EXPECT_FALSE(bcn_get_in6_addr_flags(3, &view_, "lo", reinterpret_cast<const sockaddr*>(&other), &flags));
  EXPECT_FALSE(bcn_get_in6_addr_flags(3, &view_, "tun0", reinterpret_cast<const sockaddr*>(&known), &flags));
  EXPECT_FALSE(bcn_get_in6_addr_flags(-1, &view_, "lo", reinterpret_cast<const sockaddr*>(&known), &flags));
  EXPECT_FALSE(bcn_get_in6_addr_flags(3, &view_, "lo", nullptr, &flags));
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  EXPECT_FALSE(bcn_get_in6_addr_flags(3, &view_, "lo", reinterpret_cast<const sockaddr*>(&v4), &flags));
  EXPECT_EQ(flags, 55u);
}

TEST_F(KernelView, MediaAndCapabilitiesFailWithoutAnAnsweringDevice) {
  // The view's ioctl socket is -1 here, so ethtool never answers.
  bcn_media_t media{1, 2, 3};
  EXPECT_FALSE(bcn_get_media(&view_, "lo", &media));
  EXPECT_FALSE(bcn_get_media(&view_, "abcdefghijklmno", &media));
  EXPECT_FALSE(bcn_get_media(nullptr, "lo", &media));
  EXPECT_EQ(media.current, 1);
  std::uint32_t caps = 5;
  EXPECT_FALSE(bcn_get_curcap(&view_, "lo", &caps));
  EXPECT_FALSE(bcn_get_curcap(&view_, "gone0", &caps));
  EXPECT_EQ(caps, 5u);
  std::uint32_t mtu = 9;
  EXPECT_FALSE(bcn_get_mtu(-1, "lo", &mtu));
  EXPECT_EQ(mtu, 9u);
}

// The list is read by code written for the C library's: every socket
// address it hands out must be as long as that code reads, also for
// hardware addresses past sockaddr_ll's 8 bytes and for records the kernel
// would not send.
TEST(KernelViewList, LinksThenAddressesAsTheCLibraryListsThem) {
  LinkRecord ib = link(2, "ib0", ARPHRD_INFINIBAND);
  ib.hasHardwareAddress = true;
  ib.hardwareAddressLength = 20;
  ib.hardwareAddress.fill(0xAB);
  LinkRecord huge = link(3, "odd0", ARPHRD_ETHER);
  huge.hasHardwareAddress = true;
  huge.hardwareAddressLength = 32;  // longer than the list can carry
  const LinkRecord bare = link(4, "tun0", ARPHRD_NONE, 0x91);

  auto address = [](std::uint8_t family, std::uint32_t index, std::uint8_t prefix) {
    AddressRecord a;
    a.family = family;
    a.index = index;
    a.prefixLength = prefix;
    return a;
  };
  AddressRecord wide = address(AF_INET, 2, 40);  // a prefix past 32 gives a full mask
  wide.label = "ib0:wide";
  wide.hasAddress = true;
  wide.address = {10, 0, 0, 1};
  AddressRecord linkLocal = address(AF_INET6, 4, 64);
  linkLocal.hasAddress = linkLocal.hasPeer = true;
  inet_pton(AF_INET6, "fe80::1", linkLocal.address.data());
  inet_pton(AF_INET6, "fe80::2", linkLocal.peer.data());
  AddressRecord orphan = address(AF_INET, 9, 24);  // its link came after the link dump
  orphan.hasAddress = true;
  AddressRecord foreign = address(AF_PACKET, 4, 0);  // a family without socket addresses
  foreign.hasAddress = true;

  bcn_kernel_view view;
  bcn::shim::indexKernelView(view, {ib, huge, bare}, {wide, linkLocal, orphan, foreign});
  const bcn_ifaddr_t* e = nullptr;
  ASSERT_EQ(bcn_kernel_view_entries(&view, &e), 6u);

  std::uint8_t bytes[32] = {};
  EXPECT_STREQ(e[0].name, "ib0");
  EXPECT_EQ(e[0].link_index, 2u);
  ASSERT_EQ(bcn_sockaddr_dl_lladdr(e[0].address, bytes, sizeof bytes), 20u);
  EXPECT_EQ(bytes[19], 0xAB);
  EXPECT_EQ(bcn_sockaddr_dl_index(e[0].address), 2u);
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(e[1].address, bytes, sizeof bytes), 0u);  // known to be there, too long to show
  EXPECT_EQ(bcn_sockaddr_dl_index(e[1].address), 3u);
  EXPECT_EQ(e[2].address, nullptr);
  EXPECT_EQ(e[2].link_index, 4u);
  EXPECT_EQ(e[2].flags, 0x91u);

  EXPECT_STREQ(e[3].name, "ib0:wide");
  EXPECT_EQ(e[3].link_index, 0u);
  ASSERT_NE(e[3].netmask, nullptr);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in*>(e[3].netmask)->sin_addr.s_addr, 0xFFFFFFFFu);
  EXPECT_EQ(e[3].peer, nullptr);

  EXPECT_STREQ(e[4].name, "tun0");
  EXPECT_EQ(e[4].flags, 0x91u);
  ASSERT_TRUE(e[4].address && e[4].peer && e[4].netmask);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(e[4].address)->sin6_scope_id, 4u);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(e[4].peer)->sin6_scope_id, 4u);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(e[4].netmask)->sin6_scope_id, 0u);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(e[4].netmask)->sin6_addr.s6_addr[8], 0u);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(e[4].netmask)->sin6_addr.s6_addr[7], 0xFFu);

  EXPECT_STREQ(e[5].name, "tun0");
  EXPECT_EQ(e[5].address, nullptr);
  EXPECT_EQ(e[5].netmask, nullptr);

  EXPECT_EQ(bcn_kernel_view_entries(nullptr, &e), 0u);
  EXPECT_EQ(e, nullptr);
}

// A reading asks for its addresses in dump order, but any order must give
// the same answers, and an address the dump listed twice always gets the
// flags of its first listing.
TEST(KernelViewAddressFlags, AnyOrderOfQuestionsGetsTheFirstListingOfAnAddress) {
  auto record = [](const char* text, std::uint32_t flags) {
    Inet6AddressRecord r;
    r.index = 1;
    inet_pton(AF_INET6, text, r.address.data());
    r.flags = flags;
    return r;
  };
  constexpr std::uint32_t kTentative = 0x40, kDeprecated = 0x20, kPermanent = 0x80;
  for (const bool duplicateFirst : {false, true}) {
    std::vector<Inet6AddressRecord> records = {record("fd00::1", kTentative), record("fd00::2", kDeprecated)};
    // Listed again with other flags, after the others or between them.
    records.insert(duplicateFirst ? records.begin() + 1 : records.end(), record("fd00::1", kPermanent));
    bcn_kernel_view view;
    bcn::shim::indexKernelView(view, {link(1, "lo", ARPHRD_LOOPBACK, 0x9)}, records);
    auto ask = [&](const char* text) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      inet_pton(AF_INET6, text, &a.sin6_addr);
      std::uint32_t flags = 0xDEAD;
      EXPECT_TRUE(bcn_get_in6_addr_flags(3, &view, "lo", reinterpret_cast<const sockaddr*>(&a), &flags)) << text;
      return flags;
    };
    const std::uint32_t first = bcn::shim::in6AddressFlagsFrom(kTentative, 0);
    const std::uint32_t second = bcn::shim::in6AddressFlagsFrom(kDeprecated, 0);
    ASSERT_NE(first, bcn::shim::in6AddressFlagsFrom(kPermanent, 0));
    for (const char* order : {"1212", "1122", "2211", "2121"}) {
      for (const char* c = order; *c != 0; ++c) {
        EXPECT_EQ(ask(*c == '1' ? "fd00::1" : "fd00::2"), *c == '1' ? first : second)
            << "order " << order << ", duplicate first " << duplicateFirst;
      }
    }
  }
}

}  // namespace
