#include "netcore/shim/linux_words.h"

#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "netcore/shim/bcn_interfaces.h"

namespace {

TEST(InterfaceFlags, SharedBitsStayAndMulticastMovesToItsBsdBit) {
  EXPECT_EQ(bcn_bsd_interface_flags(IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST), 0x8043u);
  EXPECT_EQ(bcn_bsd_interface_flags(IFF_UP | IFF_LOOPBACK | IFF_RUNNING), 0x49u);
  EXPECT_EQ(bcn_bsd_interface_flags(IFF_POINTOPOINT | IFF_NOARP | IFF_PROMISC | IFF_ALLMULTI), 0x390u);
  // Linux-only bits must not masquerade as OACTIVE, SIMPLEX or LINK0-2.
  EXPECT_EQ(bcn_bsd_interface_flags(IFF_MASTER | IFF_SLAVE | IFF_PORTSEL | IFF_AUTOMEDIA | IFF_DYNAMIC |
                                    0x10000 /* LOWER_UP */ | 0x20000 /* DORMANT */),
            0u);
}

TEST(InterfaceTypes, HardwareTypesMapToBsdNumbers) {
  EXPECT_EQ(bcn_bsd_interface_type(ARPHRD_ETHER), 6);
  EXPECT_EQ(bcn_bsd_interface_type(ARPHRD_LOOPBACK), 24);
  EXPECT_EQ(bcn_bsd_interface_type(ARPHRD_PPP), 23);
  EXPECT_EQ(bcn_bsd_interface_type(ARPHRD_INFINIBAND), 199);
  for (std::uint16_t tunnel : {ARPHRD_NONE, ARPHRD_TUNNEL, ARPHRD_TUNNEL6, ARPHRD_SIT, ARPHRD_IPGRE, ARPHRD_VOID}) {
    EXPECT_EQ(bcn_bsd_interface_type(tunnel), 1) << tunnel;
  }
}

TEST(Nd6Flags, ComeFromTheInterfacesIpv6Settings) {
  bcn::shim::Inet6Settings defaults;
  defaults.acceptRa = 1;
  defaults.acceptDad = 1;
  EXPECT_EQ(bcn::shim::nd6FlagsFrom(defaults, IFF_UP | IFF_BROADCAST),
            bcn::shim::kNd6PerformNud | bcn::shim::kNd6AcceptRtadv | bcn::shim::kNd6Dad);

  bcn::shim::Inet6Settings router = defaults;
  router.forwarding = 1;  // accept_ra 1 is ignored while forwarding
  EXPECT_EQ(bcn::shim::nd6FlagsFrom(router, 0) & bcn::shim::kNd6AcceptRtadv, 0u);
  router.acceptRa = 2;
  EXPECT_NE(bcn::shim::nd6FlagsFrom(router, 0) & bcn::shim::kNd6AcceptRtadv, 0u);

  bcn::shim::Inet6Settings off;
  off.disableIpv6 = 1;
  off.acceptDad = -1;
  off.proxyNdp = 1;
  off.dropUnsolicitedNa = 1;
  EXPECT_EQ(bcn::shim::nd6FlagsFrom(off, IFF_NOARP | IFF_POINTOPOINT),
            bcn::shim::kNd6IfDisabled | bcn::shim::kNd6ProxyPrefixes | bcn::shim::kNd6IgnoreNa);
  EXPECT_EQ(bcn::shim::nd6FlagsFrom(bcn::shim::Inet6Settings{}, IFF_LOOPBACK), 0u);
}

TEST(In6AddressFlags, MapEveryKernelStateTheVocabularyNames) {
  using namespace bcn::shim;
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_PERMANENT, 0), 0u);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_PERMANENT | IFA_F_TENTATIVE, 0), kIn6Tentative);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_PERMANENT | IFA_F_DADFAILED | IFA_F_TENTATIVE, 0),
            kIn6Duplicated | kIn6Tentative);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_PERMANENT | IFA_F_OPTIMISTIC, 0), kIn6Optimistic);
  EXPECT_EQ(in6AddressFlagsFrom(0, 0), kIn6Dynamic);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_DEPRECATED, 0), kIn6Deprecated | kIn6Dynamic);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_TEMPORARY, 0), kIn6Temporary | kIn6Autoconf | kIn6Dynamic);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_MANAGETEMPADDR, 0), kIn6Autoconf | kIn6Dynamic);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_STABLE_PRIVACY, IFAPROT_KERNEL_RA), kIn6Secured | kIn6Autoconf | kIn6Dynamic);
  EXPECT_EQ(in6AddressFlagsFrom(IFA_F_PERMANENT | IFA_F_NODAD | IFA_F_NOPREFIXROUTE | IFA_F_HOMEADDRESS, 0), 0u);
}

// A sockaddr_ll as glibc stores it: room for a 24-byte hardware address.
struct StoredLinkAddress {
  alignas(sockaddr_ll) std::uint8_t bytes[sizeof(sockaddr_ll) + 16] = {};
  sockaddr_ll* ll() { return reinterpret_cast<sockaddr_ll*>(bytes); }
  const sockaddr* sa() { return reinterpret_cast<const sockaddr*>(bytes); }
};

StoredLinkAddress linkAddress(std::uint16_t hatype, std::uint8_t length, int index = 3) {
  StoredLinkAddress a;
  a.ll()->sll_family = AF_PACKET;
  a.ll()->sll_ifindex = index;
  a.ll()->sll_hatype = hatype;
  a.ll()->sll_halen = length;
  for (std::uint8_t i = 0; i < 24; ++i) a.bytes[offsetof(sockaddr_ll, sll_addr) + i] = static_cast<std::uint8_t>(0xA0 + i);
  return a;
}

TEST(LinkLayerAddress, CopiesTheHardwareAddressWhenItFits) {
  auto ether = linkAddress(ARPHRD_ETHER, 6);
  std::uint8_t buffer[32] = {};
  ASSERT_EQ(bcn_sockaddr_dl_lladdr(ether.sa(), buffer, sizeof buffer), 6u);
  EXPECT_EQ(buffer[0], 0xA0);
  EXPECT_EQ(buffer[5], 0xA5);
  EXPECT_EQ(buffer[6], 0);
  EXPECT_EQ(bcn_sockaddr_dl_type(ether.sa()), 6);
  EXPECT_EQ(bcn_sockaddr_dl_index(ether.sa()), 3u);

  auto infiniband = linkAddress(ARPHRD_INFINIBAND, 20);  // longer than sll_addr itself
  ASSERT_EQ(bcn_sockaddr_dl_lladdr(infiniband.sa(), buffer, sizeof buffer), 20u);
  EXPECT_EQ(buffer[19], 0xA0 + 19);
}

TEST(LinkLayerAddress, RefusesWhatCannotBeAHardwareAddress) {
  std::uint8_t buffer[32] = {};
  auto tunnel = linkAddress(ARPHRD_NONE, 0);
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(tunnel.sa(), buffer, sizeof buffer), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_type(tunnel.sa()), 1);

  auto ether = linkAddress(ARPHRD_ETHER, 6);
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(ether.sa(), buffer, 5), 0u);  // does not fit the buffer
  auto oversized = linkAddress(ARPHRD_ETHER, 25);                 // more than any stored address
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(oversized.sa(), buffer, sizeof buffer), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_index(nullptr), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_type(nullptr), 0);

  auto wrongFamily = linkAddress(ARPHRD_ETHER, 6);
  wrongFamily.ll()->sll_family = AF_INET;
  EXPECT_EQ(bcn_sockaddr_dl_lladdr(wrongFamily.sa(), buffer, sizeof buffer), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_index(wrongFamily.sa()), 0u);
  EXPECT_EQ(bcn_sockaddr_dl_type(wrongFamily.sa()), 0);
}

TEST(LinkLayerAddress, IndexesAbove16BitsSurvive) {
  auto a = linkAddress(ARPHRD_ETHER, 6, 70000);
  EXPECT_EQ(bcn_sockaddr_dl_index(a.sa()), 70000u);
}

}  // namespace
