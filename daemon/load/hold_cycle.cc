#include "daemon/load/hold_cycle.h"

#include <signal.h>

#include "platform/ipc/testing/child_peer.h"
#include "platform/subprocess.h"

namespace bcn::load {

using namespace std::chrono_literals;

HoldCycleResult runHoldCycle(const HoldCycle& cycle, const std::function<void()>& whileHeld) {
  HoldCycleResult result;
  ipc::testing::ChildPeer holder(cycle.appPeer.string(),
                                 {"hold", "--count", std::to_string(cycle.count), "--uid-base",
                                  std::to_string(cycle.uidBase), "--denied", std::to_string(cycle.denied)});
  const std::string held = holder.readUntil("ready\n", 120s);
  result.output = held;
  result.held = held.find("held=" + std::to_string(cycle.count) + "\nearly=0\n") != std::string::npos;
  if (!result.held) return result;
  if (whileHeld) whileHeld();

  auto deny = runProcess({cycle.consolePeer.string(), "deny", "--count", std::to_string(cycle.denied), "--uid-base",
                          std::to_string(cycle.uidBase)},
                         {.timeout = 120s})
                  .value_or(ProcessResult{});
  result.output += deny.standardOutput + deny.standardError;
  result.denied =
      deny.exitCode == 0 && deny.standardOutput == "denied=" + std::to_string(cycle.denied) + "\nfailures=0\n";

  ::kill(holder.pid(), SIGUSR1);
  const std::string released = holder.readUntil("done\n", 60s);
  result.output = released + deny.standardOutput + deny.standardError;
  const std::string expected = "denials=" + std::to_string(cycle.denied) +
                               "\nsilent=" + std::to_string(cycle.count - cycle.denied) +
                               "\nwrong=0\nduplicates=0\nunexpected=0";
  result.released = holder.wait() == 0 && released.find(expected) != std::string::npos;
  return result;
}

}  // namespace bcn::load
