// The reader against real kernel objects in private network namespaces:
// a bridge, veth pairs, a tun device and an address label, each checked
// field by field, plus traffic across a pair.
#include "netcore/interfaces/interface_reader.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "netcore/interfaces/test_namespace.h"
#include "netcore/interfaces/testing/find_snapshot.h"
#include "platform/testing/test_support.h"

namespace {

using bcn::InterfaceSnapshot;
using bcn::MediaStatus;
using bcn::testing::find;
using bcn::testing::TestNamespace;
using bcn::testing::uniqueInterfaceName;

const bcn::IPv6Address* findAddress(const InterfaceSnapshot& s, const std::string& address) {
  auto it = std::find_if(s.ipv6.begin(), s.ipv6.end(), [&](const bcn::IPv6Address& a) { return a.address == address; });
  return it == s.ipv6.end() ? nullptr : &*it;
}

std::vector<InterfaceSnapshot> readIn(const TestNamespace& ns) {
  return ns.inside([] { return bcn::InterfaceReader().snapshot(); }).value_or(std::vector<InterfaceSnapshot>{});
}

class ReaderInNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates network namespaces";
    main_.emplace("main");
    peer_.emplace("peer");
    ASSERT_TRUE(main_->created() && peer_->created()) << "ip netns add failed";
    TestNamespace& m = *main_;
    const std::string p = peer_->name();
    ASSERT_TRUE(m.ip("link set lo up"));
    // A veth pair with its far end in the peer namespace, carrying IPv4 and
    // IPv6 addresses (one with a finite, deprecated lifetime) and a label.
    if (!m.ip("link add " + va_ + " type veth peer name " + vb_ + " netns " + p)) {
      GTEST_SKIP() << "kernel lacks veth";
    }
    ASSERT_TRUE(m.ip("addr add 10.77.0.1/24 broadcast 10.77.0.255 dev " + va_));
    ASSERT_TRUE(m.ip("addr add 10.77.1.1/24 dev " + va_ + " label " + label_));
    ASSERT_TRUE(m.ip("addr add fd00:77::1/64 dev " + va_ + " nodad"));
    ASSERT_TRUE(m.ip("addr add fd00:77::5/64 dev " + va_ + " nodad valid_lft 100 preferred_lft 0"));
    ASSERT_TRUE(m.ip("link set " + va_ + " up"));
    ASSERT_TRUE(peer_->ip("addr add 10.77.0.2/24 dev " + vb_));
    ASSERT_TRUE(peer_->ip("link set " + vb_ + " up"));
    // Up but not running: its peer stays down.
    ASSERT_TRUE(m.ip("link add " + ua_ + " type veth peer name " + ub_ + " netns " + p));
    ASSERT_TRUE(m.ip("link set " + ua_ + " up"));
    haveBridge_ = m.ip("link add " + br_ + " type bridge") && m.ip("link set " + br_ + " up");
    haveTun_ = m.ip("tuntap add dev " + tn_ + " mode tun") && m.ip("addr add 10.78.0.1 peer 10.78.0.2 dev " + tn_) &&
               m.ip("link set " + tn_ + " up");
  }

  // The namespace's links in kernel (index) order, from `ip -j link`.
  std::vector<std::pair<std::string, std::uint32_t>> kernelLinks() const {
    std::vector<std::pair<std::string, std::uint32_t>> links;
    const auto json = nlohmann::json::parse(main_->ipOutput("-j link"), nullptr, false);
    if (!json.is_array()) return links;
    for (const auto& l : json) links.emplace_back(l.value("ifname", ""), l.value("ifindex", 0u));
    return links;
  }

  std::optional<TestNamespace> main_, peer_;
  const std::string va_ = uniqueInterfaceName("va"), vb_ = uniqueInterfaceName("vb");
  const std::string ua_ = uniqueInterfaceName("ua"), ub_ = uniqueInterfaceName("ub");
  const std::string br_ = uniqueInterfaceName("br"), tn_ = uniqueInterfaceName("tn");
  const std::string label_ = va_ + ":1";
  bool haveBridge_ = false, haveTun_ = false;
};

TEST_F(ReaderInNamespace, ListsEveryNameOnceInKernelOrder) {
  const auto snapshot = readIn(*main_);
  const auto links = kernelLinks();
  ASSERT_FALSE(links.empty());
  // Links first in index order, then the label, which only IPv4 entries name.
  std::vector<std::string> expected;
  for (const auto& [name, index] : links) expected.push_back(name);
  expected.push_back(label_);
  std::vector<std::string> names;
  for (const auto& s : snapshot) names.push_back(s.name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  for (const auto& [name, index] : links) {
    const InterfaceSnapshot* s = find(snapshot, name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->index, index) << name;
  }
  // A second reading of the unchanged namespace lists the same names in the same order.
  std::vector<std::string> again;
  for (const auto& s : readIn(*main_)) again.push_back(s.name);
  EXPECT_EQ(again, names);
}

TEST_F(ReaderInNamespace, VethCarriesItsFlagsAddressesAndMedia) {
  const auto snapshot = readIn(*main_);
  const InterfaceSnapshot* va = find(snapshot, va_);
  ASSERT_NE(va, nullptr);
  EXPECT_EQ(va->flags, 0x8043u);  // UP BROADCAST RUNNING MULTICAST
  EXPECT_TRUE(va->isLinkActive());
  EXPECT_EQ(va->mtu, 1500u);
  EXPECT_EQ(va->ifType, 6);
  EXPECT_EQ(va->baudrate, 10'000'000'000ULL);
  EXPECT_EQ(va->functionalType, bcn::FunctionalType::unknown);  // virtual: no device behind it

  const auto links = nlohmann::json::parse(main_->ipOutput("-j link show " + va_), nullptr, false);
  ASSERT_TRUE(links.is_array() && links.size() == 1);
  ASSERT_TRUE(va->linkAddress.has_value());
  EXPECT_EQ(va->linkAddress->description(), links[0].value("address", ""));
  EXPECT_EQ(va->linkAddress->type, 6);

  ASSERT_EQ(va->ipv4.size(), 1u);
  EXPECT_EQ(va->ipv4[0], (bcn::IPv4Address{"10.77.0.1", "255.255.255.0", 24, "10.77.0.255", std::nullopt}));

  const bcn::IPv6Address* stable = findAddress(*va, "fd00:77::1");
  ASSERT_NE(stable, nullptr);
  EXPECT_EQ(stable->prefixLength, 64);
  EXPECT_EQ(stable->scopeID, 0u);
  EXPECT_EQ(stable->flags, 0u);
  const bcn::IPv6Address* expiring = findAddress(*va, "fd00:77::5");
  ASSERT_NE(expiring, nullptr);
  EXPECT_EQ(expiring->flagNames(), (std::vector<std::string>{"deprecated", "dynamic"}));
  const auto linkLocal = std::find_if(va->ipv6.begin(), va->ipv6.end(),
                                      [](const bcn::IPv6Address& a) { return a.address.starts_with("fe80::"); });
  ASSERT_NE(linkLocal, va->ipv6.end());
  EXPECT_EQ(linkLocal->scopeID, va->index);
  EXPECT_EQ(linkLocal->prefixLength, 64);
  EXPECT_EQ(va->ipv6.size(), 3u);

  ASSERT_TRUE(va->media.has_value());
  EXPECT_EQ(va->media->description(), "10Gbase-T <full-duplex>");
  EXPECT_EQ(va->media->status, MediaStatus::active);
  ASSERT_TRUE(va->nd6Flags.has_value());
  EXPECT_EQ(*va->nd6Flags, 0x203u);  // PERFORMNUD ACCEPT_RTADV DAD
  ASSERT_TRUE(va->capabilities.has_value());
  EXPECT_EQ(*va->capabilities & 0x3u, 0x3u);  // veth checksums in both directions
}

TEST_F(ReaderInNamespace, UpButNotRunningIsNotLinkActive) {
  const auto snapshot = readIn(*main_);
  const InterfaceSnapshot* ua = find(snapshot, ua_);
  ASSERT_NE(ua, nullptr);
  EXPECT_EQ(ua->flags, 0x8003u);
  EXPECT_TRUE(ua->isUp());
  EXPECT_FALSE(ua->isRunning());
  EXPECT_FALSE(ua->isLinkActive());
  ASSERT_TRUE(ua->media.has_value());
  EXPECT_EQ(ua->media->status, MediaStatus::inactive);
}

TEST_F(ReaderInNamespace, BridgeWithoutPortsReportsNoMedia) {
  if (!haveBridge_) GTEST_SKIP() << "kernel lacks the bridge driver";
  const auto snapshot = readIn(*main_);
  const InterfaceSnapshot* br = find(snapshot, br_);
  ASSERT_NE(br, nullptr);
  EXPECT_TRUE(br->isUp());
  // Whether a port-less bridge has carrier depends on the kernel; the
  // reading must agree with what ip says.
  const auto link = nlohmann::json::parse(main_->ipOutput("-j link show " + br_), nullptr, false);
  ASSERT_TRUE(link.is_array() && link.size() == 1);
  const auto flags = link[0].value("flags", nlohmann::json::array());
  EXPECT_EQ(br->isRunning(), std::find(flags.begin(), flags.end(), "NO-CARRIER") == flags.end());
  EXPECT_FALSE(br->media.has_value());
  EXPECT_EQ(br->ifType, 6);
  EXPECT_EQ(br->baudrate, 0u);
  ASSERT_TRUE(br->linkAddress.has_value());
  EXPECT_EQ(br->linkAddress->bytes.size(), 6u);
}

TEST_F(ReaderInNamespace, TunIsPointToPointWithoutHardwareAddress) {
  if (!haveTun_) GTEST_SKIP() << "kernel lacks tun";
  const auto snapshot = readIn(*main_);
  const InterfaceSnapshot* tn = find(snapshot, tn_);
  ASSERT_NE(tn, nullptr);
  EXPECT_EQ(tn->flags, 0x8091u);  // UP POINTOPOINT NOARP MULTICAST; no process holds it, so not running
  EXPECT_FALSE(tn->linkAddress.has_value());
  EXPECT_EQ(tn->ifType, 1);
  EXPECT_FALSE(tn->media.has_value());
  ASSERT_EQ(tn->ipv4.size(), 1u);
  EXPECT_EQ(tn->ipv4[0], (bcn::IPv4Address{"10.78.0.1", "255.255.255.255", 32, std::nullopt, "10.78.0.2"}));
  ASSERT_TRUE(tn->nd6Flags.has_value());
  EXPECT_EQ(*tn->nd6Flags & 0x1u, 0u);  // no neighbour discovery without ARP
}

TEST_F(ReaderInNamespace, LabelOnlyNameGetsItsOwnBareSnapshot) {
  const auto snapshot = readIn(*main_);
  const InterfaceSnapshot* label = find(snapshot, label_);
  ASSERT_NE(label, nullptr);
  // The kernel resolves "name:label" to the labelled interface's index, but
  // the statistics belong to the interface's own name, so they are not
  // given to the label.
  const InterfaceSnapshot* va = find(snapshot, va_);
  ASSERT_NE(va, nullptr);
  EXPECT_EQ(label->index, va->index);
  EXPECT_EQ(label->mtu, 1500u);  // through SIOCGIFMTU, which also resolves labels
  EXPECT_EQ(label->ifType, 0);
  EXPECT_FALSE(label->linkAddress.has_value());
  ASSERT_EQ(label->ipv4.size(), 1u);
  EXPECT_EQ(label->ipv4[0].address, "10.77.1.1");
  EXPECT_FALSE(label->ipv4[0].broadcast.has_value()) << "added without a broadcast address";
  EXPECT_EQ(label->counters, bcn::InterfaceCounters{});
  EXPECT_FALSE(label->media.has_value());
  EXPECT_FALSE(label->capabilities.has_value());
  EXPECT_EQ(label->flags, va->flags);
}

TEST_F(ReaderInNamespace, LoopbackIsLoopback) {
  const auto snapshot = readIn(*main_);
  ASSERT_FALSE(snapshot.empty());
  const InterfaceSnapshot& lo = snapshot.front();
  EXPECT_EQ(lo.name, "lo");
  EXPECT_EQ(lo.flags, 0x49u);  // UP LOOPBACK RUNNING
  EXPECT_EQ(lo.functionalType, bcn::FunctionalType::loopback);
  EXPECT_EQ(lo.ifType, 24);
  EXPECT_EQ(lo.mtu, 65536u);
  EXPECT_FALSE(lo.media.has_value());
  ASSERT_EQ(lo.ipv4.size(), 1u);
  EXPECT_EQ(lo.ipv4[0], (bcn::IPv4Address{"127.0.0.1", "255.0.0.0", 8, std::nullopt, std::nullopt}));
  ASSERT_EQ(lo.ipv6.size(), 1u);
  EXPECT_EQ(lo.ipv6[0], (bcn::IPv6Address{"::1", 128, 0, 0}));
}

// Sends `count` UDP datagrams of `size` bytes to the peer's discard port.
bool sendDatagrams(int count, std::size_t size) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
  std::vector<char> payload(size, 'x');
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    ok = sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    if (i == 0) usleep(200'000);  // let the first one resolve the peer's address
  }
  close(fd);
  return ok;
}

TEST_F(ReaderInNamespace, CountersGrowWithTrafficAcrossThePair) {
  constexpr int kCount = 50;
  constexpr std::size_t kSize = 1000;
  const auto before = readIn(*main_);
  const auto peerBefore = readIn(*peer_);
  ASSERT_TRUE(main_->inside([] { return sendDatagrams(kCount, kSize); }).value_or(false));
  usleep(100'000);
  const auto after = readIn(*main_);
  const auto peerAfter = readIn(*peer_);

  const InterfaceSnapshot *a0 = find(before, va_), *a1 = find(after, va_);
  const InterfaceSnapshot *b0 = find(peerBefore, vb_), *b1 = find(peerAfter, vb_);
  ASSERT_TRUE(a0 && a1 && b0 && b1);
  // Every datagram adds its payload plus UDP, IP and Ethernet headers.
  EXPECT_GE(a1->counters.bytesOut - a0->counters.bytesOut, kCount * (kSize + 42));
  EXPECT_GE(a1->counters.packetsOut - a0->counters.packetsOut, std::uint64_t{kCount});
  EXPECT_GE(b1->counters.bytesIn - b0->counters.bytesIn, kCount * (kSize + 42));
  EXPECT_GE(b1->counters.packetsIn - b0->counters.packetsIn, std::uint64_t{kCount});
  // The peer answers at least the address resolution.
  EXPECT_GT(a1->counters.packetsIn, a0->counters.packetsIn);
  EXPECT_EQ(a1->counters.multicastOut, 0u);
}

TEST_F(ReaderInNamespace, ConcurrentReadingsOnOneReaderAgree) {
  using Names = std::vector<std::string>;
  const auto seen = main_->inside([] {
    const bcn::InterfaceReader reader;
    std::vector<std::vector<Names>> perThread(4);
    std::vector<std::thread> threads;
    for (auto& results : perThread) {
      threads.emplace_back([&reader, &results] {
        for (int round = 0; round < 20; ++round) {
          Names names;
          for (const auto& s : reader.snapshot()) names.push_back(s.name);
          results.push_back(std::move(names));
        }
      });
    }
    for (auto& t : threads) t.join();
    return perThread;
  });
  ASSERT_TRUE(seen.has_value());
  const Names& first = seen->front().front();
  EXPECT_EQ(first.size(), kernelLinks().size() + 1);
  for (const auto& results : *seen) {
    for (const Names& names : results) EXPECT_EQ(names, first);
  }
}

}  // namespace
