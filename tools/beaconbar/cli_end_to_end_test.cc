// The beaconbar executable run as a user runs it, inside a private network
// namespace whose only real interface is one end of a veth pair (the other
// end sits in a second namespace and sends traffic). Needs root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "netcore/interfaces/test_namespace.h"
#include "netcore/publicip/testing/local_http_server.h"
#include "netcore/shim/testing/held_process.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/testing/namespace_traffic.h"

namespace bcn::cli {
namespace {

using bcn::testing::TempDir;
using bcn::testing::TestNamespace;
using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The whole of standard error is one "beaconbar: ..." line.
::testing::AssertionResult isOneErrorLine(const std::string& text) {
  if (text.rfind("beaconbar: ", 0) == 0 && text.find('\n') == text.size() - 1) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "not one error line: [" << text << "]";
}

class CliEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: network namespaces and veth pairs";
    tool_ = std::make_unique<TestNamespace>("cli");
    peer_ = std::make_unique<TestNamespace>("clipeer");
    ASSERT_TRUE(tool_->created() && peer_->created());
    const std::string pid = std::to_string(getpid());
    link_ = "bbv" + pid;
    const std::string peerLink = "bbp" + pid;
    ASSERT_TRUE(tool_->ip("link add " + link_ + " type veth peer name " + peerLink + " netns " + peer_->name()));
    ASSERT_TRUE(tool_->ip("link set " + link_ + " address 00:16:3e:12:34:56 mtu 1400 up"));
    ASSERT_TRUE(tool_->ip("link set lo up"));
    ASSERT_TRUE(tool_->ip("addr add 10.77.0.1/24 brd + dev " + link_));
    ASSERT_TRUE(tool_->ip("addr add fd77::1/64 dev " + link_ + " nodad"));
    ASSERT_TRUE(peer_->ip("addr add 10.77.0.2/24 dev " + peerLink));
    ASSERT_TRUE(peer_->ip("link set " + peerLink + " up"));
  }

  void TearDown() override {
    if (tool_) std::filesystem::remove_all("/etc/netns/" + tool_->name());
  }

  // `argv` run in the tool namespace.
  ProcessResult runInside(const std::vector<std::string>& argv) {
    std::vector<std::string> command{"ip", "netns", "exec", tool_->name()};
    command.insert(command.end(), argv.begin(), argv.end());
    auto result = runProcess(command, {.timeout = milliseconds(30000)});
    EXPECT_TRUE(result) << result.error().description;
    return result ? *result : ProcessResult{};
  }

  // beaconbar with `arguments` in the tool namespace; `prefix` goes before
  // the executable (env, timeout, setpriv).
  ProcessResult run(const std::vector<std::string>& arguments, const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> argv = prefix;
    argv.push_back(BEACONBAR_EXECUTABLE);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runInside(argv);
  }

  // UDP datagrams from the peer to the tool side for `duration`; returns
  // the bytes sent.
  std::size_t sendTraffic(milliseconds duration) {
    return testing::sendDatagrams(*peer_, "10.77.0.1", duration);
  }

  // Runs `start` while the peer sends traffic for `traffic`.
  ProcessResult withTraffic(milliseconds traffic, const std::function<ProcessResult()>& start) {
    ProcessResult result;
    std::thread tool([&] { result = start(); });
    EXPECT_GT(sendTraffic(traffic), 0u);
    tool.join();
    return result;
  }

  ProcessResult runWithTraffic(const std::vector<std::string>& arguments, milliseconds traffic,
                               const std::vector<std::string>& prefix = {}) {
    return withTraffic(traffic, [&] { return run(arguments, prefix); });
  }

  const json* findInterface(const json& list) const {
    for (const json& entry : list) {
      if (entry["name"] == link_) return &entry;
    }
    return nullptr;
  }

  std::unique_ptr<TestNamespace> tool_;
  std::unique_ptr<TestNamespace> peer_;
  std::string link_;
};

TEST_F(CliEndToEndTest, InterfacesInIfconfigFormAndJson) {
  auto text = run({"interfaces", link_});
  ASSERT_EQ(text.exitCode, 0) << text.standardError;
  const std::string& out = text.standardOutput;
  EXPECT_EQ(out.rfind(link_ + ": flags=8043<UP,BROADCAST,RUNNING,MULTICAST> mtu 1400 index ", 0), 0u) << out;
  EXPECT_NE(out.find("\tether 00:16:3e:12:34:56\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\tinet 10.77.0.1 netmask 255.255.255.0 broadcast 10.77.0.255\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\tinet6 fd77::1 prefixlen 64\n"), std::string::npos) << out;
  EXPECT_NE(out.find("%" + link_ + " prefixlen 64"), std::string::npos) << out;  // the link-local address
  EXPECT_EQ(out.find("lo: "), std::string::npos);

  auto all = run({"interfaces", "--json"});
  ASSERT_EQ(all.exitCode, 0) << all.standardError;
  const json parsed = json::parse(all.standardOutput);
  ASSERT_EQ(parsed["interfaces"].size(), 2u);  // lo and the veth end
  const json* veth = findInterface(parsed["interfaces"]);
  ASSERT_NE(veth, nullptr);
  EXPECT_EQ((*veth)["mtu"], 1400);
  EXPECT_EQ((*veth)["linkAddress"], "00:16:3e:12:34:56");
  EXPECT_EQ((*veth)["state"], "active");

  auto missing = run({"interfaces", "nosuch0"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.standardOutput.empty());
  EXPECT_TRUE(isOneErrorLine(missing.standardError));
}

TEST_F(CliEndToEndTest, OverviewOfflineWithinSecondsWithRates) {
  const auto started = steady_clock::now();
  auto text = runWithTraffic({"overview"}, milliseconds(1500));
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(6));
  ASSERT_EQ(text.exitCode, 0) << text.standardError;
  const std::string& out = text.standardOutput;
  EXPECT_EQ(out.rfind("Interfaces (traffic over 1.0 s)\n", 0), 0u) << out;
  EXPECT_NE(out.find("inet 10.77.0.1/24\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Tunnel owners"), std::string::npos) << out;
  // No route out of the namespace: the public address is one line, last.
  const auto publicLine = out.find("\nPublic address: unavailable (");
  ASSERT_NE(publicLine, std::string::npos) << out;
  EXPECT_EQ(out.find('\n', publicLine + 1), out.size() - 1) << out;

  auto json = runWithTraffic({"--json"}, milliseconds(1500));
  ASSERT_EQ(json.exitCode, 0) << json.standardError;
  const auto parsed = json::parse(json.standardOutput);
  const auto* veth = findInterface(parsed["interfaces"]);
  ASSERT_NE(veth, nullptr);
  ASSERT_TRUE((*veth)["rate"].is_object()) << *veth;
  EXPECT_GT((*veth)["rate"]["in"].get<double>(), 1000.0);
  EXPECT_TRUE(parsed["publicAddress"]["error"].is_string());
}

TEST_F(CliEndToEndTest, WatchRecordsTheHistoryThatHistoryReads) {
  TempDir state;
  const std::vector<std::string> env{"env", "XDG_STATE_HOME=" + state.path().string()};
  std::vector<std::string> watchPrefix = env;
  // --foreground: one SIGINT to the tool, as Ctrl-C sends, not a second
  // one to its process group that could arrive after the first was handled.
  for (const char* part : {"timeout", "--foreground", "--preserve-status", "-s", "INT", "2.5"}) {
    watchPrefix.push_back(part);
  }
  auto watch = runWithTraffic({"watch", link_, "--interval", "0.2"}, milliseconds(2000), watchPrefix);
  ASSERT_EQ(watch.exitCode, 0) << watch.standardError;
  EXPECT_TRUE(watch.standardError.empty()) << watch.standardError;
  // Not a terminal: a header, then plain lines.
  EXPECT_NE(watch.standardOutput.find("TIME"), std::string::npos);
  EXPECT_EQ(watch.standardOutput.find("\x1b["), std::string::npos);
  EXPECT_GT(std::count(watch.standardOutput.begin(), watch.standardOutput.end(), '\n'), 5);

  // Saved when Ctrl-C ended the watch, at the default place.
  const auto file = state.path() / "beaconbar" / "history.plist";
  auto histories = readHistoryFile(file);
  ASSERT_TRUE(histories) << histories.error();
  ASSERT_EQ(histories->count(link_), 1u);
  EXPECT_GT(histories->at(link_).aggregate(3600, Date::now()).bytesIn, 5000u);

  auto history = run({"history", link_, "--json"}, env);
  ASSERT_EQ(history.exitCode, 0) << history.standardError;
  const auto parsed = json::parse(history.standardOutput);
  EXPECT_EQ(parsed["file"], file.string());
  EXPECT_GT(parsed["interfaces"][0]["lastHour"]["bytesIn"].get<std::uint64_t>(), 5000u);
  EXPECT_FALSE(parsed["interfaces"][0]["recentSamples"].empty());

  auto unknown = run({"history", "nosuch0"}, env);
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(isOneErrorLine(unknown.standardError));
}

TEST_F(CliEndToEndTest, WatchAndRecordLeaveADamagedHistoryAlone) {
  TempDir state;
  const auto file = state.path() / "history.plist";
  bcn::testing::writeText(file, "bplist00 damaged");
  for (const char* command : {"watch", "record"}) {
    auto recorder = run({command, "--history-file", file.string(), "--interval", "0.2"}, {"timeout", "-s", "INT", "5"});
    EXPECT_EQ(recorder.exitCode, 1) << command;
    EXPECT_TRUE(isOneErrorLine(recorder.standardError)) << command;
    EXPECT_EQ(bcn::testing::readText(file), "bplist00 damaged") << command;
  }
  auto history = run({"history", "--history-file", file.string()});
  EXPECT_EQ(history.exitCode, 1);
  EXPECT_TRUE(isOneErrorLine(history.standardError));
}

TEST_F(CliEndToEndTest, WatchSavesWhenItsReaderGoesAway) {
  TempDir state;
  const auto file = state.path() / "history.plist";
  // head leaves after a second's worth of lines; the watch must notice,
  // save and end on its own.
  const std::string pipeline = std::string(BEACONBAR_EXECUTABLE) + " watch --interval 0.2 --history-file " +
                               file.string() + " | head -n 12 >/dev/null";
  auto result = withTraffic(milliseconds(1500), [&] { return runInside({"sh", "-c", pipeline}); });
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  EXPECT_TRUE(result.standardError.empty()) << result.standardError;
  auto histories = readHistoryFile(file);
  ASSERT_TRUE(histories) << histories.error();
  ASSERT_EQ(histories->count(link_), 1u);
}

TEST_F(CliEndToEndTest, RecordersInEveryStartOrderRecordEachByteOnce) {
  // record, then watch behind it, then a second record behind the watch.
  // Each stops in turn and the next takes over; traffic flows only while one
  // of them records steadily, so the file must hold exactly what the kernel
  // counted, neither less (a gap between holders) nor more (a reading
  // counted twice, or two writers).
  TempDir state;
  const auto file = state.path() / "history.plist";
  auto receivedBytes = [&] { return testing::receivedBytes(*tool_, link_); };
  // One SIGTERM to the recorder, as systemd sends it (see above on
  // --foreground).
  auto stopAfter = [](double seconds) {
    return std::vector<std::string>{"timeout", "--foreground", "--preserve-status", "-s", "TERM",
                                    std::to_string(seconds)};
  };
  const std::vector<std::string> common{"--interval", "0.2", "--history-file", file.string()};
  auto with = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), common.begin(), common.end());
    return arguments;
  };

  const std::uint64_t before = receivedBytes();
  const auto started = steady_clock::now();
  auto at = [&](double seconds) {
    std::this_thread::sleep_until(started + std::chrono::duration_cast<steady_clock::duration>(
                                                std::chrono::duration<double>(seconds)));
  };
  ProcessResult first, watcher, second;
  // first records [0, 2.5], the watch [2.5, 4.5], the second [4.5, 6.5];
  // the second starts only after the first handover, so the order of the
  // takeovers is certain.
  std::thread firstThread([&] { first = run(with({"record"}), stopAfter(2.5)); });
  at(0.5);
  std::thread watchThread([&] { watcher = run(with({"watch", link_}), stopAfter(4.0)); });
  at(1.0);
  EXPECT_GT(sendTraffic(milliseconds(1000)), 0u);
  at(3.0);
  std::thread secondThread([&] { second = run(with({"record", "--save-every", "1"}), stopAfter(3.5)); });
  EXPECT_GT(sendTraffic(milliseconds(800)), 0u);
  at(5.2);
  EXPECT_GT(sendTraffic(milliseconds(800)), 0u);
  firstThread.join();
  watchThread.join();
  secondThread.join();
  const std::uint64_t counted = receivedBytes() - before;

  for (const ProcessResult* result : {&first, &watcher, &second}) EXPECT_EQ(result->exitCode, 0) << result->standardError;
  EXPECT_EQ(first.standardError, "beaconbar: recording " + file.string() + "\n");
  // The watch showed readings all along, and said why it did not record.
  EXPECT_GT(std::count(watcher.standardOutput.begin(), watcher.standardOutput.end(), '\n'), 10);
  EXPECT_EQ(watcher.standardError.find("another recorder is recording"), 11u) << watcher.standardError;
  EXPECT_EQ(second.standardError, "beaconbar: another recorder is recording " + file.string() +
                                      "; recording here starts when it stops\nbeaconbar: recording " + file.string() +
                                      "\n");

  auto histories = readHistoryFile(file);
  ASSERT_TRUE(histories) << histories.error();
  ASSERT_EQ(histories->count(link_), 1u);
  const std::uint64_t recorded = histories->at(link_).aggregate(3600, Date::now()).bytesIn;
  // The three bursts are each more than a tenth of the whole; the slack
  // allows the odd stray IPv6 packet at a handover.
  EXPECT_GT(counted, 100000u);
  EXPECT_NEAR(static_cast<double>(recorded), static_cast<double>(counted), 600.0 + counted * 0.002);
}

TEST_F(CliEndToEndTest, RecordSavesAndEndsOnSigterm) {
  TempDir state;
  const std::vector<std::string> prefix{"env", "XDG_STATE_HOME=" + state.path().string(), "timeout",
                                        "--foreground", "--preserve-status", "-s", "TERM", "2"};
  // Saves only at the end (a minute between saves by default).
  auto record = runWithTraffic({"record", "--interval", "0.2"}, milliseconds(1500), prefix);
  ASSERT_EQ(record.exitCode, 0) << record.standardError;
  EXPECT_TRUE(record.standardOutput.empty());
  auto histories = readHistoryFile(state.path() / "beaconbar" / "history.plist");
  ASSERT_TRUE(histories) << histories.error();
  ASSERT_EQ(histories->count(link_), 1u);
  EXPECT_GT(histories->at(link_).aggregate(3600, Date::now()).bytesIn, 100000u);
}

TEST_F(CliEndToEndTest, TunnelOwnersAsRootOrThroughTheDaemon) {
  const std::string tunnel = "bbt" + std::to_string(getpid());
  auto holder = bcn::testing::HeldProcess::holdTunnel(tunnel);
  ASSERT_TRUE(holder) << holder.error();

  auto listed = run({"tunnels", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.standardError;
  bool found = false;
  const json parsed = json::parse(listed.standardOutput);
  for (const json& owner : parsed["tunnels"]) {
    if (owner["interface"] != tunnel) continue;
    found = true;
    EXPECT_EQ(owner["pid"], holder->pids().front());
  }
  EXPECT_TRUE(found) << listed.standardOutput;

  // Without root the daemon is asked; here none runs. The other user runs
  // a copy it can reach: the build tree may sit in a directory only root
  // may enter (a clone under /root).
  TempDir runtime;
  std::filesystem::permissions(runtime.path(), std::filesystem::perms(0755));
  const auto copy = runtime / "beaconbar";
  std::filesystem::copy_file(BEACONBAR_EXECUTABLE, copy);
  std::filesystem::permissions(copy, std::filesystem::perms(0755));
  auto refused = runInside({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env",
                            "RUNTIME_DIRECTORY=" + runtime.path().string(), copy.string(), "tunnels"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.standardOutput.empty());
  EXPECT_TRUE(isOneErrorLine(refused.standardError));
  EXPECT_NE(refused.standardError.find("the admin daemon is not running"), std::string::npos) << refused.standardError;
}

TEST_F(CliEndToEndTest, ServicesOfTheDefaultPreferencesWithThePrimaryMarked) {
  // No preferences file yet: one service per kernel link but loopback.
  TempDir configuration;
  const std::vector<std::string> env{"env", "CONFIGURATION_DIRECTORY=" + configuration.path().string()};
  ASSERT_TRUE(tool_->ip("route add default via 10.77.0.2 dev " + link_));
  auto listed = run({"services", "--json"}, env);
  ASSERT_EQ(listed.exitCode, 0) << listed.standardError;
  const json parsed = json::parse(listed.standardOutput);
  EXPECT_EQ(parsed["primaryIPv4Interface"], link_);
  const json* service = nullptr;
  for (const json& s : parsed["services"]) {
    if (s["bsdName"] == link_) service = &s;
  }
  ASSERT_NE(service, nullptr) << listed.standardOutput;
  EXPECT_EQ((*service)["enabled"], true);
  EXPECT_EQ((*service)["primaryIPv4"], true);
  EXPECT_EQ((*service)["hidden"], false);

  auto text = run({"services"}, env);
  ASSERT_EQ(text.exitCode, 0) << text.standardError;
  EXPECT_EQ(text.standardOutput.rfind("#  NAME", 0), 0u) << text.standardOutput;
  EXPECT_NE(text.standardOutput.find("Primary IPv4: " + link_ + "\n"), std::string::npos) << text.standardOutput;

  auto overview = run({"overview", "--no-public-ip", "--json"}, env);
  ASSERT_EQ(overview.exitCode, 0) << overview.standardError;
  EXPECT_EQ(json::parse(overview.standardOutput)["primaryIPv4Interface"], link_);
}

TEST_F(CliEndToEndTest, ServicesWatchPrintsTheKeysOfAChange) {
  TempDir configuration;
  std::vector<std::string> prefix{"env", "CONFIGURATION_DIRECTORY=" + configuration.path().string()};
  for (const char* part : {"timeout", "--foreground", "--preserve-status", "-s", "INT", "3"}) prefix.push_back(part);
  ProcessResult watch;
  std::thread tool([&] { watch = run({"services", "watch", "--json"}, prefix); });
  std::this_thread::sleep_for(milliseconds(1000));
  ASSERT_TRUE(tool_->ip("addr add 10.78.0.1/24 dev " + link_));
  tool.join();
  ASSERT_EQ(watch.exitCode, 0) << watch.standardError;
  // One JSON object per line, one of them naming the link's IPv4 key.
  bool seen = false;
  std::istringstream lines(watch.standardOutput);
  for (std::string line; std::getline(lines, line);) {
    const json change = json::parse(line);
    ASSERT_TRUE(change["time"].is_string()) << line;
    for (const json& key : change["keys"]) seen = seen || key == "State:/Network/Interface/" + link_ + "/IPv4";
  }
  EXPECT_TRUE(seen) << watch.standardOutput;
}

TEST_F(CliEndToEndTest, PublicAddressesOfACustomService) {
  // A dual-stack echo service on the namespace's loopback, named through
  // the namespace's own hosts file (ip netns exec mounts it over /etc/hosts,
  // which it cannot do where the machine has none).
  if (!std::filesystem::exists("/etc/hosts")) {
    GTEST_SKIP() << "no /etc/hosts for ip netns exec to mount the test's hosts file over";
  }
  auto servers = tool_->inside([] {
    return std::make_unique<bcn::testing::DualStackServers>(bcn::testing::LocalHttpServer::echo(),
                                                            bcn::testing::LocalHttpServer::echo());
  });
  ASSERT_TRUE(servers && *servers);
  std::filesystem::create_directories("/etc/netns/" + tool_->name());
  bcn::testing::writeText("/etc/netns/" + tool_->name() + "/hosts", "127.0.0.1 echo.bcn.test\n::1 echo.bcn.test\n");
  const std::string url = "http://echo.bcn.test:" + std::to_string((*servers)->port()) + "/ip";

  auto text = run({"public-ip", "--url", url});
  ASSERT_EQ(text.exitCode, 0) << text.standardError;
  EXPECT_EQ(text.standardOutput, "IPv4  127.0.0.1\nIPv6  ::1\n");
  EXPECT_TRUE(text.standardError.empty()) << "no spinner without a terminal: " << text.standardError;

  auto refused = run({"public-ip", "--json", "--url", "http://10.77.0.1:9/ip"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(json::parse(refused.standardOutput)["error"].is_string());
  EXPECT_TRUE(isOneErrorLine(refused.standardError));
}

TEST_F(CliEndToEndTest, PublicAddressFromAJsonAnswer) {
  auto server = tool_->inside([] {
    return std::make_unique<bcn::testing::LocalHttpServer>(
        bcn::testing::LocalHttpServer::Options{.family = AF_INET},
        bcn::testing::LocalHttpServer::answer(bcn::testing::LocalHttpServer::response(
            "HTTP/1.1 200 OK", R"({"data":{"ip":"198.51.100.7"}})", "Content-Type: application/json\r\n")));
  });
  ASSERT_TRUE(server && *server);
  const std::string url = "http://127.0.0.1:" + std::to_string((*server)->port()) + "/ip";
  auto result = run({"public-ip", "--url", url, "--json-key-path", "data.ip", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.standardError;
  const auto parsed = json::parse(result.standardOutput);
  EXPECT_EQ(parsed["ipv4"], "198.51.100.7");
  EXPECT_EQ(parsed["source"], url);
}

TEST_F(CliEndToEndTest, PinsResolveAgainstTheLiveInterfaces) {
  TempDir dir;
  // A veth's address is whatever it was given, so its key is its kind and
  // name (the pin was saved before a rename of the live link to link_ would
  // show in its name; the key has it).
  const json saved = json::array({{{"key", "veth:" + link_}, {"name", "eth7"}},
                                  {{"key", "aa:bb:cc:dd:ee:ff"}, {"name", "lo"}},
                                  {{"key", "11:22:33:44:55:66"}, {"name", "wlan0"}, {"permanentAddress", true}}});
  bcn::testing::writeText(dir / "pins.json", saved.dump());
  auto result = run({"pins", "resolve", (dir / "pins.json").string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.standardError;
  const auto pins = json::parse(result.standardOutput)["pins"];
  ASSERT_EQ(pins.size(), 3u);
  EXPECT_EQ(pins[0]["live"]["name"], link_);
  EXPECT_EQ(pins[0]["live"]["address"], "00:16:3e:12:34:56");
  EXPECT_EQ(pins[0]["live"]["permanentAddress"], false);
  EXPECT_EQ(pins[1]["live"]["name"], "lo");
  EXPECT_TRUE(pins[2]["live"].is_null());

  bcn::testing::writeText(dir / "bad.json", "[{\"key\": 7}]");
  auto bad = run({"pins", "resolve", (dir / "bad.json").string()});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(isOneErrorLine(bad.standardError));
  auto missing = run({"pins", "resolve", (dir / "none.json").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(isOneErrorLine(missing.standardError));
}

TEST_F(CliEndToEndTest, PinsTellABridgeFromThePortWhoseAddressItShares) {
  const std::string bridge = "bbb" + std::to_string(getpid());
  ASSERT_TRUE(tool_->ip("link add " + bridge + " type bridge"));
  ASSERT_TRUE(tool_->ip("link set " + link_ + " master " + bridge));
  ASSERT_TRUE(tool_->ip("link set " + bridge + " address 00:16:3e:12:34:56 up"));
  TempDir dir;
  // The bridge first: in kernel order the port comes before it, so a key
  // both share would hand the bridge's pin to the port.
  const json saved = json::array({{{"key", "bridge:" + bridge}, {"name", bridge}, {"title", "Bridge"}},
                                  {{"key", "veth:" + link_}, {"name", link_}, {"title", "Port"}}});
  bcn::testing::writeText(dir / "pins.json", saved.dump());
  const auto resolve = [&] {
    auto result = run({"pins", "resolve", (dir / "pins.json").string(), "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.standardError;
    return json::parse(result.standardOutput)["pins"];
  };
  const auto check = [&](const json& pins, const std::string& when) {
    ASSERT_EQ(pins.size(), 2u) << when;
    ASSERT_FALSE(pins[0]["live"].is_null()) << when;
    ASSERT_FALSE(pins[1]["live"].is_null()) << when;
    EXPECT_EQ(pins[0]["live"]["name"], bridge) << when;
    EXPECT_EQ(pins[1]["live"]["name"], link_) << when;
    // They do share the address; only the keys tell them apart.
    EXPECT_EQ(pins[0]["live"]["address"], "00:16:3e:12:34:56") << when;
    EXPECT_EQ(pins[1]["live"]["address"], "00:16:3e:12:34:56") << when;
    EXPECT_EQ(pins[0]["live"]["key"], pins[0]["pin"]["key"]) << when;
    EXPECT_EQ(pins[1]["live"]["key"], pins[1]["pin"]["key"]) << when;
  };
  check(resolve(), "as set up");
  // Taken down and up again, and with the port's address changed, each key
  // still finds its own link.
  ASSERT_TRUE(tool_->ip("link set " + bridge + " down"));
  ASSERT_TRUE(tool_->ip("link set " + link_ + " address 00:16:3e:65:43:21"));
  ASSERT_TRUE(tool_->ip("link set " + bridge + " up"));
  auto later = resolve();
  ASSERT_EQ(later.size(), 2u);
  EXPECT_EQ(later[1]["live"]["address"], "00:16:3e:65:43:21");
  later[1]["live"]["address"] = "00:16:3e:12:34:56";
  check(later, "after a re-plug");

  auto text = run({"pins", "resolve", (dir / "pins.json").string()});
  ASSERT_EQ(text.exitCode, 0) << text.standardError;
  EXPECT_NE(text.standardOutput.find("Bridge  bridge:" + bridge), std::string::npos) << text.standardOutput;
  EXPECT_NE(text.standardOutput.find("Port    veth:" + link_), std::string::npos) << text.standardOutput;
}

TEST_F(CliEndToEndTest, UsageErrorsAreOneLine) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"frobnicate"},
                                                    {"watch", "--interval", "0"},
                                                    {"public-ip", "--provider", "echoB", "--url", "http://x/"},
                                                    {"public-ip", "--provider", "custom"},
                                                    {"pins", "resolve"}}) {
    auto result = run(arguments);
    EXPECT_EQ(result.exitCode, 2) << arguments[0];
    EXPECT_TRUE(result.standardOutput.empty()) << arguments[0];
    EXPECT_TRUE(isOneErrorLine(result.standardError)) << arguments[0];
  }
  auto help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("overview"), std::string::npos);
}

}  // namespace
}  // namespace bcn::cli
