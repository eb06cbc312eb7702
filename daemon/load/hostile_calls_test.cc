// Calls one local user can make at will, against the real daemon: each test
// runs the attack as an unprivileged account and judges it by what another
// user (the victim) sees — its calls answered, and soon — or by what the
// attacker could not do, never by the daemon's own counters.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <iostream>
#include <regex>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/load/process_usage.h"
#include "daemon/pairing_store.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::DaemonHarness;
using Role = DaemonHarness::Role;

const std::string kAttacker = "nobody";
const std::string kVictim = "daemon";

std::uint32_t uidOf(const std::string& user) {
  const passwd* entry = ::getpwnam(user.c_str());
  return entry ? entry->pw_uid : 0;
}

ProcessResult runAs(const std::string& user, const std::filesystem::path& program, const std::vector<std::string>& args,
                    std::chrono::milliseconds limit = 60s) {
  return runProcess(DaemonHarness::commandAs(user, program, args), {.timeout = limit}).value_or(ProcessResult{});
}

double number(const ProcessResult& result, const std::string& key) {
  const std::string text = DaemonHarness::field(result, key);
  return text.empty() ? -1 : std::stod(text);
}

std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// The daemon's peak resident memory so far ("VmHWM"), for the record.
std::string peakResident(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
  }
  return "?";
}

class HostileCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and its callers as other users";
    if (uidOf(kAttacker) == 0 || uidOf(kVictim) == 0) GTEST_SKIP() << "needs the accounts nobody and daemon";
    app_ = daemon_.install(BCN_HOSTILE_PEER, Role::app, "hostile-app");
    console_ = daemon_.install(BCN_HOSTILE_PEER, Role::console, "hostile-console");
    unregistered_ = daemon_.install(BCN_HOSTILE_PEER, Role::stranger, "hostile-unregistered");
  }

  // A pairing file holding one pairing of the victim, written as the daemon
  // writes it; returns the victim's token.
  std::string pairVictim() {
    std::filesystem::create_directories(daemon_.stateDirectory());
    ::chmod(daemon_.stateDirectory().c_str(), 0700);
    PairingStore store({.directory = daemon_.stateDirectory()});
    return store.pair(uidOf(kVictim)).value();
  }

  // The victim's status calls on one open connection while `attack` runs
  // as the attacker (started first, given a second to get going).
  struct Outcome {
    ProcessResult victim, attack;
  };
  Outcome victimDuring(const std::filesystem::path& program, const std::vector<std::string>& attack,
                       const std::string& token, const std::string& attacker = kAttacker) {
    auto attacking = std::async(std::launch::async, [&] { return runAs(attacker, program, attack); });
    std::this_thread::sleep_for(1s);
    Outcome outcome;
    outcome.victim = runAs(kVictim, app_, {"victim", "--seconds", "4", "--token", token});
    outcome.attack = attacking.get();
    std::cout << "victim: " << outcome.victim.standardOutput << "attacker: " << outcome.attack.standardOutput
              << "daemon peak RSS:" << peakResident(daemon_.pid()) << "\n";
    return outcome;
  }

  DaemonHarness daemon_;
  std::filesystem::path app_, console_, unregistered_;
};

// A program that is not admitted connects, hands the connection to a helper
// and execs an admitted program, so that the daemon judges the admitted one.
// The helper is not the process that was judged and must not be heard.
TEST_F(HostileCalls, ConnectThenExecDoesNotLetTheUnadmittedProcessSpeak) {
  ASSERT_TRUE(daemon_.start());
  int answered = 0, refused = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    auto result = runAs(kAttacker, unregistered_, {"connect-then-exec", "--then", app_.string()});
    const std::string spoke = DaemonHarness::field(result, "spoke");
    ASSERT_FALSE(spoke.empty()) << result.standardOutput << result.standardError;
    (spoke == "answered" ? answered : refused)++;
  }
  EXPECT_EQ(answered, 0) << answered << " of 20 connections were served to a process that was never admitted";
  // The admitted program itself, execing a fresh copy of its very file, is
  // still the same code and still served.
  auto same = runAs(kAttacker, app_, {"exec-after-call", "--then", app_.string()});
  EXPECT_EQ(DaemonHarness::field(same, "spoke"), "answered") << same.standardOutput << same.standardError;
  EXPECT_TRUE(daemon_.stop());
}

// The other order: an admitted program connects, is served, then replaces
// itself with one that is not admitted and keeps the connection.
TEST_F(HostileCalls, AProgramExecedAfterAdmissionIsNotServed) {
  ASSERT_TRUE(daemon_.start());
  auto result = runAs(kAttacker, app_, {"exec-after-call", "--then", unregistered_.string()});
  EXPECT_EQ(DaemonHarness::field(result, "spoke"), "refused") << result.standardOutput << result.standardError;
  EXPECT_TRUE(daemon_.stop());
}

// Any user may send unpair with any token. One that pairs nothing must not
// rewrite the file, nor hold up a paired user.
TEST_F(HostileCalls, UnpairSpamByAnUnpairedUserWritesNothingAndTheVictimIsAnswered) {
  const std::string token = pairVictim();
  const auto file = daemon_.stateDirectory() / PairingStore::kFileName;
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  ASSERT_TRUE(daemon_.start());

  auto outcome = victimDuring(
      app_, {"repeat", "--selector", "unpairWithToken:reply:", "--token", "garbage", "--seconds", "6", "--connections", "8"}, token);
  const double attackCalls = number(outcome.attack, "answered");
  EXPECT_GT(attackCalls, 100) << outcome.attack.standardOutput << outcome.attack.standardError;
  EXPECT_EQ(DaemonHarness::field(outcome.victim, "paired"), "all") << outcome.victim.standardOutput;
  const double p50 = number(outcome.victim, "p50_ms"), p99 = number(outcome.victim, "p99_ms");
  ASSERT_GE(p50, 0) << outcome.victim.standardOutput << outcome.victim.standardError;
  // Measured on two shared cores under ASan: 40 ms here, 120–250 ms when
  // every such call cost a polkit check or a file write.
  EXPECT_LT(p50, 80) << outcome.victim.standardOutput;
  EXPECT_LT(p99, 2000) << outcome.victim.standardOutput;

  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << attackCalls << " unpairs of nothing replaced the pairing file";
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_TRUE(daemon_.stop()) << "the daemon did not survive";
}

// A user without the pair right asking, as fast as the daemon answers, for
// every pairing to be revoked: each ask of polkit starts a process.
TEST_F(HostileCalls, RevokeSpamWithoutTheRightDoesNotHoldUpOtherUsers) {
  if (std::getenv("BCN_POLKIT_TEST") == nullptr) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  const std::string token = pairVictim();
  ASSERT_TRUE(daemon_.start());
  auto outcome = victimDuring(
      console_, {"repeat", "--control", "--selector", "unpairAllWithAuthorization:reply:", "--seconds", "6", "--connections", "8"}, token,
      "bcn-polkit-no");
  EXPECT_GT(number(outcome.attack, "answered"), 20) << outcome.attack.standardOutput << outcome.attack.standardError;
  EXPECT_EQ(DaemonHarness::field(outcome.victim, "paired"), "all") << outcome.victim.standardOutput;
  const double p50 = number(outcome.victim, "p50_ms"), p99 = number(outcome.victim, "p99_ms");
  ASSERT_GE(p50, 0) << outcome.victim.standardOutput << outcome.victim.standardError;
  // Measured on two shared cores under ASan: 40 ms here, 120–250 ms when
  // every such call cost a polkit check or a file write.
  EXPECT_LT(p50, 80) << outcome.victim.standardOutput;
  EXPECT_LT(p99, 2000) << outcome.victim.standardOutput;
  EXPECT_TRUE(daemon_.stop()) << "the daemon did not survive";
}

// Opening pairing requests is open to everyone; the log must not become the
// attacker's, and a revocation right after must still be recorded.
TEST_F(HostileCalls, ARequestFloodIsSummedUpAndRevocationsStillReachTheLog) {
  if (::access("/run/systemd/journal/socket", W_OK) == 0) {
    GTEST_SKIP() << "the daemon logs to the journal here; this test reads its stderr";
  }
  const std::string token = pairVictim();
  ASSERT_TRUE(daemon_.start());
  auto flood = runAs(kAttacker, app_, {"repeat", "--selector", "beginPairingWithReply:", "--seconds", "4"});
  const double requests = number(flood, "answered");
  ASSERT_GT(requests, 200) << flood.standardOutput << flood.standardError;
  std::this_thread::sleep_for(1500ms);
  // One more after a pause says how many went unrecorded.
  runAs(kAttacker, app_, {"repeat", "--selector", "beginPairingWithReply:", "--seconds", "0", "--window", "1"});
  ASSERT_EQ(daemon_.run(Role::app, kVictim, {"unpair", token}).standardOutput, "ok\n");
  ASSERT_TRUE(daemon_.stop());

  const std::string log = daemon_.log();
  const std::string attacker = "requested by uid " + std::to_string(uidOf(kAttacker));
  const std::size_t lines = countOf(log, attacker);
  std::cout << requests << " requests, " << lines << " log lines\n";
  EXPECT_LE(lines, 40u) << requests << " requests wrote " << lines << " lines";
  EXPECT_GE(lines, 2u);
  EXPECT_TRUE(std::regex_search(log, std::regex("\\(([0-9]+) earlier lines of uid " +
                                                std::to_string(uidOf(kAttacker)) + " suppressed\\)")))
      << "no summary of the suppressed lines";
  EXPECT_NE(log.find("uid " + std::to_string(uidOf(kVictim)) + " unpaired a client"), std::string::npos)
      << "the revocation is missing from the log";
}

}  // namespace
}  // namespace bcn
