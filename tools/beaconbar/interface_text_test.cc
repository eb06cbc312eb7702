#include "tools/beaconbar/interface_text.h"

#include <gtest/gtest.h>

#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::downInterface;
using testing::ethernet;
using testing::loopback;
using testing::tunnel;

TEST(InterfaceBlockTest, EthernetWithEveryField) {
  EXPECT_EQ(formatInterfaceBlock(ethernet()),
            "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500 index 4\n"
            "\toptions=3<RXCSUM,TXCSUM>\n"
            "\tether 00:1c:42:ab:cd:ef\n"
            "\tinet 192.168.1.20 netmask 255.255.255.0 broadcast 192.168.1.255\n"
            "\tinet6 fe80::21c:42ff:feab:cdef%en0 prefixlen 64 scopeid 0x4\n"
            "\tinet6 2001:db8::20 prefixlen 64 autoconf secured\n"
            "\tnd6 options=201<PERFORMNUD,DAD>\n"
            "\tmedia: autoselect (1000baseT <full-duplex>)\n"
            "\tstatus: active\n"
            "\ttype: Ethernet\n"
            "\tlink rate: 1 Gbps\n"
            "\tRX packets 1000 bytes 123456789 (118 MiB) errors 1 dropped 5 multicast 3\n"
            "\tTX packets 20 bytes 2048 (2.00 KiB) errors 2 collisions 4\n");
}

TEST(InterfaceBlockTest, LoopbackHidesItsAllZeroHardwareAddress) {
  EXPECT_EQ(formatInterfaceBlock(loopback()),
            "lo: flags=49<UP,LOOPBACK,RUNNING> mtu 65536 index 1\n"
            "\tinet 127.0.0.1 netmask 255.0.0.0\n"
            "\tinet6 ::1 prefixlen 128\n"
            "\ttype: Loopback\n"
            "\tRX packets 0 bytes 4096 (4.00 KiB) errors 0 dropped 0 multicast 0\n"
            "\tTX packets 0 bytes 4096 (4.00 KiB) errors 0 collisions 0\n");
}

TEST(InterfaceBlockTest, PointToPointShowsThePeerAndForeignScopesByNumber) {
  EXPECT_EQ(formatInterfaceBlock(tunnel()),
            "utun3: flags=8051<UP,POINTOPOINT,RUNNING,MULTICAST> mtu 1380 index 9\n"
            "\tinet 10.8.0.2 --> 10.8.0.1 netmask 255.255.255.255\n"
            "\tinet6 fe80::1%7 tentative optimistic deprecated scopeid 0x7\n"
            "\tRX packets 0 bytes 0 (0 B) errors 0 dropped 0 multicast 0\n"
            "\tTX packets 0 bytes 0 (0 B) errors 0 collisions 0\n");
}

TEST(InterfaceBlockTest, AbsentValuesLeaveTheirLinesOut) {
  InterfaceSnapshot bare;
  bare.name = "x0";
  EXPECT_EQ(formatInterfaceBlock(bare),
            "x0: flags=0<>\n"
            "\tRX packets 0 bytes 0 (0 B) errors 0 dropped 0 multicast 0\n"
            "\tTX packets 0 bytes 0 (0 B) errors 0 collisions 0\n");
  InterfaceSnapshot unknownStatus = downInterface();
  unknownStatus.media->status = MediaStatus::unknown;
  EXPECT_EQ(formatInterfaceBlock(unknownStatus).find("status:"), std::string::npos);
}

TEST(InterfaceWordsTest, LinkStateFollowsFlagsAndMedia) {
  EXPECT_EQ(linkState(ethernet()), "active");
  EXPECT_EQ(linkState(downInterface()), "down");
  InterfaceSnapshot noCarrier = downInterface();
  noCarrier.flags |= 0x1;  // up, media inactive, not running
  EXPECT_EQ(linkState(noCarrier), "inactive");
  noCarrier.flags |= 0x40;  // running, but the media says the link is down
  EXPECT_EQ(linkState(noCarrier), "inactive");
}

TEST(InterfaceWordsTest, ShortAddresses) {
  EXPECT_EQ(shortAddress(ethernet().ipv4[0]), "192.168.1.20/24");
  EXPECT_EQ(shortAddress(tunnel().ipv4[0]), "10.8.0.2 --> 10.8.0.1");
  EXPECT_EQ(shortAddress(IPv4Address{"10.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt}), "10.0.0.1");
  EXPECT_EQ(shortAddress(ethernet().ipv6[0], ethernet()), "fe80::21c:42ff:feab:cdef%en0/64");
  EXPECT_EQ(shortAddress(tunnel().ipv6[0], tunnel()), "fe80::1%7");
}

TEST(InterfaceWordsTest, HardwareAddressLabelFollowsTheLinkType) {
  EXPECT_EQ(hardwareAddress(ethernet()), "ether 00:1c:42:ab:cd:ef");
  InterfaceSnapshot firewire = ethernet();
  firewire.linkAddress->type = 0x90;
  EXPECT_EQ(hardwareAddress(firewire), "lladdr 00:1c:42:ab:cd:ef");
  EXPECT_EQ(hardwareAddress(loopback()), "");
  EXPECT_EQ(hardwareAddress(tunnel()), "");
}

}  // namespace
}  // namespace bcn::cli
