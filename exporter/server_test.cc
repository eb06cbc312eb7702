// The exporter's moving parts without the machine: the shared reading,
// the background lookup's bookkeeping and the HTTP server against hostile
// clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "exporter/http_server.h"
#include "exporter/listen_address.h"
#include "exporter/machine_sampler.h"
#include "exporter/public_address_poller.h"

namespace bcn::metrics {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(MachineSamplerTest, ConcurrentScrapesShareOneReadingUntilItIsStale) {
  std::atomic<int> calls{0};
  auto now = std::chrono::steady_clock::time_point{} + 100s;
  std::mutex clockMutex;
  MachineSampler sampler(
      [&] {
        ++calls;
        std::this_thread::sleep_for(100ms);  // long enough for every scrape to arrive meanwhile
        SourceReading r;
        r.reading.interfaces.resize(calls.load());
        return r;
      },
      1s,
      [&] {
        std::lock_guard lock(clockMutex);
        return now;
      });
  std::vector<std::future<std::shared_ptr<const SharedReading>>> scrapes;
  for (int i = 0; i < 8; ++i) scrapes.push_back(std::async(std::launch::async, [&] { return sampler.sample(); }));
  const SharedReading* first = nullptr;
  for (auto& scrape : scrapes) {
    const auto reading = scrape.get();
    if (first == nullptr) first = reading.get();
    EXPECT_EQ(reading.get(), first);
  }
  EXPECT_EQ(calls.load(), 1);
  {
    std::lock_guard lock(clockMutex);
    now += 900ms;
  }
  EXPECT_EQ(sampler.sample().get(), first);
  EXPECT_EQ(calls.load(), 1);
  {
    std::lock_guard lock(clockMutex);
    now += 200ms;
  }
  const auto second = sampler.sample();
  EXPECT_EQ(calls.load(), 2);
  EXPECT_EQ(second->reading.interfaces.size(), 2u);
  EXPECT_GT(second->health.readingSeconds, 0.05);
}

TEST(MachineSamplerTest, FailuresAccumulatePerSourceAndAThrowingSourceDoesNotWedgeScrapes) {
  int call = 0;
  MachineSampler sampler(
      [&]() -> SourceReading {
        ++call;
        if (call == 3) throw std::bad_alloc();
        SourceReading r;
        r.failures = {"tunnel_owners"};
        return r;
      },
      0ms);
  EXPECT_EQ(sampler.sample()->health.readingErrors.at("tunnel_owners"), 1u);
  EXPECT_EQ(sampler.sample()->health.readingErrors.at("tunnel_owners"), 2u);
  const auto failed = sampler.sample();
  EXPECT_EQ(failed->health.readingErrors.at("reading"), 1u);
  EXPECT_EQ(failed->health.readingErrors.at("tunnel_owners"), 2u);
  EXPECT_EQ(sampler.sample()->health.readingErrors.at("tunnel_owners"), 3u);
}

TEST(PublicAddressPollerTest, FailedSideKeepsItsLastAddressAndCountsTheKind) {
  PublicAddressState state;
  recordLookup(state, {"198.51.100.1", "2001:db8::1", std::nullopt}, 100);
  recordLookup(state, {"198.51.100.2", std::nullopt, std::nullopt}, 200);
  EXPECT_EQ(state.ipv4.address, "198.51.100.2");
  EXPECT_EQ(state.ipv4.lastSuccess, 200);
  EXPECT_EQ(state.ipv6.address, "2001:db8::1");
  EXPECT_EQ(state.ipv6.lastSuccess, 100);
  EXPECT_EQ(state.ipv6.failures.at("unknown"), 1u);
  recordLookup(state, {std::nullopt, std::nullopt, "The server answered HTTP 502"}, 300);
  EXPECT_EQ(state.ipv4.failures.at("http"), 1u);
  EXPECT_EQ(state.ipv6.failures.at("http"), 1u);
  EXPECT_EQ(state.ipv4.address, "198.51.100.2");
}

TEST(PublicAddressPollerTest, LooksUpAtStartAndThenEveryIntervalAndStopsPromptly) {
  std::atomic<int> lookups{0};
  const auto started = std::chrono::steady_clock::now();
  {
    PublicAddressPoller poller(
        "test",
        [&](std::stop_token) {
          ++lookups;
          return PublicIPResult{"192.0.2.9", std::nullopt, std::nullopt};
        },
        200ms);
    while (poller.lookups() < 3 && std::chrono::steady_clock::now() - started < 5s) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(poller.state().ipv4.address, "192.0.2.9");
    EXPECT_EQ(poller.state().provider, "test");
    EXPECT_EQ(poller.state().ipv6.failures.at("unknown"), poller.lookups());
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(lookups.load(), 3);
  EXPECT_GE(elapsed, 400ms);  // the first lookup at once, two more an interval apart
  EXPECT_LT(elapsed, 2s);     // and the destructor does not sit out an interval
}

TEST(ListenAddressTest, AcceptsNumericAddressesOnly) {
  EXPECT_EQ(parseListenAddress("127.0.0.1:10190")->port, 10190);
  EXPECT_EQ(parseListenAddress("[::1]:9")->host, "::1");
  EXPECT_EQ(parseListenAddress(":80")->host, "127.0.0.1");
  EXPECT_FALSE(parseListenAddress("localhost:80"));
  EXPECT_FALSE(parseListenAddress("::1:80"));
  EXPECT_FALSE(parseListenAddress("127.0.0.1:65536"));
  EXPECT_FALSE(parseListenAddress("127.0.0.1:"));
  EXPECT_FALSE(parseListenAddress("127.0.0.1"));
}

// A server on a free loopback port, run on its own thread.
class HttpServerTest : public ::testing::Test {
 protected:
  void start(HttpServer::Options options) {
    options.port = 0;
    server_.emplace(options, [this] {
      ++scrapes_;
      return std::string("# HELP x X.\n# TYPE x gauge\nx 1\n");
    });
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  int connect() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  }
  static void send(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // Everything until the peer closes or `limit` passes.
  static std::string readAll(int fd, std::chrono::milliseconds limit) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) break;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }
  static bool closedByPeer(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char c;
    return recv(fd, &c, 1, 0) <= 0;
  }

  std::optional<HttpServer> server_;
  std::thread thread_;
  std::atomic<int> scrapes_{0};
};

TEST_F(HttpServerTest, ServesMetricsKeepsAliveAndRefusesOtherMethodsAndPaths) {
  start({});
  const int fd = connect();
  send(fd, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\nGET /metrics?x=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string both = readAll(fd, 5s);
  close(fd);
  EXPECT_THAT(both, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(both, HasSubstr("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
  EXPECT_EQ(scrapes_.load(), 2);

  const int post = connect();
  send(post, "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
  EXPECT_THAT(readAll(post, 5s), StartsWith("HTTP/1.1 405"));
  close(post);
  const int other = connect();
  send(other, "GET /etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_THAT(readAll(other, 5s), StartsWith("HTTP/1.1 404"));
  close(other);
  EXPECT_EQ(scrapes_.load(), 2);
}

TEST_F(HttpServerTest, HugeHeaderIsRefusedWithoutReadingItAll) {
  start({});
  const int fd = connect();
  send(fd, "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Junk: " + std::string(HttpServer::kHeaderLimit * 2, 'a') + "\r\n\r\n");
  const std::string answer = readAll(fd, 5s);
  close(fd);
  EXPECT_THAT(answer, StartsWith("HTTP/1.1 431"));
  EXPECT_EQ(scrapes_.load(), 0);
}

TEST_F(HttpServerTest, TricklingClientIsCutOffAtTheRequestDeadline) {
  HttpServer::Options options;
  options.requestTimeout = 400ms;
  start(options);
  const int fd = connect();
  const auto started = std::chrono::steady_clock::now();
  // One header byte every 100 ms: never idle long, never finished.
  bool cut = false;
  const std::string header = "GET /metrics HTTP/1.1\r\nX-Slow: " + std::string(100, 'a');
  for (char c : header) {
    if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) {
      cut = true;
      break;
    }
    if (closedByPeer(fd, 100ms)) {
      cut = true;
      break;
    }
  }
  close(fd);
  EXPECT_TRUE(cut);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(scrapes_.load(), 0);
}

TEST_F(HttpServerTest, ConnectionsBeyondTheCapAreClosedAndSlotsComeBack) {
  HttpServer::Options options;
  options.maxConnections = 4;
  options.requestTimeout = 500ms;
  start(options);
  std::vector<int> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(connect());
  while (server_->connections() < 4) std::this_thread::sleep_for(5ms);
  const int extra = connect();
  EXPECT_TRUE(closedByPeer(extra, 2s));
  close(extra);
  EXPECT_LE(server_->connections(), 4u);
  // The idle ones run out of time, and the scraper gets in.
  for (int fd : idle) EXPECT_TRUE(closedByPeer(fd, 3s));
  for (int fd : idle) close(fd);
  const int scraper = connect();
  send(scraper, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_THAT(readAll(scraper, 5s), StartsWith("HTTP/1.1 200"));
  close(scraper);
}

}  // namespace
}  // namespace bcn::metrics
