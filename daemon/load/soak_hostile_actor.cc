#include "daemon/load/soak_hostile_actor.h"

#include <signal.h>

#include <fstream>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/load/peer_as_user.h"
#include "daemon/listener.h"
#include "platform/ipc/testing/child_peer.h"
#include "platform/subprocess.h"

namespace bcn::load {

using namespace std::chrono_literals;
using testing::DaemonHarness;

void HostileActor::measure(const std::string& attack) {
  auto probe = runProcess(DaemonHarness::commandAs(options_.bystander, options_.appPeer, {"probe", "--count", "10"}),
                          {.timeout = 180s})
                   .value_or(ProcessResult{});
  const double p99 = reportedNumber(probe.standardOutput, "p99_ms");
  worstP99_ = std::max(worstP99_, p99);
  ++counts_["bystander probes"];
  if (probe.exitCode != 0 || p99 < 0 || p99 >= options_.boundMs) {
    failures_.push_back("bystander during " + attack + ":\n" + probe.standardOutput);
  }
}

void HostileActor::runCycle() {
  const std::string connections = std::to_string(kConnectionsPerUser);
  {
    auto flood = startAs(options_.attacker, options_.appPeer,
                         {"scan-flood", "--connections", connections, "--depth", "4", "--seconds", "30"});
    if (flood->readUntil("flooding", 60s).find("flooding") == std::string::npos) {
      failures_.push_back("scan flood did not start");
    }
    measure("a scan flood");
    flood->kill();
    ++counts_["scan floods"];
  }
  {
    auto queued =
        startAs(options_.attacker, options_.appPeer, {"queue-close", "--connections", connections, "--calls", "20"});
    if (queued->readUntil("closed", 60s).find("closed") == std::string::npos) {
      failures_.push_back("queue-then-close did not run");
    }
    measure("queue-then-close");
    queued->kill();
    ++counts_["queue-then-close"];
  }
  {
    const std::size_t uids = 2 * kConnectionsPerUser;
    auto flood = startAs(options_.attacker, options_.appPeer,
                         {"ns-flood", "--count", std::to_string(uids), "--uids", std::to_string(uids)});
    if (flood->readUntil("unshared", 60s).find("unshared") == std::string::npos) {
      failures_.push_back("ns-flood could not make a user namespace");
      return;
    }
    std::ofstream("/proc/" + std::to_string(flood->pid()) + "/uid_map")
        << "1 " << options_.namespaceBase + 1 << " " << uids << "\n";
    ::kill(flood->pid(), SIGUSR1);
    const std::string counts = flood->readUntil("holding", 120s);
    const double served = reportedNumber(counts, "served");
    if (served < 0 || served > static_cast<double>(kConnectionsPerUser)) {
      failures_.push_back("a user namespace held more than one user's connections:\n" + counts);
    }
    measure("a user-namespace connection flood");
    flood->kill();
    ++counts_["namespace floods"];
  }
}

}  // namespace bcn::load
