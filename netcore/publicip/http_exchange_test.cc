#include "netcore/publicip/http_exchange.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <future>
#include <mutex>

#include "netcore/publicip/testing/isolation.h"
#include "netcore/publicip/testing/local_http_server.h"
#include "netcore/publicip/testing/test_pki.h"
#include "platform/testing/test_support.h"

namespace bcn::PublicIPService {
namespace {

using namespace std::chrono_literals;
using testing::LocalHttpServer;
using testing::Peer;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string errorText(const std::expected<Bytes, FetchError>& result) {
  return result ? "no error, body " + text(*result) : describe(result.error());
}

const PlatformError* platformError(const std::expected<Bytes, FetchError>& result) {
  return result ? nullptr : std::get_if<PlatformError>(&result.error());
}

std::string v4URL(const LocalHttpServer& server, std::string_view rest = "/ip") {
  return "http://127.0.0.1:" + std::to_string(server.port()) + std::string(rest);
}

// Keeps what the server received, for the test thread to look at.
struct Recorder {
  std::mutex lock;
  std::vector<std::string> requests;
  void add(std::string request) {
    const std::lock_guard guard(lock);
    requests.push_back(std::move(request));
  }
  std::string last() {
    const std::lock_guard guard(lock);
    return requests.empty() ? "" : requests.back();
  }
};

TEST(HttpExchange, SendsTheExactRequestAndReturnsTheBody) {
  Recorder recorder;
  LocalHttpServer server({AF_INET}, [&](Peer& peer) {
    recorder.add(peer.readRequest());
    peer.write(LocalHttpServer::response("HTTP/1.1 200 OK", "192.0.2.1\n"));
  });
  const std::string port = std::to_string(server.port());
  const std::string tail = "\r\nUser-Agent: Beaconbar\r\nAccept: */*\r\nConnection: close\r\n\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"/ip?format=text#frag", "/ip?format=text"},
      {"", "/"},
      {"/ip?", "/ip?"},
      {"/a%20b/%7Euser?q=%41", "/a%20b/%7Euser?q=%41"},
  };
  for (const auto& [rest, target] : cases) {
    const auto body = getBlocking("http://127.0.0.1:" + port + rest, IPVersion::v4);
    EXPECT_EQ(errorText(body), "no error, body 192.0.2.1\n") << rest;
    // Not port 80, so the server is told which port it was asked on.
    EXPECT_EQ(recorder.last(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + tail) << rest;
  }
  // The scheme is read in any letter case.
  EXPECT_EQ(errorText(getBlocking("HTTP://127.0.0.1:" + port + "/ip", IPVersion::v4)), "no error, body 192.0.2.1\n");
}

TEST(HttpExchange, ReadsUntilTheServerClosesAndUndoesChunking) {
  LocalHttpServer server({AF_INET}, [](Peer& peer) {
    peer.readRequest();
    // In pieces, with pauses, and a Content-Length that is not believed.
    peer.write("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n");
    peer.pause(30ms);
    peer.write("4\r\n192.\r\n");
    peer.pause(30ms);
    peer.write("7\r\n0.2.77\n\r\n0\r\n\r\n");
  });
  EXPECT_EQ(errorText(getBlocking(v4URL(server), IPVersion::v4)), "no error, body 192.0.2.77\n");
}

TEST(HttpExchange, ReportsHTTPAndParsingFailures) {
  LocalHttpServer unavailable({AF_INET},
                              LocalHttpServer::answer(LocalHttpServer::response("HTTP/1.1 503 Busy", "")));
  const auto busy = getBlocking(v4URL(unavailable), IPVersion::v4);
  ASSERT_FALSE(busy.has_value());
  EXPECT_EQ(busy.error(), FetchError(PublicIPError::http(503)));

  LocalHttpServer outOfRange({AF_INET},
                             LocalHttpServer::answer(LocalHttpServer::response("HTTP/1.1 3000000000 Odd", "")));
  EXPECT_EQ(errorText(getBlocking(v4URL(outOfRange), IPVersion::v4)), "The server answered HTTP 3000000000");

  LocalHttpServer headOnly({AF_INET}, LocalHttpServer::answer("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(getBlocking(v4URL(headOnly), IPVersion::v4).error(), FetchError(PublicIPError::malformed()));

  LocalHttpServer silentClose({AF_INET}, [](Peer& peer) { peer.readRequest(); });
  EXPECT_EQ(getBlocking(v4URL(silentClose), IPVersion::v4).error(), FetchError(PublicIPError::malformed()));

  EXPECT_EQ(getBlocking("ftp://127.0.0.1/ip", IPVersion::v4).error(), FetchError(PublicIPError::badURL()));
}

TEST(HttpExchange, StaysOnTheRequestedIPVersion) {
  LocalHttpServer v4({AF_INET}, LocalHttpServer::echo());
  LocalHttpServer v6({AF_INET6}, LocalHttpServer::echo());
  EXPECT_EQ(errorText(getBlocking(v4URL(v4), IPVersion::v4)), "no error, body 127.0.0.1\n");
  const std::string v6URL = "http://[::1]:" + std::to_string(v6.port()) + "/";
  EXPECT_EQ(errorText(getBlocking(v6URL, IPVersion::v6)), "no error, body ::1\n");

  // An address of the other family is no address at all for this side.
  const auto crossedV6 = getBlocking(v4URL(v4), IPVersion::v6);
  ASSERT_NE(platformError(crossedV6), nullptr) << errorText(crossedV6);
  EXPECT_EQ(platformError(crossedV6)->domain, kDNSDomain);
  const auto crossedV4 = getBlocking(v6URL, IPVersion::v4);
  ASSERT_NE(platformError(crossedV4), nullptr) << errorText(crossedV4);
  EXPECT_EQ(platformError(crossedV4)->domain, kDNSDomain);
  EXPECT_EQ(v4.accepted(), 1);
  EXPECT_EQ(v6.accepted(), 1);
}

TEST(HttpExchange, ConnectionFailuresCarryTheSystemMessage) {
  std::uint16_t closedPort = 0;
  {
    LocalHttpServer gone({AF_INET}, [](Peer&) {});
    closedPort = gone.port();
  }
  const auto refused = getBlocking("http://127.0.0.1:" + std::to_string(closedPort) + "/", IPVersion::v4);
  ASSERT_NE(platformError(refused), nullptr) << errorText(refused);
  EXPECT_EQ(platformError(refused)->domain, kPOSIXNetworkDomain);
  EXPECT_EQ(platformError(refused)->code, ECONNREFUSED);
  EXPECT_EQ(platformError(refused)->description, "Connection refused");
}

// A server that reads the request and then says nothing; it reports when
// (and whether) the client hung up.
struct SilentServer {
  std::promise<std::chrono::steady_clock::time_point> hungUp;
  LocalHttpServer server{{AF_INET}, [this](Peer& peer) {
                           peer.readRequest(1s);
                           if (peer.waitForClose(30s)) hungUp.set_value(std::chrono::steady_clock::now());
                         }};
};

TEST(HttpExchange, ExpiryEndsTheExchangeAndClosesTheConnection) {
  SilentServer silent;
  auto hungUp = silent.hungUp.get_future();
  const auto start = std::chrono::steady_clock::now();
  const auto result = getBlocking(v4URL(silent.server), IPVersion::v4, 300ms);
  const auto returned = std::chrono::steady_clock::now();

  ASSERT_NE(platformError(result), nullptr) << errorText(result);
  EXPECT_EQ(*platformError(result), timedOutError());
  EXPECT_EQ(describe(result.error()), "The request timed out.");
  EXPECT_GE(returned - start, 300ms);
  EXPECT_LT(returned - start, 1s);
  // The server sees the connection closed by the time get returned.
  ASSERT_EQ(hungUp.wait_for(1s), std::future_status::ready) << "connection left open";
  EXPECT_LT(hungUp.get() - returned, 500ms);
}

TEST(HttpExchange, ExpiryCoversTheTLSHandshake) {
  SilentServer silent;  // plain TCP: a TLS client hello is never answered
  const auto start = std::chrono::steady_clock::now();
  const auto result = getBlocking("https://127.0.0.1:" + std::to_string(silent.server.port()) + "/",
                                  IPVersion::v4, 300ms);
  EXPECT_EQ(errorText(result), "The request timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(HttpExchange, CutsAHugeResponseJustPastTheCap) {
  std::promise<bool> hungUp;
  LocalHttpServer server({AF_INET}, [&](Peer& peer) {
    peer.readRequest();
    const std::string megabyte(1 << 20, 'x');
    bool open = peer.write("HTTP/1.1 200 OK\r\n\r\n");
    for (int i = 0; i < 5 && open; ++i) open = peer.write(megabyte);
    hungUp.set_value(!open || peer.waitForClose(5s));
  });
  const auto body = getBlocking(v4URL(server), IPVersion::v4);
  ASSERT_TRUE(body.has_value()) << errorText(body);
  const std::size_t head = std::string_view("HTTP/1.1 200 OK\r\n\r\n").size();
  EXPECT_GT(body->size() + head, kResponseCap);
  EXPECT_LE(body->size() + head, kResponseCap + kReadSize);
  EXPECT_TRUE(hungUp.get_future().get()) << "the client kept reading or kept the connection";
}

class HttpsExchange : public ::testing::Test {
 protected:
  void SetUp() override { pki_.writeCertificate(trustFile_); }

  std::string url(const LocalHttpServer& server, std::string_view host = "127.0.0.1") {
    return "https://" + std::string(host) + ":" + std::to_string(server.port()) + "/ip";
  }

  bcn::testing::TempDir dir_;
  std::filesystem::path trustFile_ = dir_ / "ca.pem";
  testing::TestPKI pki_;
};

TEST_F(HttpsExchange, TrustsACertificateFromTheConfiguredStore) {
  const auto identity = pki_.issue({"bcn-echo.test"}, {"127.0.0.1", "::1"});
  LocalHttpServer v4({AF_INET, 0, &identity}, LocalHttpServer::echo());
  LocalHttpServer v6({AF_INET6, 0, &identity}, LocalHttpServer::echo());
  const testing::ScopedEnvironmentVariable trust("SSL_CERT_FILE", trustFile_.string());
  EXPECT_EQ(errorText(getBlocking(url(v4), IPVersion::v4)), "no error, body 127.0.0.1\n");
  EXPECT_EQ(errorText(getBlocking(url(v6, "[::1]"), IPVersion::v6)), "no error, body ::1\n");
}

TEST_F(HttpsExchange, RefusesACertificateForAnotherHost) {
  const auto identity = pki_.issue({"other.test"}, {"192.0.2.1"});
  bool answered = false;
  LocalHttpServer server({AF_INET, 0, &identity}, [&](Peer& peer) {
    peer.readRequest();
    answered = true;  // never reached: the client gives up in the handshake
  });
  const testing::ScopedEnvironmentVariable trust("SSL_CERT_FILE", trustFile_.string());
  const auto result = getBlocking(url(server), IPVersion::v4);
  ASSERT_NE(platformError(result), nullptr) << errorText(result);
  EXPECT_EQ(platformError(result)->domain, kTLSDomain);
  EXPECT_NE(platformError(result)->description.find("certificate verify failed"), std::string::npos)
      << platformError(result)->description;
  EXPECT_NE(platformError(result)->description.find("mismatch"), std::string::npos)
      << platformError(result)->description;
}

TEST_F(HttpsExchange, RefusesACertificateFromAnUntrustedAuthority) {
  const auto identity = pki_.issue({}, {"127.0.0.1"});
  LocalHttpServer server({AF_INET, 0, &identity}, LocalHttpServer::echo());
  testing::TestPKI stranger;
  stranger.writeCertificate(dir_ / "stranger.pem");
  const testing::ScopedEnvironmentVariable trust("SSL_CERT_FILE", (dir_ / "stranger.pem").string());
  const auto result = getBlocking(url(server), IPVersion::v4);
  ASSERT_NE(platformError(result), nullptr) << errorText(result);
  EXPECT_EQ(platformError(result)->domain, kTLSDomain);
  EXPECT_NE(platformError(result)->description.find("certificate verify failed"), std::string::npos)
      << platformError(result)->description;
}

TEST_F(HttpsExchange, PlainHTTPServerIsATLSErrorNotAResult) {
  LocalHttpServer plain({AF_INET}, [](Peer& peer) {
    peer.write(LocalHttpServer::response("HTTP/1.1 200 OK", "127.0.0.1"));
  });
  const testing::ScopedEnvironmentVariable trust("SSL_CERT_FILE", trustFile_.string());
  const auto result = getBlocking(url(plain), IPVersion::v4);
  ASSERT_NE(platformError(result), nullptr) << errorText(result);
  EXPECT_EQ(platformError(result)->domain, kTLSDomain);
}

}  // namespace
}  // namespace bcn::PublicIPService
