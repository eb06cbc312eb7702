#include "netcore/sysconfig/network_metadata.h"

#include <gtest/gtest.h>

namespace bcn {
namespace {

TEST(NetworkMetadataTest, ServiceForAnInterfaceIsTheFirstOnIt) {
  NetworkMetadata metadata;
  metadata.services = {{"A", "a", true, "en1", false}, {"B", "b", true, "en0", false},
                       {"C", "c", false, "en0", false}, {"D", "d", true, std::nullopt, false}};
  EXPECT_EQ(metadata.service("en0")->id, "B");
  EXPECT_EQ(metadata.service("en1")->id, "A");
  EXPECT_FALSE(metadata.service("en").has_value());
  EXPECT_FALSE(metadata.service("").has_value());
  EXPECT_FALSE(NetworkMetadata{}.service("en0").has_value());
}

TEST(NetworkMetadataTest, InterfaceMapComparesAndHashesAsAWhole) {
  NetworkMetadata first;
  NetworkMetadata second;
  // Enough entries that the two maps almost surely iterate in different orders.
  for (int i = 0; i < 64; ++i) {
    const std::string name = "en" + std::to_string(i);
    first.interfaces.emplace(name, InterfaceMetadata{name, "Ethernet " + name, "Ethernet", std::nullopt});
  }
  second.interfaces.reserve(1024);
  for (int i = 63; i >= 0; --i) {
    const std::string name = "en" + std::to_string(i);
    second.interfaces.emplace(name, InterfaceMetadata{name, "Ethernet " + name, "Ethernet", std::nullopt});
  }
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::hash<NetworkMetadata>{}(first), std::hash<NetworkMetadata>{}(second));
  second.interfaces.at("en3").hardwareAddress = "02:00:00:00:00:03";
  EXPECT_NE(first, second);
  EXPECT_NE(std::hash<NetworkMetadata>{}(first), std::hash<NetworkMetadata>{}(second));
}

}  // namespace
}  // namespace bcn
