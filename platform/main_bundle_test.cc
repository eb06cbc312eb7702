#include "platform/main_bundle.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace bcn {
namespace {

// This test program embeds an Info.plist with version 9.8.7 and team
// identifier QBTEST1234 (see CMakeLists.txt).
TEST(MainBundle, ReadsTheEmbeddedInfoPlist) {
  EXPECT_EQ(MainBundle::string("CFBundleIdentifier"), "com.quillbank.Beaconbar.platform-test");
  EXPECT_EQ(MainBundle::string("CFBundleShortVersionString"), "9.8.7");
  EXPECT_EQ(MainBundle::string("BCNTeamID"), "QBTEST1234");
  EXPECT_EQ(MainBundle::string("LSMinimumSystemVersion"), "14.0");
  EXPECT_EQ(MainBundle::string("SUPublicEDKey"), std::nullopt);
}

TEST(MainBundle, ConcurrentFirstUseParsesOnce) {
  std::vector<const PlistDictionary*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &MainBundle::infoDictionary(); });
  }
  for (auto& t : threads) t.join();
  for (const PlistDictionary* d : seen) EXPECT_EQ(d, seen[0]);
  EXPECT_FALSE(seen[0]->empty());
}

}  // namespace
}  // namespace bcn
