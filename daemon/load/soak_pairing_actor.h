// PairingActor: the part of the soak population that changes what the
// daemon keeps — pairing requests approved through polkit, refused,
// denied and abandoned mid-wait; unpairing one token or all of them;
// service switches by paired apps; tunnel scans — each through the
// registered test clients running as real users, and each checked at once
// against the actor's own account of which tokens are paired:
//   - the pairing file decodes and holds exactly those pairings;
//   - status says paired for each of them, for its own user only, and
//     unpaired for every token revoked so far;
//   - a switched service's link is up or down as last asked.
// The actor is the only one changing pairings, so after each of its steps
// the file must match exactly.
//
// Test-only. Not thread-safe: one thread steps the actor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "daemon/e2e/daemon_harness.h"

namespace bcn::load {

class PairingActor {
 public:
  struct Service {
    std::string id;    // in the preferences file
    std::string link;  // the device it switches
  };
  struct Options {
    bool polkit = false;  // approvals need polkitd and its test users
    // bcn-load-peer installed as the console: sends forms it is given.
    std::filesystem::path consolePeer;
    std::vector<Service> services;
    std::string tunnel;  // a tun interface someone holds
    pid_t tunnelOwner = 0;
    std::uint64_t seed = 1;
  };

  PairingActor(testing::DaemonHarness& daemon, Options options);

  // One randomly chosen operation and the checks after it.
  void step();

  // Operations by kind, and what went wrong (empty when nothing did).
  const std::map<std::string, std::size_t>& operations() const { return operations_; }
  const std::vector<std::string>& failures() const { return failures_; }

  // The file and every token's status against the actor's account.
  void checkPairings();

 private:
  struct Token {
    std::string user;
    std::string token;
  };

  ProcessResult app(const std::string& user, const std::vector<std::string>& args);
  ProcessResult console(const std::string& user, const std::vector<std::string>& args);
  std::string requestOf(const std::string& user);
  void fail(const std::string& what, const ProcessResult& result);

  void pairApproved();
  void pairRefused();
  void pairAbandoned();
  void unpairOne();
  void unpairAll();
  void switchService();
  void scanTunnels();

  testing::DaemonHarness& daemon_;
  Options options_;
  std::mt19937_64 random_;
  std::vector<Token> paired_;
  std::vector<Token> revoked_;
  // Pairings recorded while the app had not yet called its wait: the
  // daemon records them and hands the token to nobody (the wait then finds
  // the request gone). They stay in the file until every pairing is revoked.
  std::size_t undelivered_ = 0;
  std::map<std::string, std::size_t> operations_;
  std::vector<std::string> failures_;
};

}  // namespace bcn::load
