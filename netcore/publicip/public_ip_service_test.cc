#include "netcore/publicip/public_ip_service.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <future>
#include <ostream>
#include <thread>

#include "netcore/publicip/lookup_within.h"
#include "netcore/publicip/testing/isolation.h"
#include "netcore/publicip/testing/local_http_server.h"
#include "netcore/publicip/testing/test_pki.h"
#include "platform/testing/test_support.h"

namespace bcn {

void PrintTo(const PublicIPResult& r, std::ostream* out) {
  const auto field = [](const std::optional<std::string>& v) { return v ? '"' + *v + '"' : "none"; };
  *out << "{ipv4 " << field(r.ipv4) << ", ipv6 " << field(r.ipv6) << ", error " << field(r.error) << "}";
}

namespace PublicIPService {
namespace {

using namespace std::chrono_literals;
using testing::DualStackServers;
using testing::LocalHttpServer;
using testing::Peer;
using Clock = std::chrono::steady_clock;

// A name with one address per family, which only the private hosts file
// of runWithHostsFile knows.
constexpr const char* kDualStackName = "bcn-echo.test";
const std::string kHosts = std::string("127.0.0.1 ") + kDualStackName + "\n::1 " + kDualStackName + "\n";

std::string dualStackURL(const char* scheme, std::uint16_t port, std::string_view rest = "/ip") {
  return std::string(scheme) + "://" + kDualStackName + ":" + std::to_string(port) + std::string(rest);
}

// Runs `body` with kDualStackName resolvable; the body reports through
// gtest assertions in the child, whose outcome becomes this test's.
void withDualStackName(const std::function<void()>& body) {
  if (!testing::canOverrideHosts()) GTEST_SKIP() << "needs root: private /etc/hosts in a mount namespace";
  const int status = testing::runWithHostsFile(kHosts, [&] {
    body();
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  if (status == 124) GTEST_SKIP() << "this machine has no /etc/hosts, and /etc could not be overlaid to add one";
  EXPECT_EQ(status, 0) << "failures in the child are printed above";
}

LocalHttpServer::Handler answering(std::string body) {
  return LocalHttpServer::answer(LocalHttpServer::response("HTTP/1.1 200 OK", body));
}

LocalHttpServer::Handler silent() {
  return [](Peer& peer) {
    peer.readRequest();
    peer.waitForClose(30s);
  };
}

TEST(Lookup, EachSideReachesOnlyItsOwnFamily) {
  withDualStackName([] {
    // Same port, different answers: each answer tells which listener served it.
    DualStackServers servers(answering("192.0.2.4\n"), answering("2001:db8::6\n"));
    const auto result = lookup(dualStackURL("http", servers.port()));
    EXPECT_EQ(result, (PublicIPResult{"192.0.2.4", "2001:db8::6", std::nullopt}));
    EXPECT_EQ(servers.v4->accepted(), 1);
    EXPECT_EQ(servers.v6->accepted(), 1);
  });
}

TEST(Lookup, EachSideReachesOnlyItsOwnFamilyOverTLS) {
  withDualStackName([] {
    bcn::testing::TempDir dir;
    testing::TestPKI pki;
    pki.writeCertificate(dir / "ca.pem");
    const testing::ScopedEnvironmentVariable trust("SSL_CERT_FILE", (dir / "ca.pem").string());
    const auto identity = pki.issue({kDualStackName}, {});
    DualStackServers servers(LocalHttpServer::echo(), LocalHttpServer::echo(), &identity);
    const auto result = lookup(dualStackURL("https", servers.port()));
    EXPECT_EQ(result, (PublicIPResult{"127.0.0.1", "::1", std::nullopt}));
  });
}

TEST(Lookup, OneFamilyAnsweringGivesOneAddressAndNoError) {
  withDualStackName([] {
    LocalHttpServer v4({AF_INET}, answering("{\"ip\":\"192.0.2.4\"}"));  // nothing listens on ::1
    EXPECT_EQ(lookup(dualStackURL("http", v4.port())),
              (PublicIPResult{"192.0.2.4", std::nullopt, std::nullopt}));
  });
  withDualStackName([] {
    LocalHttpServer v6({AF_INET6}, answering("{\"data\":{\"addr\":\"2001:db8::6\"}}"));
    EXPECT_EQ(lookup(dualStackURL("http", v6.port()), "data.addr"),
              (PublicIPResult{std::nullopt, "2001:db8::6", std::nullopt}));
  });
}

TEST(Lookup, IPv4AnswerStandsWhenIPv6TimesOut) {
  withDualStackName([] {
    DualStackServers servers(answering("192.0.2.4"), silent());
    const auto start = Clock::now();
    const auto result = lookupWithin(dualStackURL("http", servers.port()), std::nullopt, 500ms, {});
    EXPECT_EQ(result, (PublicIPResult{"192.0.2.4", std::nullopt, std::nullopt}));
    EXPECT_LT(Clock::now() - start, 1500ms);
  });
}

TEST(Lookup, BothFailingReportsTheIPv4SidesError) {
  withDualStackName([] {
    DualStackServers servers(LocalHttpServer::answer(LocalHttpServer::response("HTTP/1.1 503 Busy", "")),
                             silent());
    const auto result = lookupWithin(dualStackURL("http", servers.port()), std::nullopt, 500ms, {});
    EXPECT_EQ(result, (PublicIPResult{std::nullopt, std::nullopt, "The server answered HTTP 503"}));
  });
  withDualStackName([] {
    DualStackServers servers(silent(), LocalHttpServer::answer(LocalHttpServer::response("HTTP/1.1 404 No", "")));
    const auto result = lookupWithin(dualStackURL("http", servers.port()), std::nullopt, 500ms, {});
    EXPECT_EQ(result, (PublicIPResult{std::nullopt, std::nullopt, "The request timed out."}));
  });
}

TEST(Lookup, SidesRunAtTheSameTime) {
  withDualStackName([] {
    DualStackServers servers(LocalHttpServer::echo(500ms), LocalHttpServer::echo(500ms));
    const auto start = Clock::now();
    const auto result = lookup(dualStackURL("http", servers.port()));
    const auto took = Clock::now() - start;
    EXPECT_EQ(result, (PublicIPResult{"127.0.0.1", "::1", std::nullopt}));
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 900ms) << "the sides ran one after the other";
  });
}

TEST(Lookup, AnswerWithoutAnAddressIsNoAddress) {
  LocalHttpServer v4({AF_INET}, answering("<html>hello</html>"));
  const auto result = lookup("http://127.0.0.1:" + std::to_string(v4.port()) + "/");
  EXPECT_EQ(result, (PublicIPResult{std::nullopt, std::nullopt, "The response has no IP address"}));
}

TEST(Lookup, BadURLFailsAtOnce) {
  const auto start = Clock::now();
  EXPECT_EQ(lookup("ftp://example.com/ip"),
            (PublicIPResult{std::nullopt, std::nullopt, "The lookup URL isn't valid"}));
  EXPECT_EQ(lookup(""), (PublicIPResult{std::nullopt, std::nullopt, "The lookup URL isn't valid"}));
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(Lookup, BuiltInProvidersEndPromptlyWithAReasonWhenOffline) {
  // This machine has no route to the internet; on one that does, both
  // built-ins are expected to answer with at least one address.
  for (const auto& provider : {PublicIPProvider::echoA, PublicIPProvider::echoB}) {
    const auto start = Clock::now();
    const auto result = lookup(*provider.url());
    const auto took = Clock::now() - start;
    EXPECT_TRUE(result.ipv4 || result.ipv6 || (result.error && !result.error->empty()))
        << provider.rawValue();
    EXPECT_LE(took, 16s) << provider.rawValue() << ": " << ::testing::PrintToString(result);
  }
}

TEST(Lookup, StopRequestEndsTheLookupAsCancelled) {
  LocalHttpServer v4({AF_INET}, silent());
  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);
    stop.request_stop();
  });
  const auto start = Clock::now();
  const auto result = lookup("http://127.0.0.1:" + std::to_string(v4.port()) + "/", std::nullopt,
                             stop.get_token());
  stopper.join();
  EXPECT_EQ(result, (PublicIPResult{std::nullopt, std::nullopt, "The operation was cancelled."}));
  EXPECT_LT(Clock::now() - start, 1s);

  // Already stopped: nothing is fetched.
  EXPECT_EQ(lookup("http://127.0.0.1:" + std::to_string(v4.port()) + "/", std::nullopt, stop.get_token()),
            (PublicIPResult{std::nullopt, std::nullopt, "The operation was cancelled."}));
}

TEST(Lookup, ManyLookupsAtOnceFromSeveralThreads) {
  LocalHttpServer v4({AF_INET}, LocalHttpServer::echo(50ms));
  const std::string url = "http://127.0.0.1:" + std::to_string(v4.port()) + "/";
  std::vector<std::future<PublicIPResult>> results;
  for (int i = 0; i < 8; ++i) results.push_back(std::async(std::launch::async, [&] { return lookup(url); }));
  for (auto& r : results) EXPECT_EQ(r.get(), (PublicIPResult{"127.0.0.1", std::nullopt, std::nullopt}));
}

// The full limit, once: a server that takes the request and never answers.
TEST(Lookup, SilentServerTimesOutAfterFifteenSeconds) {
  std::promise<Clock::time_point> hungUp;
  LocalHttpServer v4({AF_INET}, [&](Peer& peer) {
    peer.readRequest();
    if (peer.waitForClose(30s)) hungUp.set_value(Clock::now());
  });
  const auto start = Clock::now();
  const auto result = lookup("http://127.0.0.1:" + std::to_string(v4.port()) + "/ip");
  const auto returned = Clock::now();
  EXPECT_EQ(result, (PublicIPResult{std::nullopt, std::nullopt, "The request timed out."}));
  EXPECT_GE(returned - start, 14s);
  EXPECT_LE(returned - start, 16s);
  auto closed = hungUp.get_future();
  ASSERT_EQ(closed.wait_for(1s), std::future_status::ready) << "connection left open";
  EXPECT_LT(closed.get() - returned, 500ms);
}

}  // namespace
}  // namespace PublicIPService
}  // namespace bcn
