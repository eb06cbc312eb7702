// DaemonStatusService: the admin daemon's app service as the daemon runs it
// (its sessions, worker scheduler, pairing store and, when the benchmark
// runs as root, the code requirement every peer must meet), on a socket of
// its own, so that a benchmark measures what `beaconbar status` meets.
//
// The pairing store and the code-identity registry live in a scratch
// directory; this program's own executable is recorded there as the app.
// One pairing is made for the calling user; token() is its token.
//
// Not thread-safe to set up; the service answers on its own threads.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace bcn::bench {

class DaemonStatusService {
 public:
  // Serves at `directory`/app; nothing when any part cannot be set up
  // (the reason is printed on stderr).
  static std::unique_ptr<DaemonStatusService> start(const std::filesystem::path& directory);
  ~DaemonStatusService();

  const std::filesystem::path& socketPath() const { return socketPath_; }
  const std::string& token() const { return token_; }
  // Whether peers are held to the code requirement (only as root: the
  // registry must be root-controlled).
  bool requirementChecked() const { return requirementChecked_; }

  struct Parts;

 private:
  DaemonStatusService() = default;
  std::unique_ptr<Parts> parts_;
  std::filesystem::path socketPath_;
  std::string token_;
  bool requirementChecked_ = false;
};

}  // namespace bcn::bench
