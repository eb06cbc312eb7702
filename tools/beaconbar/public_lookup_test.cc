#include "tools/beaconbar/public_lookup.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "netcore/publicip/testing/local_http_server.h"

namespace bcn::cli {
namespace {

using bcn::testing::LocalHttpServer;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(LookupTargetTest, ProvidersAndCustomUrls) {
  auto echoB = lookupTarget("echoB", std::nullopt);
  ASSERT_TRUE(echoB) << echoB.error();
  EXPECT_EQ(echoB->url.rfind("https://", 0), 0u);
  EXPECT_EQ(echoB->url.substr(echoB->url.size() - 3), "/ip");
  EXPECT_EQ(echoB->source, echoB->url.substr(8, echoB->url.size() - 11));

  auto custom = lookupTarget("echoA", "http://127.0.0.1:8080/ip");
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->url, "http://127.0.0.1:8080/ip");
  EXPECT_EQ(custom->source, custom->url);

  EXPECT_FALSE(lookupTarget("custom", std::nullopt));
  EXPECT_FALSE(lookupTarget("echoa", std::nullopt));
  for (const char* bad : {"ftp://example.com/ip", "example.com/ip", "http://", "https://host:70000/"}) {
    EXPECT_FALSE(lookupTarget("echoA", std::string(bad))) << bad;
  }
}

class PublicLookupTest : public ::testing::Test {
 protected:
  // The waiter blocks the stop signals before the servers start threads.
  SignalWaiter signals_;
};

TEST_F(PublicLookupTest, FinishesWithWhatEachSideFound) {
  // The IPv4 side answers at once; the IPv6 side (no IPv6 address to
  // resolve) fails on its own, so the deadline never needs to cut in.
  LocalHttpServer server({.family = AF_INET}, LocalHttpServer::echo());
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/ip";
  PublicLookup lookup({url, url}, std::nullopt);
  auto [report, outcome] = lookup.wait(signals_, steady_clock::now() + std::chrono::seconds(20));
  EXPECT_EQ(outcome, PublicLookup::Outcome::finished);
  EXPECT_EQ(report.result.ipv4, "127.0.0.1");
  EXPECT_FALSE(report.result.ipv6);
  EXPECT_FALSE(report.result.error);
  EXPECT_EQ(report.url, url);
}

TEST_F(PublicLookupTest, GivesUpAtTheDeadlineWithAPlainReason) {
  LocalHttpServer server({.family = AF_INET}, LocalHttpServer::echo(milliseconds(20000)));
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/ip";
  const auto started = steady_clock::now();
  PublicLookup lookup({url, url}, std::nullopt);
  auto [report, outcome] = lookup.wait(signals_, started + milliseconds(300));
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(outcome, PublicLookup::Outcome::timedOut);
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(report.result.error, "no answer within 0.3 s");
}

TEST_F(PublicLookupTest, ASignalCancelsTheLookup) {
  LocalHttpServer server({.family = AF_INET}, LocalHttpServer::echo(milliseconds(20000)));
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/ip";
  PublicLookup lookup({url, url}, std::nullopt);
  ASSERT_EQ(raise(SIGTERM), 0);
  const auto started = steady_clock::now();
  auto [report, outcome] = lookup.wait(signals_, started + std::chrono::seconds(20));
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(outcome, PublicLookup::Outcome::interrupted);
  EXPECT_TRUE(report.failed());
}

}  // namespace
}  // namespace bcn::cli
