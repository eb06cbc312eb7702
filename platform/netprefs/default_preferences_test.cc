#include "platform/netprefs/default_preferences.h"

#include <gtest/gtest.h>
#include <net/if_arp.h>

#include <regex>

#include "platform/netprefs/network_interfaces.h"
#include "platform/netprefs/preferences_document.h"

namespace bcn::netprefs {
namespace {

KernelLink link(int index, std::string name, bool up, std::string kind = "",
                std::uint32_t arp = ARPHRD_ETHER) {
  KernelLink l;
  l.index = index;
  l.name = std::move(name);
  l.up = up;
  l.kind = std::move(kind);
  l.arpType = arp;
  return l;
}

TEST(DefaultPreferencesTest, OneServicePerConfigurableLinkInLinkOrder) {
  KernelLink lo = link(1, "lo", true, "", ARPHRD_LOOPBACK);
  lo.loopback = true;
  KernelLink wifi = link(6, "wlan0", true);
  wifi.wireless = true;
  const std::vector<KernelLink> links{lo,
                                      link(2, "eth0", true),
                                      link(3, "tun0", true, "tun", ARPHRD_NONE),
                                      link(4, "tap0", true, "tun"),
                                      link(5, "br0", false, "bridge"),
                                      wifi,
                                      link(7, "wg0", true, "wireguard", ARPHRD_NONE)};
  const PlistDictionary doc = defaultPreferences(links);
  const auto set = currentSet(doc);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(set->name, "Automatic");
  ASSERT_EQ(set->services.size(), 3u);
  EXPECT_EQ(set->services[0].name, "Ethernet (eth0)");
  EXPECT_EQ(set->services[1].name, "Bridge (br0)");
  EXPECT_EQ(set->services[2].name, "Wi-Fi (wlan0)");
  EXPECT_EQ(set->services[2].interface->type, "IEEE80211");
  EXPECT_EQ(underlyingBSDName(*set->services[0].interface), "eth0");
  // A link that is down gets a disabled service, so applying the default is a no-op.
  EXPECT_TRUE(set->services[0].enabled);
  EXPECT_FALSE(set->services[1].enabled);
  ASSERT_TRUE(set->serviceOrder.has_value());
  EXPECT_EQ((*set->serviceOrder)[0], set->services[0].serviceID);
  EXPECT_EQ(set->serviceOrder->size(), 3u);
}

TEST(DefaultPreferencesTest, ServiceIdsAreStableUpperCaseUuidsPerDevice) {
  const std::string eth0 = stableServiceID("eth0");
  EXPECT_EQ(eth0, stableServiceID("eth0"));
  EXPECT_NE(eth0, stableServiceID("eth1"));
  EXPECT_TRUE(std::regex_match(
      eth0, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
  // The same device keeps its id whatever else the kernel has.
  const auto a = currentSet(defaultPreferences({link(2, "eth0", true)}));
  const auto b = currentSet(defaultPreferences({link(2, "eth1", true), link(3, "eth0", false)}));
  EXPECT_EQ(a->services[0].serviceID, b->services[1].serviceID);
  EXPECT_EQ(a->setID, b->setID);
}

TEST(DefaultPreferencesTest, NoLinksGiveAnEmptyCurrentSet) {
  const auto set = currentSet(defaultPreferences({}));
  ASSERT_TRUE(set.has_value());
  EXPECT_TRUE(set->services.empty());
}

}  // namespace
}  // namespace bcn::netprefs

namespace bcn::netprefs {
namespace {

TEST(NetworkInterfacesTest, ListsConfigurableLinksWithTheirPresentation) {
  KernelLink eth = link(2, "eth0", true);
  eth.hardwareAddress = "02:fc:00:00:00:01";
  const std::vector<NetworkInterfaceInfo> list =
      networkInterfaces({eth, link(3, "tun0", true, "tun", ARPHRD_NONE), link(4, "br0", true, "bridge")});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], (NetworkInterfaceInfo{"eth0", "Ethernet (eth0)", "Ethernet", "02:fc:00:00:00:01"}));
  EXPECT_EQ(list[1], (NetworkInterfaceInfo{"br0", "Bridge (br0)", "Bridge", std::nullopt}));
}

TEST(NetworkInterfacesTest, FormatsHardwareAddressesInLowerCase) {
  const std::uint8_t mac[] = {0x02, 0xFC, 0x00, 0xAB, 0x0F, 0x10};
  EXPECT_EQ(formatHardwareAddress(mac, 6), "02:fc:00:ab:0f:10");
  EXPECT_EQ(formatHardwareAddress(mac, 0), "");
}

}  // namespace
}  // namespace bcn::netprefs
