// The soak run's hostile population: one local user who cycles through the
// attacks that would starve everyone else (scan floods over many
// connections, calls queued and abandoned, connections spread over the
// uids of a user namespace), while a bystander of another uid measures its
// status calls during each attack.
//
// Test-only. runCycle() blocks for one round of every attack; not
// thread-safe with itself.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bcn::load {

class HostileActor {
 public:
  struct Options {
    std::filesystem::path appPeer;  // bcn-load-peer installed as the app
    std::string attacker;           // a user name or numeric uid
    std::string bystander;
    std::uint32_t namespaceBase = 300'000;  // outer uids mapped in ns-flood
    double boundMs = 5'000;                 // the bystander's p99 must stay below this
  };

  explicit HostileActor(Options options) : options_(std::move(options)) {}

  void runCycle();

  const std::map<std::string, std::size_t>& counts() const { return counts_; }
  const std::vector<std::string>& failures() const { return failures_; }
  double worstP99() const { return worstP99_; }

 private:
  // Runs the bystander's probe and files its outcome under `attack`.
  void measure(const std::string& attack);

  Options options_;
  std::map<std::string, std::size_t> counts_;
  std::vector<std::string> failures_;
  double worstP99_ = 0;
};

}  // namespace bcn::load
