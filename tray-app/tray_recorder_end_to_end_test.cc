// The tray among the other recorders of the traffic history, run as a user
// runs them: `beaconbar record`, then the tray behind it, then a second
// `record` behind the tray, inside a private network namespace whose veth
// end gets traffic from a second namespace. Needs root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "netcore/interfaces/test_namespace.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/testing/namespace_traffic.h"

namespace bcn::tray {
namespace {

using bcn::testing::TempDir;
using bcn::testing::TestNamespace;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(TrayRecorderEndToEndTest, TrayAndRecordHandTheHistoryOverWithoutLosingOrRepeatingTraffic) {
  if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: network namespaces and veth pairs";
  TestNamespace tool("tray");
  TestNamespace peer("traypeer");
  ASSERT_TRUE(tool.created() && peer.created());
  const std::string link = "btv" + std::to_string(getpid());
  const std::string peerLink = "btp" + std::to_string(getpid());
  ASSERT_TRUE(tool.ip("link add " + link + " type veth peer name " + peerLink + " netns " + peer.name()));
  ASSERT_TRUE(tool.ip("addr add 10.79.0.1/24 dev " + link));
  ASSERT_TRUE(tool.ip("link set " + link + " up"));
  ASSERT_TRUE(peer.ip("addr add 10.79.0.2/24 dev " + peerLink));
  ASSERT_TRUE(peer.ip("link set " + peerLink + " up"));

  TempDir state;
  TempDir runtime;
  const auto file = state.path() / "beaconbar" / "history.plist";
  auto received = [&] { return cli::testing::receivedBytes(tool, link); };
  // One SIGTERM to each program after `seconds`, as a session's end sends it.
  auto run = [&](std::vector<std::string> program, double seconds) {
    std::vector<std::string> argv{"ip",
                                  "netns",
                                  "exec",
                                  tool.name(),
                                  "env",
                                  "XDG_STATE_HOME=" + state.path().string(),
                                  "XDG_RUNTIME_DIR=" + runtime.path().string(),
                                  "QT_QPA_PLATFORM=offscreen",
                                  "timeout",
                                  "--foreground",
                                  "--preserve-status",
                                  "-s",
                                  "TERM",
                                  std::to_string(seconds)};
    argv.insert(argv.end(), program.begin(), program.end());
    auto result = runProcess(argv, {.timeout = milliseconds(30000)});
    EXPECT_TRUE(result) << result.error().description;
    return result ? *result : ProcessResult{};
  };
  auto sendTraffic = [&](milliseconds duration) { return cli::testing::sendDatagrams(peer, "10.79.0.1", duration); };

  const std::uint64_t before = received();
  const auto started = steady_clock::now();
  auto at = [&](double seconds) {
    std::this_thread::sleep_until(
        started + std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds)));
  };
  // record holds [0, 2.5], the tray [2.5, 4.5], the second record [4.5, 6.5];
  // traffic flows only while one of them holds the file.
  ProcessResult first, tray, second;
  std::thread firstThread([&] { first = run({BEACONBAR_EXECUTABLE, "record", "--interval", "0.2"}, 2.5); });
  at(0.5);
  std::thread trayThread([&] { tray = run({BEACONBAR_TRAY_EXECUTABLE}, 4.0); });
  at(1.0);
  EXPECT_GT(sendTraffic(milliseconds(1000)), 0u);
  at(3.0);
  std::thread secondThread([&] {
    second = run({BEACONBAR_EXECUTABLE, "record", "--interval", "0.2", "--save-every", "1"}, 3.5);
  });
  // The tray reads once a second; its share of the traffic must span
  // several of its readings.
  EXPECT_GT(sendTraffic(milliseconds(1200)), 0u);
  at(5.0);
  EXPECT_GT(sendTraffic(milliseconds(1000)), 0u);
  firstThread.join();
  trayThread.join();
  secondThread.join();
  const std::uint64_t counted = received() - before;

  EXPECT_EQ(first.exitCode, 0) << first.standardError;
  EXPECT_EQ(tray.exitCode, 0) << tray.standardError;
  EXPECT_EQ(second.exitCode, 0) << second.standardError;
  // The second record waited for the tray, then recorded.
  EXPECT_NE(second.standardError.find("another recorder is recording"), std::string::npos) << second.standardError;
  EXPECT_NE(second.standardError.find("beaconbar: recording"), std::string::npos) << second.standardError;

  auto histories = cli::readHistoryFile(file);
  ASSERT_TRUE(histories) << histories.error();
  ASSERT_EQ(histories->count(link), 1u);
  const std::uint64_t recorded = histories->at(link).aggregate(3600, Date::now()).bytesIn;
  EXPECT_GT(counted, 100000u);
  EXPECT_NEAR(static_cast<double>(recorded), static_cast<double>(counted), 600.0 + counted * 0.002);
}

}  // namespace
}  // namespace bcn::tray
