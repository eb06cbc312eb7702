#include "platform/netprefs/preferences_document.h"

#include <gtest/gtest.h>

namespace bcn::netprefs {
namespace {

PlistDictionary link(const std::string& id) {
  return PlistDictionary{{"__LINK__", "/NetworkServices/" + id}};
}

PlistDictionary ethernet(const std::string& name, const std::string& device) {
  return PlistDictionary{{"UserDefinedName", name},
                         {"Interface", PlistDictionary{{"DeviceName", device}, {"Type", "Ethernet"}}}};
}

PlistDictionary document(PlistDictionary members, PlistValue order, PlistDictionary services) {
  PlistDictionary set{{"UserDefinedName", "Home"},
                      {"Network", PlistDictionary{{"Service", std::move(members)},
                                                  {"Global", PlistDictionary{{"IPv4", PlistDictionary{
                                                                  {"ServiceOrder", std::move(order)}}}}}}}};
  return PlistDictionary{{"CurrentSet", "/Sets/S1"},
                         {"Sets", PlistDictionary{{"S1", std::move(set)}}},
                         {"NetworkServices", std::move(services)}};
}

TEST(PreferencesDocumentTest, CurrentSetListsLinkedServicesInSetOrderAndSkipsDanglingLinks) {
  const PlistDictionary doc =
      document(PlistDictionary{{"B", link("B")}, {"GONE", link("GONE")}, {"A", link("A")}},
               PlistArray{"A", 7, "B"},
               PlistDictionary{{"A", ethernet("Wired", "eth0")}, {"B", ethernet("Dock", "eth1")}});
  const auto set = currentSet(doc);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(set->setID, "S1");
  EXPECT_EQ(set->name, "Home");
  ASSERT_EQ(set->services.size(), 2u);
  EXPECT_EQ(set->services[0].serviceID, "B");
  EXPECT_EQ(set->services[1].serviceID, "A");
  EXPECT_EQ(set->services[1].name, "Wired");
  ASSERT_TRUE(set->serviceOrder.has_value());
  EXPECT_EQ(*set->serviceOrder, (std::vector<std::string>{"A", "B"}));  // the integer is dropped
}

TEST(PreferencesDocumentTest, MissingOrMalformedPiecesReadAsAbsent) {
  PlistDictionary doc = document(PlistDictionary{{"A", link("A")}}, "not a list",
                                 PlistDictionary{{"A", ethernet("Wired", "eth0")}});
  ASSERT_TRUE(currentSet(doc).has_value());
  EXPECT_FALSE(currentSet(doc)->serviceOrder.has_value());

  doc.set("CurrentSet", "/Sets/NOPE");
  EXPECT_FALSE(currentSet(doc).has_value());
  doc.set("CurrentSet", 42);
  EXPECT_FALSE(currentSet(doc).has_value());
  EXPECT_FALSE(currentSet(PlistDictionary{}).has_value());
  EXPECT_FALSE(serviceWithID(PlistDictionary{{"NetworkServices", "x"}}, "A").has_value());
  EXPECT_FALSE(serviceWithID(doc, "").has_value());
}

TEST(PreferencesDocumentTest, InactiveMarkerDisablesWhateverItsValue) {
  PlistDictionary service = ethernet("Wired", "eth0");
  service.set("__INACTIVE__", false);
  const PlistDictionary doc{{"NetworkServices", PlistDictionary{{"A", service}}}};
  EXPECT_FALSE(serviceWithID(doc, "A")->enabled);
}

TEST(PreferencesDocumentTest, SwitchingAServiceRoundTripsAndLeavesOthersAlone) {
  PlistDictionary doc{{"NetworkServices", PlistDictionary{{"A", ethernet("Wired", "eth0")},
                                                          {"B", ethernet("Dock", "eth1")}}}};
  ASSERT_TRUE(setServiceEnabled(doc, "A", false));
  EXPECT_FALSE(serviceWithID(doc, "A")->enabled);
  EXPECT_TRUE(serviceWithID(doc, "B")->enabled);
  ASSERT_TRUE(setServiceEnabled(doc, "A", false));  // already off: still fine
  ASSERT_TRUE(setServiceEnabled(doc, "A", true));
  EXPECT_TRUE(serviceWithID(doc, "A")->enabled);
  EXPECT_EQ(serviceWithID(doc, "A")->name, "Wired");
  EXPECT_FALSE(setServiceEnabled(doc, "C", true));
  EXPECT_FALSE(setServiceEnabled(doc, "", true));
}

TEST(PreferencesDocumentTest, InterfaceChains) {
  const PreferencesInterface ppp =
      interfaceFromEntity(PlistDictionary{{"Type", "PPP"}, {"DeviceName", "eth0"}});
  EXPECT_FALSE(ppp.bsdName.has_value());
  ASSERT_NE(ppp.underlying, nullptr);
  EXPECT_EQ(underlyingBSDName(ppp), "eth0");

  const PreferencesInterface wifi = interfaceFromEntity(
      PlistDictionary{{"Type", "Ethernet"}, {"Hardware", "AirPort"}, {"DeviceName", "wlan0"}});
  EXPECT_EQ(wifi.type, "IEEE80211");
  EXPECT_EQ(underlyingBSDName(wifi), "wlan0");

  const PreferencesInterface vpn = interfaceFromEntity(PlistDictionary{{"Type", "VPN"}});
  EXPECT_FALSE(underlyingBSDName(vpn).has_value());
  EXPECT_FALSE(underlyingBSDName(interfaceFromEntity(PlistDictionary{{"DeviceName", ""}})).has_value());
}

TEST(PreferencesDocumentTest, HiddenRuleNeedsABooleanTrueInTheInterfaceEntity) {
  auto withEntity = [](PlistValue entity) {
    return PlistDictionary{
        {"NetworkServices", PlistDictionary{{"A", PlistDictionary{{"Interface", std::move(entity)}}}}}};
  };
  EXPECT_TRUE(isHiddenService(withEntity(PlistDictionary{{"HiddenConfiguration", true}}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistDictionary{{"HiddenConfiguration", false}}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistDictionary{{"HiddenConfiguration", 1}}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistDictionary{{"HiddenConfiguration", "YES"}}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistArray{true}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistDictionary{}), "A"));
  EXPECT_FALSE(isHiddenService(withEntity(PlistDictionary{{"HiddenConfiguration", true}}), "B"));
}

TEST(PreferencesDocumentTest, PathsIgnoreEmptyComponents) {
  const PlistDictionary doc{{"A", PlistDictionary{{"B", 5}}}};
  EXPECT_EQ(valueAtPath(doc, "/A/B"), PlistValue(5));
  EXPECT_EQ(valueAtPath(doc, "//A//B/"), PlistValue(5));
  EXPECT_EQ(valueAtPath(doc, "/"), PlistValue(doc));
  EXPECT_FALSE(valueAtPath(doc, "/A/B/C").has_value());
  EXPECT_FALSE(valueAtPath(doc, "/X").has_value());
}

}  // namespace
}  // namespace bcn::netprefs
