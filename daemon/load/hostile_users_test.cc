// Local users against the real daemon: what an unprivileged account on the
// same machine can try, and what stops it. docs/security.md names these
// tests beside the checks they show.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/listener.h"
#include "daemon/load/process_usage.h"
#include "daemon/pairing_store.h"
#include "platform/files.h"
#include "platform/ipc/service_socket.h"
#include "platform/ipc/testing/child_peer.h"
#include "protocol/admin_constants.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::DaemonHarness;
using Role = DaemonHarness::Role;

const std::string kStranger = "nobody";
constexpr const char* kPermissionDenied = "Permission denied";
const std::string kAuthorizationFailed = "error=4 Administrator authorization failed";
const std::string kWrongUser = "error=5 The pairing request belongs to another user";

struct stat statusOf(const std::filesystem::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

ProcessResult runAs(const std::string& user, const std::filesystem::path& program, const std::vector<std::string>& args,
                    std::chrono::milliseconds limit = 30s) {
  return runProcess(DaemonHarness::commandAs(user, program, args), {.timeout = limit}).value_or(ProcessResult{});
}

// `program` running as `user`, its output readable while it runs.
std::unique_ptr<ipc::testing::ChildPeer> startAs(const std::string& user, const std::filesystem::path& program,
                                                 const std::vector<std::string>& args) {
  auto argv = DaemonHarness::commandAs(user, program, args);
  const std::string executable = argv[0] == "setpriv" ? "/usr/bin/setpriv" : argv[0];
  argv.erase(argv.begin());
  return std::make_unique<ipc::testing::ChildPeer>(executable, argv);
}

class HostileLocalUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and clients as other users";
  }
  static bool polkitAvailable() { return std::getenv("BCN_POLKIT_TEST") != nullptr; }

  // The request `user`'s console sees once its app has opened one.
  std::string requestOf(DaemonHarness& daemon, const std::string& user) {
    for (int i = 0; i < 200; ++i) {
      const std::string id = DaemonHarness::field(daemon.run(Role::console, user, {"pending"}), "id");
      if (!id.empty()) return id;
      std::this_thread::sleep_for(50ms);
    }
    return "";
  }
  std::future<ProcessResult> pairInBackground(DaemonHarness& daemon, const std::string& user) {
    return std::async(std::launch::async, [&daemon, user] { return daemon.run(Role::app, user, {"pair"}, 60s); });
  }
  std::string appStatus(DaemonHarness& daemon, const std::string& user, const std::string& token = "") {
    auto result =
        daemon.run(Role::app, user,
                   token.empty() ? std::vector<std::string>{"status"} : std::vector<std::string>{"status", token});
    return result.standardOutput;
  }
};

TEST_F(HostileLocalUsers, CannotReadThePairingFileOrItsDirectory) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  // Any change saves the file; unpairing a token nobody holds is one.
  ASSERT_EQ(daemon.run(Role::app, "root", {"unpair", "no-such-token"}).standardOutput, "ok\n");
  const auto file = daemon.stateDirectory() / PairingStore::kFileName;
  const struct stat directory = statusOf(daemon.stateDirectory());
  const struct stat pairings = statusOf(file);
  EXPECT_EQ(directory.st_mode & 07777, 0700u);
  EXPECT_EQ(directory.st_uid, 0u);
  EXPECT_TRUE(S_ISREG(pairings.st_mode));
  EXPECT_EQ(pairings.st_mode & 07777, 0600u);
  EXPECT_EQ(pairings.st_uid, 0u);

  auto read = runAs(kStranger, "/bin/cat", {file.string()});
  EXPECT_NE(read.exitCode, 0);
  EXPECT_NE(read.standardError.find(kPermissionDenied), std::string::npos) << read.standardError;
  auto list = runAs(kStranger, "/bin/ls", {daemon.stateDirectory().string()});
  EXPECT_NE(list.exitCode, 0);
  EXPECT_NE(list.standardError.find(kPermissionDenied), std::string::npos) << list.standardError;
}

// Planting a link needs write access to a root-only directory, so this is
// the last line of defence: were a link there, it must not decide who is
// paired, nor redirect the daemon's writes.
TEST_F(HostileLocalUsers, ALinkInPlaceOfThePairingFileIsNeitherTrustedNorWrittenThrough) {
  DaemonHarness daemon;
  // The lure: a well-formed pairing file that pairs the stranger, owned by
  // the stranger, who knows its token.
  testing::TempDir scratch;
  PairingStore forged({.directory = scratch.path()});
  const std::string token = forged.pair(65534).value();
  const auto lure = daemon.base() / "lure.plist";
  std::filesystem::copy_file(forged.fileURL(), lure);
  ASSERT_EQ(::chown(lure.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(lure.c_str(), 0644), 0);
  const std::string lureContent = testing::readText(lure);
  std::filesystem::create_directory(daemon.stateDirectory());
  ::chmod(daemon.stateDirectory().c_str(), 0700);
  const auto file = daemon.stateDirectory() / PairingStore::kFileName;
  std::filesystem::create_symlink(lure, file);
  ASSERT_TRUE(daemon.start());

  EXPECT_EQ(appStatus(daemon, kStranger, token), "paired=0 version=0.1.0 protocol=1\n")
      << "the daemon paired a token from a file it reached through a link";
  ASSERT_EQ(daemon.run(Role::app, "root", {"unpair", "no-such-token"}).standardOutput, "ok\n");
  EXPECT_EQ(testing::readText(lure), lureContent) << "the save wrote through the link";
  EXPECT_EQ(statusOf(lure).st_uid, 65534u) << "the save changed the owner of the link's target";
  EXPECT_EQ(statusOf(lure).st_mode & 07777, 0644u);
  const struct stat replaced = statusOf(file);
  EXPECT_TRUE(S_ISREG(replaced.st_mode)) << "the link should have been replaced by the daemon's own file";
  EXPECT_EQ(replaced.st_uid, 0u);
  EXPECT_EQ(replaced.st_mode & 07777, 0600u);
  auto bytes = files::readFile(file, PairingStore::kMaxFileBytes);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(PairingStore::decode(*bytes), std::vector<PairingStore::Pairing>{});
}

TEST_F(HostileLocalUsers, ALinkPlantedInTheRuntimeDirectoryIsRefusedAndItsTargetKept) {
  DaemonHarness daemon;
  const auto runtime = ipc::runtimeDirectory();
  const struct stat directory = statusOf(runtime);
  EXPECT_EQ(directory.st_uid, 0u);
  EXPECT_EQ(directory.st_mode & 022, 0u) << "only root may create names in the runtime directory";
  auto planted = runAs(kStranger, "/bin/ln", {"-s", "/etc/passwd", (runtime / "planted").string()});
  EXPECT_NE(planted.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(runtime / "planted")));

  // Were one there anyway, binding must neither follow nor replace it.
  const auto victim = daemon.base() / "victim";
  testing::writeText(victim, "precious");
  ::chmod(victim.c_str(), 0600);
  const auto socket = ipc::servicePath(AdminConstants::appServiceName());
  std::filesystem::create_symlink(victim, socket);
  EXPECT_FALSE(daemon.start()) << "the daemon served on a path that was a link";
  EXPECT_FALSE(daemon.stop()) << "it should have exited with an error";
  EXPECT_NE(daemon.log().find("cannot serve"), std::string::npos) << daemon.log();
  EXPECT_TRUE(std::filesystem::is_symlink(socket));
  EXPECT_EQ(testing::readText(victim), "precious");
  EXPECT_EQ(statusOf(victim).st_mode & 07777, 0600u) << "the socket's mode went to the link's target";
}

TEST_F(HostileLocalUsers, CannotReachTheControlServiceWithAnUnregisteredExecutable) {
  DaemonHarness daemon;
  // A root-owned copy of the console that is registered, but then made
  // writable by others: anyone could have changed it since.
  const auto loosened = daemon.install(BCN_E2E_CLIENT, Role::console, "loosened-console");
  ASSERT_EQ(::chmod(loosened.c_str(), 0777), 0);
  // The stranger's own copy of the registered console program.
  const auto drop = daemon.base() / "drop";
  std::filesystem::create_directory(drop);
  ::chmod(drop.c_str(), 01777);
  const auto own = drop / "console";
  ASSERT_EQ(runAs(kStranger, "/bin/cp", {(daemon.base() / "console-client").string(), own.string()}).exitCode, 0);
  ASSERT_TRUE(daemon.start());

  for (const auto& program : {daemon.base() / "stranger-client", own, loosened}) {
    auto pending = runAs(kStranger, program, {"pending"});
    EXPECT_EQ(pending.exitCode, 1) << program << ": " << pending.standardOutput;
    EXPECT_NE(pending.standardOutput.find("error="), std::string::npos) << program;
    EXPECT_EQ(runAs(kStranger, program, {"deny", "00000000-0000-0000-0000-000000000000"}).exitCode, 1) << program;
  }
  // The same user with the registered program is served.
  auto served = daemon.run(Role::console, kStranger, {"control-status"});
  EXPECT_EQ(served.standardOutput, "version=0.1.0 protocol=1\n") << served.standardError;
}

TEST_F(HostileLocalUsers, CannotListOrDecideAnotherUsersRequest) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  const std::string owner = "daemon";  // any account other than the stranger
  auto pairing = pairInBackground(daemon, owner);
  const std::string id = requestOf(daemon, owner);
  ASSERT_FALSE(id.empty());

  EXPECT_EQ(daemon.run(Role::console, kStranger, {"pending"}).standardOutput, "");
  EXPECT_EQ(daemon.run(Role::console, kStranger, {"deny", id}).standardOutput, kWrongUser + "\n");
  if (polkitAvailable()) {
    // An administrator holding the right still may not decide for another user.
    EXPECT_EQ(daemon.run(Role::console, "bcn-polkit-yes", {"approve", id}).standardOutput, kWrongUser + "\n");
  }
  EXPECT_EQ(requestOf(daemon, owner), id) << "the owner's request must be untouched";
  EXPECT_EQ(daemon.run(Role::console, owner, {"deny", id}).standardOutput, "ok\n");
  EXPECT_EQ(DaemonHarness::field(pairing.get(), "error"), "4 Administrator authorization failed");
}

TEST_F(HostileLocalUsers, CannotApproveWithAForgedOrReplayedAuthorization) {
  if (!polkitAvailable()) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  const std::string admin = "bcn-polkit-yes";
  const std::string attacker = "bcn-polkit-no";
  DaemonHarness daemon;
  const auto console = daemon.install(BCN_LOAD_PEER, Role::console, "load-console");
  ASSERT_TRUE(daemon.start());
  auto adminPairing = pairInBackground(daemon, admin);
  const std::string adminRequest = requestOf(daemon, admin);
  auto attackerPairing = pairInBackground(daemon, attacker);
  const std::string attackerRequest = requestOf(daemon, attacker);
  ASSERT_FALSE(adminRequest.empty());
  ASSERT_FALSE(attackerRequest.empty());

  // The administrator's console holds a genuine authorization.
  auto victim = startAs(admin, console, {"authorize-hold", "--approve", adminRequest});
  const std::string held = victim->readUntil("\n", 30s);
  ASSERT_EQ(held.rfind("form=", 0), 0u) << held;
  const std::string form = held.substr(5, held.find('\n') - 5);
  const std::string forgedForVictim =
      DaemonHarness::field(runAs(attacker, console, {"form-naming", "--pid", std::to_string(victim->pid())}), "form");
  ASSERT_EQ(forgedForVictim.size(), 64u);

  struct Attempt {
    std::string user, form, request, what;
  };
  const std::vector<Attempt> attempts{
      {attacker, form, attackerRequest, "the administrator's form replayed by another user"},
      {admin, form, adminRequest, "the administrator's form replayed by another process of the same user"},
      {attacker, forgedForVictim, attackerRequest, "a form forged to name the administrator's console"},
      {attacker, "self", attackerRequest, "a form naming a process without the right"},
      {attacker, std::string(64, '7'), attackerRequest, "32 bytes of nonsense"},
      {attacker, form.substr(0, 62), attackerRequest, "a form one byte short"},
  };
  for (const auto& attempt : attempts) {
    auto sent = runAs(attempt.user, console, {"send-form", "--form", attempt.form, "--approve", attempt.request});
    EXPECT_EQ(sent.standardOutput, kAuthorizationFailed + "\n") << attempt.what;
  }
  auto revoke = runAs(attacker, console, {"send-form", "--form", form, "--unpair-all"});
  EXPECT_EQ(revoke.standardOutput, kAuthorizationFailed + "\n") << "revoking every pairing with a replayed form";
  EXPECT_EQ(requestOf(daemon, admin), adminRequest);
  EXPECT_EQ(requestOf(daemon, attacker), attackerRequest);

  // The form does what it should for its owner, on its owner's connection.
  ::kill(victim->pid(), SIGUSR1);
  EXPECT_NE(victim->readUntil("approve=", 30s).find("approve=ok"), std::string::npos);
  EXPECT_EQ(victim->wait(), 0);
  const std::string token = DaemonHarness::field(adminPairing.get(), "token");
  EXPECT_EQ(token.size(), 44u);
  // Once its process is gone, the form is worth nothing to anyone. (The
  // administrator has no request left, and another user's is refused as
  // such before any form is looked at, so the attacker tries it.)
  EXPECT_EQ(runAs(attacker, console, {"send-form", "--form", form, "--approve", attackerRequest}).standardOutput,
            kAuthorizationFailed + "\n");
  EXPECT_EQ(appStatus(daemon, admin, token), "paired=1 version=0.1.0 protocol=1\n");
  EXPECT_EQ(daemon.run(Role::console, attacker, {"deny", attackerRequest}).standardOutput, "ok\n");
  attackerPairing.get();
}

TEST_F(HostileLocalUsers, CannotExhaustTheDaemonWithConnections) {
  DaemonHarness daemon;
  const auto app = daemon.install(BCN_LOAD_PEER, Role::app, "load-app");
  ASSERT_TRUE(daemon.start());
  ASSERT_EQ(appStatus(daemon, kStranger), "paired=0 version=0.1.0 protocol=1\n");
  // That connection counts against the stranger until the daemon has seen
  // it close, which on a loaded machine can take a while after the client
  // exited; flooding sooner would find one place taken.
  ASSERT_TRUE(load::connectionsGone(daemon.pid(), 30s));
  const std::size_t baseline = load::openDescriptors(daemon.pid()).value_or(0);

  const std::size_t attempts = kConnectionsPerUser + 8;
  auto flood = startAs(kStranger, app, {"flood", "--count", std::to_string(attempts)});
  const std::string counts = flood->readUntil("holding", 60s);
  EXPECT_NE(counts.find("served=" + std::to_string(kConnectionsPerUser) + "\nrefused=8\nother=0\n"), std::string::npos)
      << counts;
  EXPECT_NE(counts.find("refusal=11 NSPOSIXErrorDomain Too many connections from this user"), std::string::npos)
      << counts;
  EXPECT_LE(load::openDescriptors(daemon.pid()).value_or(0), baseline + 2 * kConnectionsPerUser)
      << "refused connections must not keep descriptors";

  // The limit counts both services; the typed client reports the refusal.
  auto refused = daemon.run(Role::console, kStranger, {"control-status"});
  EXPECT_EQ(refused.standardOutput, "error=11 Too many connections from this user; close one and try again.\n");
  // Everyone else is served meanwhile.
  EXPECT_EQ(appStatus(daemon, "daemon"), "paired=0 version=0.1.0 protocol=1\n");
  EXPECT_EQ(appStatus(daemon, "root"), "paired=0 version=0.1.0 protocol=1\n");

  flood->kill();
  EXPECT_TRUE(load::connectionsGone(daemon.pid(), 30s));
  EXPECT_EQ(load::openDescriptors(daemon.pid()), baseline);
  EXPECT_EQ(appStatus(daemon, kStranger), "paired=0 version=0.1.0 protocol=1\n") << "the limit must free up again";
}

}  // namespace
}  // namespace bcn
