// Local users against the real daemon's decoders: property lists whose
// shared objects expand to millions of nodes or gigabytes, sent as calls
// and shipped as a bundle's Info.plist beside a tun device. What is checked
// is what another user sees meanwhile (their calls answered promptly), and
// that the daemon stays up with its memory near where it started.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/load/process_usage.h"
#include "netcore/shim/testing/held_process.h"
#include "platform/files.h"
#include "platform/testing/plist_bombs.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::DaemonHarness;
using Role = DaemonHarness::Role;

const std::string kAttacker = "nobody";
const std::string kVictim = "daemon";
constexpr uid_t kAttackerUID = 65534;

// Another user's calls, made one after another while the attack runs.
// Under the old decoder they waited 48 s behind eight 205-byte frames, and
// a 510 KB frame took the daemon down; two seconds is generous for a
// sanitizer build on two shared cores.
constexpr double kVictimBoundMs = 2000;
// The daemon's peak resident memory may grow by this much over its
// baseline: the frames themselves pass through it (and the sanitizer keeps
// freed blocks a while), the expansions never. The old decoder reached
// 3.5 GB.
constexpr std::size_t kPeakGrowthBytes = 192u << 20;

double number(const ProcessResult& result, const std::string& key) {
  const std::string text = DaemonHarness::field(result, key);
  return text.empty() ? -1 : std::stod(text);
}

// VmHWM: the most memory the process has held resident at once.
std::size_t peakResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return load::parseResidentBytes("VmRSS:" + line.substr(6)).value_or(0);
  }
  return 0;
}

class HostileDecoding : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and clients as other users";
  }

  // The victim's calls for `seconds`, as `kVictim`, in the background.
  std::future<ProcessResult> victim(const DaemonHarness& daemon, const std::filesystem::path& peer, int seconds,
                                    bool tunnels = false) {
    std::vector<std::string> args{"victim", "--seconds", std::to_string(seconds)};
    if (tunnels) args.push_back("--tunnels");
    return std::async(std::launch::async, [&daemon, peer, args] {
      return daemon.runProgram(peer, kVictim, args, {}, 180s);
    });
  }

  static void expectVictimServed(const ProcessResult& result, const std::string& what) {
    EXPECT_EQ(result.exitCode, 0) << what << "\n" << result.standardOutput << result.standardError;
    EXPECT_EQ(DaemonHarness::field(result, "lost"), "0") << what;
    EXPECT_GT(number(result, "calls"), 10) << what;
    EXPECT_LT(number(result, "max_ms"), kVictimBoundMs) << what << "\n" << result.standardOutput;
  }
};

// One shape per run, so each shows its own victim figures: 16 frames, 8
// connections at a time, while another user makes status calls.
class ExpansionBombOverIpc : public HostileDecoding, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExpansionBombOverIpc, IsRefusedWhileOthersAreServed) {
  const std::string shape = GetParam();
  DaemonHarness daemon;
  const auto peer = daemon.install(BCN_LOAD_PEER, Role::app, "load-app");
  ASSERT_TRUE(daemon.start());
  ASSERT_EQ(DaemonHarness::field(daemon.runProgram(peer, kVictim, {"victim", "--seconds", "1"}), "lost"), "0");
  const std::size_t baseline = load::residentBytes(daemon.pid()).value_or(0);
  ASSERT_GT(baseline, 0u);

  auto served = victim(daemon, peer, 6);
  std::this_thread::sleep_for(300ms);
  auto attack = daemon.runProgram(peer, kAttacker, {"bomb", "--shape", shape, "--frames", "16", "--parallel", "8"},
                                  {}, 150s);
  EXPECT_EQ(DaemonHarness::field(attack, "closed"), "16") << "every bomb ends its connection\n"
                                                        << attack.standardOutput << attack.standardError;
  const ProcessResult result = served.get();
  std::printf("%s victim: %s", shape.c_str(), result.standardOutput.c_str());
  ASSERT_TRUE(load::residentBytes(daemon.pid())) << "the daemon went down\n" << daemon.log();
  expectVictimServed(result, "status calls during the " + shape + " bombs");

  const std::size_t peak = peakResidentBytes(daemon.pid());
  const std::size_t after = load::residentBytes(daemon.pid()).value_or(SIZE_MAX);
  std::printf("%s daemon rss: baseline %zu KiB, peak %zu KiB, after %zu KiB\n", shape.c_str(), baseline >> 10,
              peak >> 10, after >> 10);
  EXPECT_LT(peak, baseline + kPeakGrowthBytes);
  EXPECT_LT(after, baseline + kPeakGrowthBytes) << "memory did not come back";
  EXPECT_EQ(DaemonHarness::field(daemon.runProgram(peer, kVictim, {"victim", "--seconds", "1"}), "lost"), "0");
}

INSTANTIATE_TEST_SUITE_P(Shapes, ExpansionBombOverIpc,
                         ::testing::Values("pairs", "string", "nested", "values", "keys"),
                         [](const auto& info) { return std::string(info.param); });

// A process of `uid` running `program` from inside its bundle, holding tun
// interface `name`. The interface lives in a network namespace of its own,
// so the host's links are untouched; the daemon finds its owner through
// the process table all the same.
class BundleTunnelHolder {
 public:
  BundleTunnelHolder(const std::string& name, const std::filesystem::path& program, uid_t uid) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::close(ready[0]);
      if (::unshare(CLONE_NEWNET) != 0) _exit(10);
      const auto fd = testing::openTunnel(name);
      if (!fd) _exit(11);
      if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) _exit(12);
      const char* argv[] = {program.c_str(), "600", nullptr};
      ::execv(argv[0], const_cast<char**>(argv));
      _exit(13);
    }
    ::close(ready[1]);
    char byte;
    while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
  }
  ~BundleTunnelHolder() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  BundleTunnelHolder(const BundleTunnelHolder&) = delete;
  BundleTunnelHolder& operator=(const BundleTunnelHolder&) = delete;

  // True once the holder runs the program, not the copy of this test.
  bool running(const std::filesystem::path& program) const {
    std::error_code error;
    return pid_ > 0 && std::filesystem::read_symlink("/proc/" + std::to_string(pid_) + "/exe", error) == program;
  }

 private:
  pid_t pid_ = -1;
};

// `name`.app in `parent`, owned by the attacker, whose Info.plist is
// `info` and whose program is a copy of sleep.
std::filesystem::path attackersBundle(const std::filesystem::path& parent, const std::string& name,
                                      const std::vector<std::uint8_t>& info) {
  const auto bundle = parent / (name + ".app");
  std::filesystem::create_directories(bundle / "Contents/MacOS");
  testing::writeText(bundle / "Contents/Info.plist", std::string(info.begin(), info.end()));
  const auto program = bundle / "Contents/MacOS/agent";
  std::filesystem::copy_file("/bin/sleep", program);
  for (const auto& part : {bundle, bundle / "Contents", bundle / "Contents/MacOS", bundle / "Contents/Info.plist",
                           program}) {
    ::chown(part.c_str(), kAttackerUID, kAttackerUID);
    ::chmod(part.c_str(), std::filesystem::is_directory(part) || part == program ? 0755 : 0644);
  }
  return program;
}

// An Info.plist that names its bundle and hides `bomb`'s expansion beside
// the name: a lenient reader believes the name after building it all.
std::vector<std::uint8_t> namingInfoWith(bool pairs) {
  testing::BinaryPlistBuilder b;
  std::size_t padding = 0;
  if (pairs) {
    padding = b.integer(1);
    for (int i = 0; i < 20; ++i) padding = b.array({padding, padding});  // two million nodes
  } else {
    const std::size_t text = b.ascii(std::string(60'000, 'x'));
    padding = b.array(std::vector<std::size_t>(1000, text));  // 60 MB
  }
  return b.build(b.dictionary({b.ascii("CFBundleName"), b.ascii("Padding")}, {b.ascii("Named by the bomb"), padding}));
}

TEST_F(HostileDecoding, AnInfoPlistBombBesideATunDoesNotStallOtherUsersTunnelLists) {
  if (!std::filesystem::exists("/dev/net/tun")) GTEST_SKIP() << "needs /dev/net/tun";
  DaemonHarness daemon;
  const auto peer = daemon.install(BCN_LOAD_PEER, Role::app, "load-app");
  const auto apps = daemon.base() / "apps";
  std::filesystem::create_directory(apps);
  ::chmod(apps.c_str(), 0755);
  const std::string suffix = std::to_string(::getpid() % 100000);
  const auto pairsProgram = attackersBundle(apps, "Pairs", namingInfoWith(true));
  const auto textProgram = attackersBundle(apps, "Text", namingInfoWith(false));
  BundleTunnelHolder pairs("bcnbp" + suffix, pairsProgram, kAttackerUID);
  BundleTunnelHolder text("bcnbt" + suffix, textProgram, kAttackerUID);
  ASSERT_TRUE(pairs.running(pairsProgram) && text.running(textProgram)) << "the holders did not start";
  ASSERT_TRUE(daemon.start());
  const std::size_t baseline = load::residentBytes(daemon.pid()).value_or(0);

  const ProcessResult result = victim(daemon, peer, 8, /*tunnels=*/true).get();
  std::printf("victim: %s", result.standardOutput.c_str());
  expectVictimServed(result, "tunnel lists with bombs in two bundles");
  // The scans did reach the attacker's bundles, and named them by their
  // folders, not by what the bombs say.
  EXPECT_NE(result.standardOutput.find("tunnel=bcnbp" + suffix + " Pairs\n"), std::string::npos);
  EXPECT_NE(result.standardOutput.find("tunnel=bcnbt" + suffix + " Text\n"), std::string::npos);

  const std::size_t peak = peakResidentBytes(daemon.pid());
  std::printf("daemon rss: baseline %zu KiB, peak %zu KiB\n", baseline >> 10, peak >> 10);
  EXPECT_LT(peak, baseline + kPeakGrowthBytes);
}

}  // namespace
}  // namespace bcn
