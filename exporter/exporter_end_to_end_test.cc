// The exporter and `beaconbar metrics --textfile` against the real
// consumers, all inside a network namespace of the test's own: promtool
// checks the live output (with an interface and a tunnel owner whose
// names hold quotes, backslashes and bytes that are not UTF-8), Debian's
// Prometheus scrapes the exporter every second and answers for the traffic
// the test sent over a veth pair, and node_exporter's textfile collector
// reads the command-line tool's file. Needs root and the Debian packages
// prometheus and prometheus-node-exporter; skips without them.
#include <fcntl.h>
#include <sched.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "netcore/interfaces/test_namespace.h"
#include "platform/testing/test_support.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using bcn::testing::commandOutput;
using bcn::testing::TestNamespace;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kPrometheus = "/usr/bin/prometheus";
constexpr const char* kPromtool = "/usr/bin/promtool";
constexpr const char* kNodeExporter = "/usr/bin/prometheus-node-exporter";

// A program started inside the namespace, killed and reaped on destruction.
class Child {
 public:
  Child(const TestNamespace& ns, std::vector<std::string> args) {
    std::vector<std::string> all = {"/usr/bin/ip", "netns", "exec", ns.name()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// curl inside the namespace; empty when it fails.
std::string fetch(const TestNamespace& ns, const std::string& url) {
  return commandOutput("ip netns exec " + ns.name() + " curl -sf --max-time 5 '" + url + "'");
}

std::string waitFor(const TestNamespace& ns, const std::string& url, const std::string& needle,
                    std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::string body;
  while (std::chrono::steady_clock::now() < end) {
    body = fetch(ns, url);
    if (body.find(needle) != std::string::npos) return body;
    std::this_thread::sleep_for(200ms);
  }
  return body;
}

std::uint64_t kernelCounter(const TestNamespace& ns, const std::string& link, const std::string& counter) {
  const std::string text =
      commandOutput("ip netns exec " + ns.name() + " cat /sys/class/net/" + link + "/statistics/" + counter);
  return text.empty() ? 0 : std::stoull(text);
}

class ExporterEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: network namespaces, veth pairs and tun devices";
    for (const char* program : {kPrometheus, kPromtool, kNodeExporter, "/usr/bin/curl"}) {
      if (access(program, X_OK) != 0) GTEST_SKIP() << program << " is missing (scripts/install-deps.sh test)";
    }
    // The exporter's namespace holds va; the peer's holds vb, so traffic
    // between them crosses the veth instead of loopback.
    ns_ = std::make_unique<TestNamespace>("exp");
    peer_ = std::make_unique<TestNamespace>("exppeer");
    ASSERT_TRUE(ns_->created() && peer_->created());
    // No IPv6 chatter on the links, so their counters move only with our traffic.
    for (const TestNamespace* n : {ns_.get(), peer_.get()}) {
      ASSERT_EQ(std::system(("ip netns exec " + n->name() + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 "
                             "net.ipv6.conf.default.disable_ipv6=1").c_str()), 0);
    }
    ASSERT_TRUE(ns_->ip("link set lo up"));
    ASSERT_TRUE(ns_->ip("link add va type veth peer name vb netns " + peer_->name()));
    ASSERT_TRUE(ns_->ip("addr add 10.77.0.1/24 dev va"));
    ASSERT_TRUE(peer_->ip("addr add 10.77.0.2/24 dev vb"));
    ASSERT_TRUE(ns_->ip("link set va up"));
    ASSERT_TRUE(peer_->ip("link set vb up"));
    ASSERT_TRUE(ns_->ip("link add '" + hostileName_ + "' type veth peer name hp0"));
    // A child of ours holds the tunnel, so its owner has a pid we know and
    // no other process (a shell the test forks meanwhile) shares the descriptor.
    int ready[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    const std::string nsPath = "/run/netns/" + ns_->name();
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, tunName_.c_str(), IFNAMSIZ - 1);
    tunOwner_ = fork();
    ASSERT_GE(tunOwner_, 0);
    if (tunOwner_ == 0) {
      // Only async-signal-safe calls between fork and _exit.
      const int nsFd = open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
      int fd = -1;
      if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0) fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
      const char status = fd >= 0 && ioctl(fd, TUNSETIFF, &request) == 0 ? 1 : 0;
      (void)!write(ready[1], &status, 1);
      if (status) pause();
      _exit(0);
    }
    close(ready[1]);
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    close(ready[0]);
    ASSERT_EQ(status, 1) << "could not create the tun device";
    dir_ = std::filesystem::temp_directory_path() / ("bcn-exporter-e2e-" + std::to_string(tunOwner_));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (tunOwner_ > 0) {
      kill(tunOwner_, SIGKILL);
      waitpid(tunOwner_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // 1000-byte UDP datagrams from the peer's vb to va's address.
  void sendTraffic(std::size_t datagrams) {
    peer_->inside([&] {
      const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{AF_INET, htons(9), {inet_addr("10.77.0.1")}, {}};
      const std::string payload(1000, 'x');
      for (std::size_t i = 0; i < datagrams; ++i) {
        sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      close(fd);
      return 0;
    });
  }

  // Quotes, a backslash and a byte that is not UTF-8: all legal in a Linux
  // interface name.
  const std::string hostileName_ = "q\"b\\\xff";
  std::unique_ptr<TestNamespace> ns_;
  std::unique_ptr<TestNamespace> peer_;
  // Tunnel owners are found by name across the machine: unique per process.
  const std::string tunName_ = bcn::testing::uniqueInterfaceName("tn");
  pid_t tunOwner_ = -1;
  std::filesystem::path dir_;
};

TEST_F(ExporterEndToEndTest, PrometheusScrapesCountersTunnelOwnerAndServicesAndPromtoolAcceptsTheOutput) {
  Child exporter(*ns_, {BEACONBAR_EXPORTER_EXECUTABLE, "--listen", "127.0.0.1:10190", "--public-ip-url",
                        "http://127.0.0.1:9/ip"});
  const std::string metricsURL = "http://127.0.0.1:10190/metrics";
  std::string live = waitFor(*ns_, metricsURL, "beaconbar_interface_receive_bytes_total{interface=\"va\"}", 20s);
  ASSERT_THAT(live, HasSubstr("beaconbar_interface_receive_bytes_total{interface=\"va\"}"));
  // The hostile name, escaped and with U+FFFD, and this process as the tunnel's owner.
  EXPECT_THAT(live, HasSubstr("beaconbar_interface_up{interface=\"q\\\"b\\\\\xEF\xBF\xBD\"}"));
  EXPECT_THAT(live, HasSubstr("beaconbar_tunnel_owner_info{interface=\"" + tunName_ + "\",pid=\"" + std::to_string(tunOwner_) + "\""));
  // A failed public lookup is counted, and the exporter keeps serving.
  live = waitFor(*ns_, metricsURL, "beaconbar_public_address_lookup_failures_total{family=\"ipv4\"", 10s);
  EXPECT_THAT(live, HasSubstr("beaconbar_public_address_lookup_failures_total{family=\"ipv4\",kind=\"network\"}"));
  {
    std::ofstream(dir_ / "live.prom") << live;
    const std::string check = commandOutput(std::string(kPromtool) + " check metrics < " + (dir_ / "live.prom").string() +
                                            " 2>&1; echo status=$?");
    EXPECT_THAT(check, HasSubstr("status=0")) << check;
  }

  std::ofstream(dir_ / "prometheus.yml") << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                            "scrape_configs:\n  - job_name: beaconbar\n    static_configs:\n"
                                            "      - targets: ['127.0.0.1:10190']\n";
  Child prometheus(*ns_, {kPrometheus, "--config.file=" + (dir_ / "prometheus.yml").string(),
                          "--storage.tsdb.path=" + (dir_ / "tsdb").string(), "--web.listen-address=127.0.0.1:19090"});
  const std::string api = "http://127.0.0.1:19090/api/v1/query?query=";
  const auto query = [&](const std::string& promql) {
    const std::string body = waitFor(*ns_, api + promql, "\"result\":[{", 20s);
    const auto parsed = nlohmann::json::parse(body.empty() ? "{}" : body, nullptr, false);
    return parsed.is_discarded() ? nlohmann::json{} : parsed;
  };
  // Prometheus has scraped the exporter once before the traffic starts.
  ASSERT_FALSE(query("up%7Bjob%3D%22beaconbar%22%7D%3D%3D1")["data"]["result"].empty());
  // Traffic over the veth while Prometheus scrapes, then quiet.
  const std::uint64_t before = kernelCounter(*ns_, "va", "rx_bytes");
  for (int i = 0; i < 5; ++i) {
    sendTraffic(100);
    std::this_thread::sleep_for(500ms);
  }
  const std::uint64_t after = kernelCounter(*ns_, "va", "rx_bytes");
  ASSERT_GE(after - before, 500u * 1000u);
  std::this_thread::sleep_for(2500ms);  // two more scrapes of the settled counter

  const auto counter = query("beaconbar_interface_receive_bytes_total%7Binterface%3D%22va%22%7D");
  ASSERT_FALSE(counter["data"]["result"].empty()) << counter.dump();
  // Everything the test sent is in Prometheus' latest value, and nothing
  // the kernel has not counted (an ARP exchange may still add a few bytes).
  const std::uint64_t scraped = std::stoull(counter["data"]["result"][0]["value"][1].get<std::string>());
  EXPECT_GE(scraped, after);
  EXPECT_LE(scraped, kernelCounter(*ns_, "va", "rx_bytes"));
  const auto rate = query("rate(beaconbar_interface_receive_bytes_total%7Binterface%3D%22va%22%7D%5B20s%5D)");
  ASSERT_FALSE(rate["data"]["result"].empty()) << rate.dump();
  const double perSecond = std::stod(rate["data"]["result"][0]["value"][1].get<std::string>());
  // At least 500 kB arrived within the 20 s window; Prometheus extrapolates,
  // so allow for it on both sides.
  EXPECT_GT(perSecond, (after - before) / 20.0 * 0.5);
  EXPECT_LT(perSecond, (after - before) / 1.0);
  const auto owner = query("beaconbar_tunnel_owner_info");
  ASSERT_FALSE(owner["data"]["result"].empty()) << owner.dump();
  EXPECT_EQ(owner["data"]["result"][0]["metric"]["interface"], tunName_);
  EXPECT_EQ(owner["data"]["result"][0]["metric"]["pid"], std::to_string(tunOwner_));
  const auto services = query("count(beaconbar_service_enabled)");
  EXPECT_FALSE(services["data"]["result"].empty()) << services.dump();
  EXPECT_EQ(kill(exporter.pid(), 0), 0);
}

TEST_F(ExporterEndToEndTest, RemovedInterfaceDisappearsAndUnprivilegedExporterCountsTheMissingDaemon) {
  // Unprivileged, the exporter must ask the daemon for tunnel owners; there
  // is none it may use in this namespace, so it serves without them.
  Child exporter(*ns_, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        BEACONBAR_EXPORTER_EXECUTABLE, "--listen", "127.0.0.1:10191", "--public-ip-interval", "0"});
  const std::string metricsURL = "http://127.0.0.1:10191/metrics";
  std::string live = waitFor(*ns_, metricsURL, "interface=\"hp0\"", 20s);
  ASSERT_THAT(live, HasSubstr("beaconbar_interface_up{interface=\"hp0\"}"));
  EXPECT_THAT(live, HasSubstr("beaconbar_reading_errors_total{source=\"tunnel_owners\"}"));
  EXPECT_THAT(live, Not(HasSubstr("beaconbar_tunnel_owner_info{")));
  ASSERT_TRUE(ns_->ip("link del hp0"));
  std::this_thread::sleep_for(1100ms);  // past the shared reading's lifetime
  live = fetch(*ns_, metricsURL);
  ASSERT_THAT(live, HasSubstr("beaconbar_interface_up{interface=\"lo\"}"));
  EXPECT_THAT(live, Not(HasSubstr("interface=\"hp0\"")));
  EXPECT_THAT(live, Not(HasSubstr("interface=\"q\\\"b")));  // its peer went with it
  EXPECT_THAT(live, HasSubstr("beaconbar_interface_up{interface=\"va\"}"));
}

TEST_F(ExporterEndToEndTest, NodeExporterTextfileCollectorReadsTheCommandLineOutput) {
  const std::string run = "ip netns exec " + ns_->name() + " " + BEACONBAR_EXECUTABLE + " metrics --textfile " +
                          dir_.string() + " 2>&1; echo status=$?";
  const std::string ran = commandOutput(run);
  ASSERT_THAT(ran, HasSubstr("status=0")) << ran;
  ASSERT_TRUE(std::filesystem::exists(dir_ / "beaconbar.prom"));
  EXPECT_EQ(std::filesystem::status(dir_ / "beaconbar.prom").permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::others_read);
  Child node(*ns_, {kNodeExporter, "--collector.disable-defaults", "--collector.textfile",
                    "--collector.textfile.directory=" + dir_.string(), "--web.listen-address=127.0.0.1:19100"});
  const std::string body =
      waitFor(*ns_, "http://127.0.0.1:19100/metrics", "beaconbar_interface_receive_bytes_total", 20s);
  EXPECT_THAT(body, HasSubstr("beaconbar_interface_receive_bytes_total{interface=\"va\"}"));
  EXPECT_THAT(body, HasSubstr("beaconbar_tunnel_owner_info{interface=\"" + tunName_ + "\""));
  EXPECT_THAT(body, HasSubstr("node_textfile_scrape_error 0"));
}

}  // namespace
