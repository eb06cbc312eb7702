#include "netcore/interfaces/address_records.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace {

sockaddr_in v4(const char* text) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, text, &a.sin_addr);
  return a;
}

sockaddr_in6 v6(const char* text, std::uint32_t scope = 0) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &a.sin6_addr);
  a.sin6_scope_id = scope;
  return a;
}

const sockaddr* sa(const void* p) { return static_cast<const sockaddr*>(p); }

// A mask socket address cut after `length` bytes, as BSD kernels hand out.
std::vector<std::uint8_t> truncated(std::initializer_list<std::uint8_t> maskBytes, std::size_t start,
                                    std::size_t length) {
  std::vector<std::uint8_t> bytes(start, 0);
  bytes.insert(bytes.end(), maskBytes);
  bytes.resize(length, 0);
  return bytes;
}

TEST(PrefixLength, CountsLeadingOnesHonouringTheAvailableLength) {
  EXPECT_EQ(bcn::prefixLength(truncated({255, 255, 255}, 4, 7), AF_INET), 24);
  EXPECT_EQ(bcn::prefixLength(truncated({255, 255, 255, 255}, 4, 7), AF_INET), 24);  // the 4th byte is cut off
  EXPECT_EQ(bcn::prefixLength({}, AF_INET), 0);
  EXPECT_EQ(bcn::prefixLength(truncated({}, 4, 4), AF_INET), 0);
  EXPECT_EQ(bcn::prefixLength(truncated({255, 255, 255, 255, 255}, 4, 16), AF_INET), 32);  // at most 4 bytes
  EXPECT_EQ(bcn::prefixLength(truncated({0xFF, 0xFF, 0xFF}, 8, 11), AF_INET6), 24);
  EXPECT_EQ(bcn::prefixLength(truncated({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 28), AF_INET6), 64);
}

TEST(PrefixLength, StopsAtTheFirstByteThatIsNotAllOnes) {
  const sockaddr_in mask23 = v4("255.255.254.0");
  EXPECT_EQ(bcn::prefixLength(bcn::socketAddressBytes(sa(&mask23)), AF_INET), 23);
  const sockaddr_in gappy = v4("255.0.255.0");
  EXPECT_EQ(bcn::prefixLength(bcn::socketAddressBytes(sa(&gappy)), AF_INET), 8);
  const sockaddr_in odd = v4("255.255.255.254");
  EXPECT_EQ(bcn::prefixLength(bcn::socketAddressBytes(sa(&odd)), AF_INET), 31);
  const sockaddr_in6 all = v6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
  EXPECT_EQ(bcn::prefixLength(bcn::socketAddressBytes(sa(&all)), AF_INET6), 128);
  const sockaddr_in6 m57 = v6("ffff:ffff:ffff:ff80::");
  EXPECT_EQ(bcn::prefixLength(bcn::socketAddressBytes(sa(&m57)), AF_INET6), 57);
}

TEST(Ipv4Record, BroadcastAddressOfZerosIsDropped) {
  const auto address = v4("192.0.2.7"), mask = v4("255.255.255.0"), peer = v4("0.0.0.0");
  const bcn::IPv4Address r = bcn::ipv4Address(sa(&address), sa(&mask), sa(&peer), 0x2);
  EXPECT_EQ(r.address, "192.0.2.7");
  EXPECT_EQ(r.netmask, "255.255.255.0");
  EXPECT_EQ(r.prefixLength, 24);
  EXPECT_FALSE(r.broadcast.has_value());
  EXPECT_FALSE(r.destination.has_value());
  const auto real = v4("192.0.2.255");
  EXPECT_EQ(bcn::ipv4Address(sa(&address), sa(&mask), sa(&real), 0x2).broadcast, "192.0.2.255");
  EXPECT_FALSE(bcn::ipv4Address(sa(&address), sa(&mask), sa(&real), 0x0).broadcast.has_value());
}

// getifaddrs reports an address added without a broadcast address as its
// own broadcast address; that is no broadcast address at all.
TEST(Ipv4Record, OwnAddressInTheBroadcastSlotMeansNone) {
  const auto address = v4("192.0.2.7"), mask24 = v4("255.255.255.0");
  EXPECT_FALSE(bcn::ipv4Address(sa(&address), sa(&mask24), sa(&address), 0x2).broadcast.has_value());
  // On /31 and /32 the broadcast address may really be the address itself.
  const auto mask32 = v4("255.255.255.255"), mask31 = v4("255.255.255.254");
  EXPECT_EQ(bcn::ipv4Address(sa(&address), sa(&mask32), sa(&address), 0x2).broadcast, "192.0.2.7");
  EXPECT_EQ(bcn::ipv4Address(sa(&address), sa(&mask31), sa(&address), 0x2).broadcast, "192.0.2.7");
  // Without a netmask nothing tells the two cases apart; the value stays.
  EXPECT_EQ(bcn::ipv4Address(sa(&address), nullptr, sa(&address), 0x2).broadcast, "192.0.2.7");
}

TEST(Ipv4Record, PointToPointPeerIsADestinationNeverABroadcast) {
  const auto address = v4("10.8.0.1"), mask = v4("255.255.255.255"), peer = v4("10.8.0.2");
  const bcn::IPv4Address r = bcn::ipv4Address(sa(&address), sa(&mask), sa(&peer), 0x10 | 0x2);
  EXPECT_EQ(r.destination, "10.8.0.2");
  EXPECT_FALSE(r.broadcast.has_value());
  EXPECT_EQ(r.prefixLength, 32);
}

TEST(Ipv4Record, MissingOrForeignAddresses) {
  const auto mask = v4("255.0.0.0");
  const bcn::IPv4Address noAddress = bcn::ipv4Address(nullptr, nullptr, nullptr, 0x2);
  EXPECT_EQ(noAddress.address, "0.0.0.0");
  EXPECT_FALSE(noAddress.netmask.has_value());
  EXPECT_FALSE(noAddress.prefixLength.has_value());

  // A netmask that is not IPv4 gives no text but still a length.
  sockaddr_in foreignMask = mask;
  foreignMask.sin_family = AF_UNSPEC;
  const auto address = v4("10.1.2.3");
  const bcn::IPv4Address r = bcn::ipv4Address(sa(&address), sa(&foreignMask), nullptr, 0x2);
  EXPECT_FALSE(r.netmask.has_value());
  EXPECT_EQ(r.prefixLength, 8);
  EXPECT_FALSE(r.broadcast.has_value());  // no peer address at all
}

TEST(Ipv6Record, EmbeddedZoneIsRemovedAndBecomesTheScope) {
  const auto address = v6("fe80:4::1");
  const bcn::IPv6Address r = bcn::ipv6Address(address, nullptr, 0);
  EXPECT_EQ(r.address, "fe80::1");
  EXPECT_EQ(r.scopeID, 4u);
  EXPECT_FALSE(r.prefixLength.has_value());

  const bcn::IPv6Address explicitScope = bcn::ipv6Address(v6("fe80:4::1", 7), nullptr, 0);
  EXPECT_EQ(explicitScope.address, "fe80::1");
  EXPECT_EQ(explicitScope.scopeID, 7u);  // the socket address's own scope wins

  const bcn::IPv6Address wide = bcn::ipv6Address(v6("febf:0102::9"), nullptr, 0);
  EXPECT_EQ(wide.address, "febf::9");
  EXPECT_EQ(wide.scopeID, 0x0102u);
}

TEST(Ipv6Record, OtherAddressesAreFormattedUnchanged) {
  const auto mask = v6("ffff:ffff:ffff:ffff::");
  const bcn::IPv6Address plain = bcn::ipv6Address(v6("fe80::1", 3), sa(&mask), 0x40);
  EXPECT_EQ(plain.address, "fe80::1");
  EXPECT_EQ(plain.scopeID, 3u);
  EXPECT_EQ(plain.prefixLength, 64);
  EXPECT_EQ(plain.flags, 0x40u);
  const bcn::IPv6Address global = bcn::ipv6Address(v6("2001:db8:4::1"), sa(&mask), 0);
  EXPECT_EQ(global.address, "2001:db8:4::1");  // bytes 2-3 are only a zone on link-local addresses
  EXPECT_EQ(global.scopeID, 0u);
  EXPECT_EQ(bcn::ipv6Address(v6("fec0:4::1"), nullptr, 0).address, "fec0:4::1");  // site-local
}

TEST(AddressText, NtopFailureGivesEmptyText) {
  const in_addr a{htonl(0x7F000001)};
  EXPECT_EQ(bcn::ntop(AF_INET, &a), "127.0.0.1");
  EXPECT_EQ(bcn::ntop(12345, &a), "");
  EXPECT_EQ(bcn::ntop(AF_INET, nullptr), "");
}

TEST(MediaWordText, GoesThroughTheShim) {
  EXPECT_EQ(bcn::mediaWord(0x500030), "1000baseT <full-duplex,flow-control>");
  EXPECT_EQ(bcn::mediaWord(0x9F), "<unknown subtype>");
}

// The dotted quad is written without inet_ntop; it must be inet_ntop's to
// the byte, for every value in every position.
TEST(AddressText, DottedQuadIsInetNtopsForEveryByte) {
  for (int position = 0; position < 4; ++position) {
    for (int value = 0; value < 256; ++value) {
      std::uint8_t bytes[4] = {192, 0, 2, 1};
      bytes[position] = static_cast<std::uint8_t>(value);
      char expected[INET_ADDRSTRLEN] = {};
      ASSERT_NE(inet_ntop(AF_INET, bytes, expected, sizeof expected), nullptr);
      EXPECT_EQ(bcn::ntop(AF_INET, bytes), expected);
    }
  }
}

// Every arrangement of zero runs (and so every "::" placement, the
// embedded IPv4 forms and their near misses) and groups of every width must
// read as inet_ntop reads them.
TEST(AddressText, Ipv6TextIsInetNtopsForEveryZeroRunShape) {
  auto expectSame = [](const std::uint16_t (&groups)[8]) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 8; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
    }
    char expected[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, bytes, expected, sizeof expected) == nullptr) return false;
    EXPECT_EQ(bcn::ntop(AF_INET6, bytes), expected);
    return bcn::ntop(AF_INET6, bytes) == expected;
  };
  constexpr std::uint16_t kShapes[] = {0x0000, 0x0001, 0xFFFF};
  for (int pattern = 0; pattern < 6561; ++pattern) {  // 3^8
    std::uint16_t groups[8];
    for (int i = 0, rest = pattern; i < 8; ++i, rest /= 3) groups[i] = kShapes[rest % 3];
    ASSERT_TRUE(expectSame(groups)) << "pattern " << pattern;
  }
  std::uint32_t state = 12345;  // a fixed pseudo-random walk over group widths and zero placements
  for (int round = 0; round < 2000; ++round) {
    std::uint16_t groups[8];
    for (std::uint16_t& g : groups) {
      state = state * 1103515245u + 12345u;
      const int width = static_cast<int>((state >> 16) % 5);  // 0 to 4 hex digits
      g = width == 0 ? 0 : static_cast<std::uint16_t>((state >> 8) & ((1u << (4 * width)) - 1));
    }
    ASSERT_TRUE(expectSame(groups)) << "round " << round;
  }
}

}  // namespace
