#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/log/log.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

// Where stderr is not the journal's stream, each message is one whole line
// on stderr, even when several threads log at once.
TEST(SystemLog, FallsBackToWholeLinesOnStderr) {
  testing::TempDir dir;
  const auto path = dir / "stderr";
  int status = testing::runInChild([&] {
    if (!std::freopen(path.c_str(), "w", stderr)) return 1;
    ::unsetenv("JOURNAL_STREAM");
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

// Where the log goes when a journal listens on the machine: the journal
// only when $JOURNAL_STREAM names the very stream stderr is, as systemd
// sets it for a service; otherwise stderr, whoever redirected it. Each case
// runs in a child with a private /run holding a journal socket of the test.
TEST(SystemLog, WritesToTheJournalOnlyWhenStderrIsItsStream) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: a private /run with a journal socket";
  ASSERT_TRUE(std::filesystem::is_directory("/run")) << "no /run to mount a private one over";
  enum class Stream { unset, stderrItself, another };
  // 0 when the message went where it should; other values say what failed.
  auto logOnce = [](Stream stream) {
    return testing::withSmallFileSystem("/run", 1 << 20, [stream] {
      std::filesystem::create_directories("/run/systemd/journal");
      const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "/run/systemd/journal/socket");
      if (journal < 0 || ::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 10;
      char stderrPath[] = "/run/stderr-XXXXXX";
      const int file = ::mkstemp(stderrPath);
      if (file < 0 || ::dup2(file, STDERR_FILENO) < 0) return 11;
      struct stat st {};
      ::fstat(file, &st);
      const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
      if (stream == Stream::unset) ::unsetenv("JOURNAL_STREAM");
      if (stream == Stream::stderrItself) ::setenv("JOURNAL_STREAM", mine.c_str(), 1);
      // Inherited from a parent whose stderr was the journal.
      if (stream == Stream::another) ::setenv("JOURNAL_STREAM", (mine + "1").c_str(), 1);

      SystemLog("com.quillbank.Beaconbar.admin", "daemon").info("pairing requested by uid 7 as X");

      char datagram[4096];
      const ssize_t got = ::recv(journal, datagram, sizeof datagram, MSG_DONTWAIT);
      const std::string sent = got > 0 ? std::string(datagram, static_cast<std::size_t>(got)) : std::string();
      const std::string written = testing::readText(stderrPath);
      if (stream == Stream::stderrItself) {
        if (!written.empty()) return 20;
        if (sent.find("MESSAGE=pairing requested by uid 7 as X\n") == std::string::npos) return 21;
        if (sent.find("BCN_CATEGORY=daemon\n") == std::string::npos) return 22;
        if (sent.find("SYSLOG_IDENTIFIER=com.quillbank.Beaconbar.admin\n") == std::string::npos) return 23;
        return 0;
      }
      if (!sent.empty()) return 30;
      return written == "com.quillbank.Beaconbar.admin[daemon] pairing requested by uid 7 as X\n" ? 0 : 31;
    });
  };
  EXPECT_EQ(logOnce(Stream::unset), 0) << "a journal socket alone must not take the messages";
  EXPECT_EQ(logOnce(Stream::another), 0) << "a stream that is not stderr must not take the messages";
  EXPECT_EQ(logOnce(Stream::stderrItself), 0) << "under systemd the messages go to the journal";
}

TEST(RecordingLog, KeepsMessagesInOrder) {
  RecordingLog log;
  log.info("all pairings removed");
  log.info("admin daemon 0.1.0 listening");
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"all pairings removed", "admin daemon 0.1.0 listening"}));
}

}  // namespace
}  // namespace bcn
