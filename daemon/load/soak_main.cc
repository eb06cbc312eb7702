// beaconbar-soak: runs the real daemon for a given time under a mixed,
// randomized client population and checks that it comes out as it went in.
//
//   beaconbar-soak [--duration SECONDS] [--seed N] [--clients N]
//
// Needs root. The daemon runs in a private network namespace with veth
// links, a network-preferences file naming them and a tun interface held
// by a helper process, in private state, runtime and configuration
// directories. Three populations run at once until the time is up:
//   - raw clients (bcn-load-peer mix): status, tunnel scans, unpairing of
//     unknown tokens, pipelined calls, disconnects mid-call, malformed
//     frames; every well-formed call answered once within 30 s (the soak
//     is about correctness over time, on machines that may be busy), every
//     bad frame refused;
//   - held waits (bcn-load-peer hold/deny): users waiting on requests,
//     half denied by their consoles, half dropped mid-wait;
//   - a hostile user (soak_hostile_actor.h) cycling through scan floods,
//     queue-then-close and user-namespace connection floods, while a
//     bystander's status calls must stay answered within 5 s;
//   - the pairing actor (soak_pairing_actor.h): approvals through polkit
//     (with BCN_POLKIT_TEST set, as scripts/test.sh does), refusals,
//     denials, abandoned waits, unpairing, service switches, tunnel scans,
//     with the pairing file and the daemon's answers checked after each.
// A watcher reads the pairing file throughout. At the end: the daemon is
// still running and stops cleanly, its descriptors are back at the baseline
// and its memory near it, and no request is left open.
//
// Prints a summary; exits 0 when every check held, 1 otherwise, 2 on bad
// usage or when the environment cannot be set up.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/load/hold_cycle.h"
#include "daemon/load/pairing_file_watcher.h"
#include "daemon/load/process_usage.h"
#include "daemon/load/soak_hostile_actor.h"
#include "daemon/load/soak_pairing_actor.h"
#include "netcore/shim/testing/held_process.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "platform/plist.h"

namespace {

using namespace bcn;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DaemonHarness;

struct Settings {
  std::chrono::seconds duration{60};
  std::uint64_t seed = 0;
  std::size_t clients = 100;
};

// Everything the populations report, shared between their threads.
class Tally {
 public:
  void add(const std::string& key, std::size_t n) {
    std::lock_guard guard(mutex_);
    counts_[key] += n;
  }
  void failure(std::string what) {
    std::lock_guard guard(mutex_);
    failures_.push_back(std::move(what));
  }
  // Adds every "key=number" line of a peer's report under `prefix`.
  void addReport(const std::string& prefix, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
      const auto end = std::min(text.find('\n', at), text.size());
      const std::string line = text.substr(at, end - at);
      const auto equals = line.find('=');
      if (equals != std::string::npos && line.find_first_not_of("0123456789", equals + 1) == std::string::npos) {
        add(prefix + line.substr(0, equals), std::stoull(line.substr(equals + 1)));
      }
      at = end + 1;
    }
  }
  std::map<std::string, std::size_t> counts() const {
    std::lock_guard guard(mutex_);
    return counts_;
  }
  std::vector<std::string> failures() const {
    std::lock_guard guard(mutex_);
    return failures_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::size_t> counts_;
  std::vector<std::string> failures_;
};

// The preferences file: one service per link, all in the current set.
std::string preferencesFor(const std::vector<load::PairingActor::Service>& services) {
  PlistDictionary members, definitions;
  for (const auto& s : services) {
    members.set(s.id, PlistDictionary{{"__LINK__", "/NetworkServices/" + s.id}});
    definitions.set(s.id,
                    PlistDictionary{{"UserDefinedName", "Soak " + s.link},
                                    {"Interface", PlistDictionary{{"DeviceName", s.link}, {"Type", "Ethernet"}}}});
  }
  const PlistDictionary document{
      {"CurrentSet", "/Sets/S"},
      {"Sets", PlistDictionary{{"S", PlistDictionary{{"Network", PlistDictionary{{"Service", members}}}}}}},
      {"NetworkServices", definitions}};
  return encodeXmlPlist(document).value();
}

void runMixes(const std::filesystem::path& peer, const Settings& settings, Clock::time_point until, Tally& tally) {
  for (std::uint64_t slice = 1; Clock::now() + 1s < until; ++slice) {
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(until - Clock::now());
    const auto seconds = std::min<std::chrono::seconds>(left, 10s);
    auto mixed = runProcess({peer.string(), "mix", "--seconds", std::to_string(seconds.count()), "--clients",
                             std::to_string(settings.clients), "--uid-base", "70000", "--uids", "40", "--seed",
                             std::to_string(settings.seed + slice), "--reply-limit", "30"},
                            {.timeout = seconds + 120s})
                     .value_or(ProcessResult{});
    tally.add("mix slices", 1);
    tally.addReport("mix ", mixed.standardOutput);
    if (mixed.exitCode != 0) tally.failure("mix slice " + std::to_string(slice) + ":\n" + mixed.standardOutput);
  }
}

void runHostile(load::HostileActor& actor, Clock::time_point until, Tally& tally) {
  while (Clock::now() + 5s < until) actor.runCycle();
  for (const auto& [name, count] : actor.counts()) tally.add("hostile " + name, count);
  for (const auto& failure : actor.failures()) tally.failure("hostile: " + failure);
}

void runHolds(const load::HoldCycle& cycle, Clock::time_point until, Tally& tally) {
  while (Clock::now() + 2s < until) {
    const auto result = load::runHoldCycle(cycle);
    tally.add("hold cycles", 1);
    tally.add("held waits", cycle.count);
    if (!result.ok()) tally.failure("hold cycle:\n" + result.output);
    std::this_thread::sleep_for(500ms);
  }
}

int soak(const Settings& settings) {
  const bool polkit = std::getenv("BCN_POLKIT_TEST") != nullptr;
  testing::ScopedNetNamespace ns;
  if (!ns.ok()) return std::fprintf(stderr, "beaconbar-soak: cannot make a network namespace\n"), 2;
  std::vector<load::PairingActor::Service> services;
  for (int i = 0; i < 3; ++i) {
    const std::string link = testing::uniqueLinkName("soak");
    if (!testing::addVethPair(link)) return std::fprintf(stderr, "beaconbar-soak: cannot add %s\n", link.c_str()), 2;
    services.push_back({"SVC" + std::to_string(i), link});
  }
  const std::string tunnel = testing::uniqueLinkName("soakt");
  auto tunnelHolder = testing::HeldProcess::holdTunnel(tunnel);
  if (!tunnelHolder) return std::fprintf(stderr, "beaconbar-soak: %s\n", tunnelHolder.error().c_str()), 2;

  load::ScopedAsanQuarantine quarantine;
  DaemonHarness daemon;
  const auto appPeer = daemon.install(BCN_LOAD_PEER, DaemonHarness::Role::app, "load-app");
  const auto consolePeer = daemon.install(BCN_LOAD_PEER, DaemonHarness::Role::console, "load-console");
  testing::writeText(daemon.configurationDirectory() / "network-preferences.plist", preferencesFor(services));
  if (!daemon.start())
    return std::fprintf(stderr, "beaconbar-soak: the daemon did not start:\n%s", daemon.log().c_str()), 2;

  Tally tally;
  load::PairingActor actor(daemon, {.polkit = polkit,
                                    .consolePeer = consolePeer,
                                    .services = services,
                                    .tunnel = tunnel,
                                    .tunnelOwner = tunnelHolder->pids().front(),
                                    .seed = settings.seed});
  const load::HoldCycle cycle{
      .appPeer = appPeer, .consolePeer = consolePeer, .count = 200, .denied = 100, .uidBase = 90'000};

  const pid_t pid = daemon.pid();
  std::size_t peakDescriptors = 0;
  // Resident memory every half minute: a leak climbs steadily, while the
  // allocator's pools level off.
  std::vector<std::size_t> memorySamples;
  double worstBystanderMs = 0;  // written by the hostile thread, read after the joins
  auto nextSample = Clock::now();
  // Every population at once until `until`.
  auto populate = [&](Clock::time_point until) {
    std::thread mixes([&] { runMixes(appPeer, settings, until, tally); });
    std::thread holds([&] { runHolds(cycle, until, tally); });
    std::thread hostile([&] {
      load::HostileActor attacker({.appPeer = appPeer, .attacker = "71000", .bystander = "71001"});
      runHostile(attacker, until, tally);
      worstBystanderMs = std::max(worstBystanderMs, attacker.worstP99());
    });
    while (Clock::now() < until) {
      actor.step();
      peakDescriptors = std::max(peakDescriptors, load::openDescriptors(pid).value_or(0));
      if (Clock::now() >= nextSample) {
        memorySamples.push_back(load::residentBytes(pid).value_or(0) >> 10);
        nextSample = Clock::now() + 30s;
      }
    }
    mixes.join();
    holds.join();
    hostile.join();
  };

  // A warm-up of the same shape, so that the baseline includes every pool
  // and cache the run fills.
  populate(Clock::now() + 10s);
  const std::size_t baseDescriptors = load::descriptorsSettledAt(pid, 0, 2s).value_or(0);
  const std::size_t baseMemory = load::residentBytes(pid).value_or(0);

  const auto started = Clock::now();
  {
    load::PairingFileWatcher watcher(daemon.stateDirectory() / "pairings.plist");
    populate(started + settings.duration);
    tally.add("file reads", watcher.reads());
    if (watcher.bad() != 0) tally.failure(std::to_string(watcher.bad()) + " reads found the pairing file unusable");
  }
  actor.checkPairings();
  for (const auto& [name, count] : actor.operations()) tally.add("actor " + name, count);
  for (const auto& failure : actor.failures()) tally.failure("actor: " + failure);

  const auto descriptors = load::descriptorsSettledAt(pid, baseDescriptors, 15s).value_or(0);
  const std::size_t memory = load::residentBytes(pid).value_or(0);
  if (descriptors != baseDescriptors) {
    tally.failure("descriptors: " + std::to_string(descriptors) + " after, " + std::to_string(baseDescriptors) +
                  " before");
  }
  const std::size_t allowance = std::max<std::size_t>(baseMemory / 4, 32u << 20);
  if (memory > baseMemory + allowance) {
    tally.failure("resident memory grew from " + std::to_string(baseMemory >> 10) + " KiB to " +
                  std::to_string(memory >> 10) + " KiB");
  }
  for (const std::string uid : {"90001", "90150", "70003"}) {
    auto listed = runProcess(DaemonHarness::commandAs(uid, daemon.base() / "console-client", {"pending"}))
                      .value_or(ProcessResult{});
    if (listed.exitCode != 0 || !listed.standardOutput.empty()) tally.failure("uid " + uid + " has open requests");
  }
  if (!daemon.stop()) tally.failure("the daemon crashed or did not stop cleanly:\n" + daemon.log());
  const std::string log = daemon.log();
  if (log.find("Sanitizer") != std::string::npos || log.find("runtime error") != std::string::npos) {
    tally.failure("sanitizer report from the daemon:\n" + log);
  }

  const auto ran = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started);
  std::printf("soak: %llds with seed %llu, polkit %s\n", static_cast<long long>(ran.count()),
              static_cast<unsigned long long>(settings.seed), polkit ? "on" : "off");
  for (const auto& [key, count] : tally.counts()) std::printf("  %s: %zu\n", key.c_str(), count);
  std::printf("  descriptors: %zu before, %zu at peak, %zu after\n", baseDescriptors, peakDescriptors, descriptors);
  std::printf("  resident memory: %zu KiB before, %zu KiB after\n", baseMemory >> 10, memory >> 10);
  std::printf("  bystander p99 under attack, worst: %.1f ms\n", worstBystanderMs);
  std::printf("  resident memory every 30 s (KiB):");
  for (std::size_t sample : memorySamples) std::printf(" %zu", sample);
  std::printf("\n");
  const auto failures = tally.failures();
  for (const auto& failure : failures) std::printf("FAILED: %s\n", failure.c_str());
  std::printf("soak %s\n", failures.empty() ? "passed" : "FAILED");
  return failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  settings.seed = static_cast<std::uint64_t>(::time(nullptr));
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::uint64_t value = std::strtoull(argv[i + 1], nullptr, 10);
    if (name == "--duration") {
      settings.duration = std::chrono::seconds(value);
    } else if (name == "--seed") {
      settings.seed = value;
    } else if (name == "--clients") {
      settings.clients = value;
    } else {
      return std::fprintf(stderr, "usage: beaconbar-soak [--duration S] [--seed N] [--clients N]\n"), 2;
    }
  }
  if (argc % 2 == 0) return std::fprintf(stderr, "usage: beaconbar-soak [--duration S] [--seed N] [--clients N]\n"), 2;
  if (::geteuid() != 0) return std::fprintf(stderr, "beaconbar-soak needs root\n"), 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return soak(settings);
}
