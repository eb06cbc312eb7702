#include "netcore/sysconfig/system_configuration_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using netprefs::NetworkInterfaceInfo;

// A preferences document whose current set lists `members` in that order.
struct Preferences {
  PlistDictionary services;
  std::vector<std::string> members;
  PlistValue order = PlistArray{};

  void add(const std::string& id, PlistDictionary fields) {
    services.set(id, std::move(fields));
    members.push_back(id);
  }

  PlistDictionary document() const {
    PlistDictionary links;
    for (const std::string& id : members) links.set(id, PlistDictionary{{"__LINK__", "/NetworkServices/" + id}});
    return PlistDictionary{
        {"CurrentSet", "/Sets/S"},
        {"Sets", PlistDictionary{{"S", PlistDictionary{{"Network", PlistDictionary{
                                           {"Service", links},
                                           {"Global", PlistDictionary{{"IPv4", PlistDictionary{
                                                          {"ServiceOrder", order}}}}}}}}}}},
        {"NetworkServices", services}};
  }
};

PlistDictionary on(const std::string& device, const std::string& name = "") {
  PlistDictionary fields{{"Interface", PlistDictionary{{"DeviceName", device}, {"Type", "Ethernet"}}}};
  if (!name.empty()) fields.set("UserDefinedName", name);
  return fields;
}

// Counts the reads, because each read of the live store is a whole kernel
// reading.
class CountingStore final : public dynstore::DynamicStore {
 public:
  CountingStore(dynstore::StoreEntries entries, int& reads) : memory_(std::move(entries)), reads_(reads) {}
  std::optional<PlistValue> copyValue(std::string_view key) override {
    ++reads_;
    return memory_.copyValue(key);
  }
  std::optional<PlistDictionary> copyMultiple(const std::vector<std::string>& keys,
                                              const std::vector<std::string>& patterns) override {
    ++reads_;
    return memory_.copyMultiple(keys, patterns);
  }

 private:
  dynstore::MemoryDynamicStore memory_;
  int& reads_;
};

class FakeSource final : public SystemConfigurationSource {
 public:
  int storeReads = 0;
  std::vector<NetworkInterfaceInfo> interfaces;
  std::optional<PlistDictionary> preferences;  // none: the preferences cannot be opened
  std::optional<dynstore::StoreEntries> store;  // none: the store cannot be opened

  std::vector<NetworkInterfaceInfo> copyAllInterfaces() override { return interfaces; }
  std::unique_ptr<netprefs::NetworkPreferences> openPreferences(std::string_view name) override {
    if (!preferences) return nullptr;
    const auto location = netprefs::PreferencesLocation::inDirectory(dir_.path());
    bcn::testing::writeText(location.file, *encodeXmlPlist(*preferences));
    return netprefs::NetworkPreferences::create(name, location);
  }
  std::unique_ptr<dynstore::DynamicStore> openDynamicStore(std::string_view) override {
    if (!store) return nullptr;
    return std::make_unique<CountingStore>(*store, storeReads);
  }

 private:
  bcn::testing::TempDir dir_;
};

std::vector<std::string> ids(const NetworkMetadata& metadata) {
  std::vector<std::string> out;
  for (const NetworkService& service : metadata.services) out.push_back(service.id);
  return out;
}

TEST(SystemConfigurationReaderTest, ConfiguredServicesFollowTheServiceOrderWithHiddenLast) {
  Preferences prefs;
  PlistDictionary hidden = on("eth9");
  hidden.set("Interface", PlistDictionary{{"DeviceName", "eth9"}, {"HiddenConfiguration", true}});
  prefs.add("H", hidden);                   // first in the order, but hidden
  prefs.add("U2", on("eth2"));              // not in the order
  prefs.add("B", on("eth1"));
  prefs.add("U1", on("eth3"));              // not in the order
  prefs.add("A", on("eth0", "Wired"));
  prefs.order = PlistArray{"H", "A", "B", "A", 5};
  FakeSource source;
  source.preferences = prefs.document();
  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  EXPECT_EQ(ids(metadata), (std::vector<std::string>{"A", "B", "U2", "U1", "H"}));
  EXPECT_EQ(metadata.services[0], (NetworkService{"A", "Wired", true, "eth0", false}));
  EXPECT_EQ(metadata.services[1].name, "B");  // no name: shown under its identifier
  EXPECT_TRUE(metadata.services[4].hidden);
}

TEST(SystemConfigurationReaderTest, ADuplicatedOrderEntryCountsAtItsFirstPosition) {
  Preferences prefs;
  prefs.add("X", on("eth0"));
  prefs.add("Y", on("eth1"));
  prefs.order = PlistArray{"Y", "X", "Y"};
  FakeSource source;
  source.preferences = prefs.document();
  EXPECT_EQ(ids(SystemConfigurationReader::read(source)), (std::vector<std::string>{"Y", "X"}));
}

TEST(SystemConfigurationReaderTest, InterfaceChainsAndTunnelStateGiveBSDNames) {
  Preferences prefs;
  prefs.add("PPP", PlistDictionary{{"Interface", PlistDictionary{{"Type", "PPP"}, {"DeviceName", "eth0"}}}});
  prefs.add("VPN4", PlistDictionary{{"UserDefinedName", "Work"}});
  prefs.add("VPN6", PlistDictionary{{"Interface", PlistDictionary{{"Type", "VPN"}}}});
  prefs.add("NONE", PlistDictionary{});
  prefs.add("WIRED", on("eth1"));
  FakeSource source;
  source.preferences = prefs.document();
  source.store = dynstore::StoreEntries{
      {"State:/Network/Service/VPN4/IPv4", PlistDictionary{{"InterfaceName", "utun4"}}},
      {"State:/Network/Service/VPN4/IPv6", PlistDictionary{{"InterfaceName", "utun9"}}},
      {"State:/Network/Service/VPN6/IPv4", PlistDictionary{{"InterfaceName", 4}}},
      {"State:/Network/Service/VPN6/IPv6", PlistDictionary{{"InterfaceName", "utun6"}}},
      {"State:/Network/Service/WIRED/IPv4", PlistDictionary{{"InterfaceName", "utun1"}}}};
  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  ASSERT_EQ(metadata.services.size(), 5u);
  EXPECT_EQ(metadata.services[0].bsdName, "eth0");
  EXPECT_EQ(metadata.services[1].bsdName, "utun4");
  EXPECT_EQ(metadata.services[2].bsdName, "utun6");
  EXPECT_EQ(metadata.services[3].bsdName, std::nullopt);
  EXPECT_EQ(metadata.services[4].bsdName, "eth1");  // an own name is never replaced
}

dynstore::StoreEntries transientEntries() {
  return {
      {"Setup:/Network/Service/T2/Interface", PlistDictionary{{"DeviceName", "tun1"}}},
      {"Setup:/Network/Service/T1/Interface",
       PlistDictionary{{"DeviceName", "wg0"}, {"UserDefinedName", "Tunnel"}, {"HiddenConfiguration", true}}},
      {"Setup:/Network/Service/T0/Interface", PlistDictionary{{"DeviceName", "tun0"}}},
      {"State:/Network/Service/T0", PlistDictionary{{"__INACTIVE__", false}}},
      {"State:/Network/Service/T2", PlistDictionary{{"Other", 1}}},
      {"Setup:/Network/Service/NODEV/Interface", PlistDictionary{{"Type", "VPN"}}},
      {"Setup:/Network/Service/EMPTY/Interface", PlistDictionary{}},
      {"Setup:/Network/Service/BADDEV/Interface", PlistDictionary{{"DeviceName", 3}}},
      {"Setup:/Network/Service/NOTDICT/Interface", "tun7"},
      {"Setup:/Network/Service/A/Interface", PlistDictionary{{"DeviceName", "tun8"}}},
      {"Setup:/Network/Service/T3/Interface/Extra", PlistDictionary{{"DeviceName", "tun5"}}},
      {"State:/Network/Global/IPv4", PlistDictionary{{"PrimaryInterface", "eth0"}}},
      {"State:/Network/Global/IPv6", PlistDictionary{{"PrimaryInterface", 6}}}};
}

TEST(SystemConfigurationReaderTest, TransientServicesFollowConfiguredOnesSortedById) {
  Preferences prefs;
  prefs.add("A", on("eth0", "Wired"));
  FakeSource source;
  source.preferences = prefs.document();
  source.store = transientEntries();
  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  // A stays configured; entities without a text DeviceName give nothing.
  EXPECT_EQ(ids(metadata), (std::vector<std::string>{"A", "T0", "T1", "T2"}));
  EXPECT_EQ(metadata.services[0].name, "Wired");
  EXPECT_EQ(metadata.services[1], (NetworkService{"T0", "tun0", false, "tun0", false}));
  EXPECT_EQ(metadata.services[2], (NetworkService{"T1", "Tunnel", true, "wg0", true}));
  EXPECT_EQ(metadata.services[3], (NetworkService{"T2", "tun1", true, "tun1", false}));
  EXPECT_EQ(metadata.primaryIPv4Interface, "eth0");
  EXPECT_EQ(metadata.primaryIPv6Interface, std::nullopt);
}

TEST(SystemConfigurationReaderTest, WithoutAStoreOnlyInterfacesAndConfiguredServicesRemain) {
  Preferences prefs;
  prefs.add("VPN", PlistDictionary{});
  FakeSource source;
  source.preferences = prefs.document();
  source.interfaces = {{"eth0", "First", "Ethernet", "02:00:00:00:00:01"},
                       {std::nullopt, "Nameless", "PPP", std::nullopt},
                       {"eth0", "Second", "Ethernet", std::nullopt}};
  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  ASSERT_EQ(metadata.interfaces.size(), 1u);
  EXPECT_EQ(metadata.interfaces.at("eth0"), (InterfaceMetadata{"eth0", "Second", "Ethernet", std::nullopt}));
  EXPECT_EQ(ids(metadata), (std::vector<std::string>{"VPN"}));
  EXPECT_EQ(metadata.services[0].bsdName, std::nullopt);
  EXPECT_EQ(metadata.primaryIPv4Interface, std::nullopt);
  EXPECT_EQ(metadata.primaryIPv6Interface, std::nullopt);
}

TEST(SystemConfigurationReaderTest, UnreadablePreferencesLeaveOnlyTransientServices) {
  FakeSource source;
  source.store = transientEntries();
  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  EXPECT_EQ(ids(metadata), (std::vector<std::string>{"A", "T0", "T1", "T2"}));

  source.preferences = PlistDictionary{{"CurrentSet", "/Sets/missing"}};
  EXPECT_EQ(ids(SystemConfigurationReader::read(source)), (std::vector<std::string>{"A", "T0", "T1", "T2"}));
}

// Hundreds of tunnels and configured services without a device: the whole
// reading still comes from one read of the store, so it costs one kernel
// reading however many links the machine has, and its parts agree.
TEST(SystemConfigurationReaderTest, ManyServicesTakeOneReadOfTheStore) {
  Preferences prefs;
  dynstore::StoreEntries entries;
  for (int i = 0; i < 300; ++i) {
    const std::string id = "C" + std::to_string(i);
    prefs.add(id, PlistDictionary{});
    entries["State:/Network/Service/" + id + "/IPv6"] = PlistDictionary{{"InterfaceName", "wg" + std::to_string(i)}};
    const std::string tunnel = "T" + std::to_string(i);
    entries["Setup:/Network/Service/" + tunnel + "/Interface"] = PlistDictionary{{"DeviceName", "tun" + std::to_string(i)}};
    if (i % 2 == 1) entries["State:/Network/Service/" + tunnel] = PlistDictionary{{"__INACTIVE__", true}};
  }
  entries["State:/Network/Global/IPv6"] = PlistDictionary{{"PrimaryInterface", "wg7"}};
  FakeSource source;
  source.preferences = prefs.document();
  source.store = std::move(entries);

  const NetworkMetadata metadata = SystemConfigurationReader::read(source);
  EXPECT_EQ(source.storeReads, 1);
  ASSERT_EQ(metadata.services.size(), 600u);
  EXPECT_EQ(metadata.services[299].bsdName, "wg299");
  const auto t1 = std::ranges::find(metadata.services, "T1", &NetworkService::id);
  const auto t2 = std::ranges::find(metadata.services, "T2", &NetworkService::id);
  ASSERT_NE(t1, metadata.services.end());
  ASSERT_NE(t2, metadata.services.end());
  EXPECT_FALSE(t1->enabled);
  EXPECT_TRUE(t2->enabled);
  EXPECT_EQ(metadata.primaryIPv6Interface, "wg7");
}

}  // namespace
}  // namespace bcn

#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/testing/net_namespace.h"

namespace bcn {
namespace {

using bcn::testing::runIp;

TEST(SystemConfigurationReaderLiveTest, PrimaryInterfacesFollowTheDefaultRoutes) {
  if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
  bcn::testing::ScopedNetNamespace ns;
  ASSERT_TRUE(ns.ok());
  const std::string a = bcn::testing::uniqueLinkName("ra");
  const std::string b = bcn::testing::uniqueLinkName("rb");
  for (const std::string& name : {a, b}) {
    ASSERT_TRUE(bcn::testing::addVethPair(name));
    ASSERT_TRUE(runIp({"link", "set", name, "up"}));
    ASSERT_TRUE(runIp({"link", "set", name + "p", "up"}));
  }
  ASSERT_TRUE(runIp({"addr", "add", "10.78.1.2/24", "dev", a}));
  ASSERT_TRUE(runIp({"addr", "add", "10.78.2.2/24", "dev", b}));
  ASSERT_TRUE(runIp({"addr", "add", "fd78:2::2/64", "dev", b, "nodad"}));
  ASSERT_TRUE(runIp({"route", "add", "default", "via", "10.78.1.1", "dev", a, "metric", "10"}));
  ASSERT_TRUE(runIp({"-6", "route", "add", "default", "via", "fd78:2::1", "dev", b}));

  bcn::testing::TempDir dir;
  LiveSystemConfigurationSource source(netprefs::PreferencesLocation::inDirectory(dir.path()));
  NetworkMetadata metadata = SystemConfigurationReader::read(source);
  EXPECT_EQ(metadata.primaryIPv4Interface, a);
  EXPECT_EQ(metadata.primaryIPv6Interface, b);
  const std::optional<NetworkService> service = metadata.service(a);
  ASSERT_TRUE(service.has_value());
  EXPECT_EQ(*service, (NetworkService{netprefs::stableServiceID(a), "Ethernet (" + a + ")", true, a, false}));
  ASSERT_EQ(metadata.interfaces.count(a), 1u);
  EXPECT_EQ(metadata.interfaces.at(a).interfaceType, "Ethernet");
  EXPECT_EQ(metadata.interfaces.at(a).hardwareAddress->size(), 17u);
  EXPECT_EQ(metadata.services.size(), 4u);  // both pairs, from the default set

  ASSERT_TRUE(runIp({"route", "add", "default", "via", "10.78.2.1", "dev", b, "metric", "5"}));
  metadata = SystemConfigurationReader::read(source);
  EXPECT_EQ(metadata.primaryIPv4Interface, b);
}

}  // namespace
}  // namespace bcn
