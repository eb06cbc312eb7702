// SharedTunnelScan: the tunnel-owner scan the daemon's callers share.
//
// A scan walks every process's descriptors; with many descriptors open on
// the machine it takes a good part of a second, and any user may ask for it
// at will. So callers that ask while a scan runs wait for that scan instead
// of starting their own, and a scan that finished at most `maxAge` ago is
// answered again without walking anything. The cost of the scans is then
// bounded by time, not by the number of callers.
//
// Thread-safe. get() blocks while a scan runs.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "netcore/sysconfig/tunnel_owner.h"

namespace bcn {

class SharedTunnelScan {
 public:
  using Owners = std::map<std::string, TunnelOwner>;
  using Scan = std::function<Owners()>;

  // `scan` defaults to the machine's process table.
  explicit SharedTunnelScan(std::chrono::milliseconds maxAge = std::chrono::seconds(1), Scan scan = {});

  Owners get();

 private:
  const std::chrono::milliseconds maxAge_;
  const Scan scan_;
  std::mutex mutex_;
  std::optional<std::shared_future<Owners>> running_;   // guarded by mutex_
  std::optional<Owners> last_;                          // guarded by mutex_
  std::chrono::steady_clock::time_point lastFinished_;  // guarded by mutex_
};

}  // namespace bcn
