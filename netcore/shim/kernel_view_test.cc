// The per-interface queries over a view built from canned dump records:
// which answers they give, and that a failed query leaves its output alone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <cstring>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/kernel_view.h"

namespace {

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

}  // namespace
