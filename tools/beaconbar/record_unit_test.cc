// The beaconbar-record user unit: that systemd accepts it as a user unit,
// that its sandbox stays tight, and that the command it starts records and
// stops cleanly on the signal systemd stops it with. The copy tested here
// differs from the installed one only in the directory of ExecStart (the
// build tree instead of the install prefix).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/subprocess.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"

namespace bcn::cli {
namespace {

namespace fs = std::filesystem;
using bcn::testing::TempDir;

// Without namespaces (which a user manager cannot count on) seccomp and
// no-new-privileges are what is left; an unconfined unit rates 9.6.
constexpr double kMaxExposure = 6.5;

std::optional<std::string> findProgram(const std::string& name) {
  const char* path = ::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((fs::path(dir) / name).c_str(), X_OK) == 0) return (fs::path(dir) / name).string();
  }
  return std::nullopt;
}

// The value of the one `key=` line of the unit.
std::string setting(const std::string& key) {
  std::istringstream text(bcn::testing::readText(BCN_RECORD_UNIT));
  std::string found;
  int count = 0;
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with(key + "=")) {
      found = line.substr(key.size() + 1);
      ++count;
    }
  }
  EXPECT_EQ(count, 1) << key;
  return found;
}

// systemd-analyze in user mode wants a runtime directory even offline.
std::vector<std::string> analyze(const std::string& program, const fs::path& runtime) {
  return {"env", "XDG_RUNTIME_DIR=" + runtime.string(), program, "--user", "--no-pager"};
}

TEST(RecordUnit, SystemdAcceptsItAsAUserUnitWithATightSandbox) {
  const auto program = findProgram("systemd-analyze");
  if (!program) GTEST_SKIP() << "systemd-analyze is not installed";
  TempDir runtime;
  fs::permissions(runtime.path(), fs::perms::owner_all);

  auto verify = analyze(*program, runtime.path());
  verify.insert(verify.end(), {"verify", BCN_RECORD_UNIT});
  auto verified = runProcess(verify);
  ASSERT_TRUE(verified) << verified.error().description;
  EXPECT_EQ(verified->exitCode, 0) << verified->standardError;
  EXPECT_EQ(verified->standardError, "");

  auto security = analyze(*program, runtime.path());
  security.insert(security.end(), {"security", "--offline=true", BCN_RECORD_UNIT});
  auto rated = runProcess(security);
  ASSERT_TRUE(rated) << rated.error().description;
  if (rated->standardError.find("--offline") != std::string::npos) {
    GTEST_SKIP() << "this systemd-analyze cannot rate a unit file offline: " << rated->standardError;
  }
  std::smatch match;
  ASSERT_TRUE(
      std::regex_search(rated->standardOutput, match, std::regex("Overall exposure level for [^:]+: ([0-9]+\\.[0-9])")))
      << rated->standardOutput << rated->standardError;
  EXPECT_LE(std::stod(match[1]), kMaxExposure) << rated->standardOutput;
}

TEST(RecordUnit, ItsCommandRecordsUntilSystemdStopsIt) {
  EXPECT_EQ(setting("WantedBy"), "default.target");
  std::vector<std::string> command;
  std::istringstream words(setting("ExecStart"));
  for (std::string word; words >> word;) command.push_back(word);
  ASSERT_FALSE(command.empty());
  ASSERT_EQ(fs::canonical(command.front()), fs::canonical(BEACONBAR_EXECUTABLE));

  // As the user manager starts it: no history file named, so it goes where
  // XDG_STATE_HOME says; stopped with SIGTERM, it saves and exits with 0.
  TempDir state;
  std::vector<std::string> argv{
      "env", "XDG_STATE_HOME=" + state.path().string(), "timeout", "--foreground", "--preserve-status", "-s", "TERM",
      "1.5"};
  argv.insert(argv.end(), command.begin(), command.end());
  auto result = runProcess(argv);
  ASSERT_TRUE(result) << result.error().description;
  EXPECT_EQ(result->exitCode, 0) << result->standardError;
  const auto file = state.path() / "beaconbar" / "history.plist";
  auto histories = readHistoryFile(file);
  ASSERT_TRUE(histories) << histories.error();
  EXPECT_TRUE(fs::exists(file));
}

}  // namespace
}  // namespace bcn::cli
