#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/log/log.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

// Where no journal listens, each message is one whole line on stderr, even
// when several threads log at once.
TEST(SystemLog, FallsBackToWholeLinesOnStderr) {
  if (std::filesystem::exists("/run/systemd/journal/socket")) {
    GTEST_SKIP() << "a journal is listening here; messages go there";
  }
  testing::TempDir dir;
  const auto path = dir / "stderr";
  int status = testing::runInChild([&] {
    if (!std::freopen(path.c_str(), "w", stderr)) return 1;
    SystemLog log("com.quillbank.Beaconbar.admin", "daemon");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&log, t] {
        for (int i = 0; i < 50; ++i) log.info("pairing requested by uid " + std::to_string(t) + " as X");
      });
    }
    for (auto& thread : threads) thread.join();
    return 0;
  });
  ASSERT_EQ(status, 0);
  const std::string text = testing::readText(path);
  std::size_t lines = 0, at = 0;
  while ((at = text.find('\n', at)) != std::string::npos) ++lines, ++at;
  EXPECT_EQ(lines, 200u);
  const std::string expected = "com.quillbank.Beaconbar.admin[daemon] pairing requested by uid 3 as X\n";
  EXPECT_NE(text.find(expected), std::string::npos);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    const std::string prefix = "com.quillbank.Beaconbar.admin[daemon] ";
    ASSERT_EQ(text.compare(start, prefix.size(), prefix), 0) << text.substr(start, 80);
    start = end + 1;
  }
}

TEST(RecordingLog, KeepsMessagesInOrder) {
  RecordingLog log;
  log.info("all pairings removed");
  log.info("admin daemon 0.1.0 listening");
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"all pairings removed", "admin daemon 0.1.0 listening"}));
}

}  // namespace
}  // namespace bcn
