#include "daemon/shared_tunnel_scan.h"

#include "netcore/sysconfig/tunnel_owners.h"

namespace bcn {

SharedTunnelScan::SharedTunnelScan(std::chrono::milliseconds maxAge, Scan scan)
    : maxAge_(maxAge), scan_(scan ? std::move(scan) : Scan([] { return TunnelOwners::scan(); })) {}

SharedTunnelScan::Owners SharedTunnelScan::get() {
  std::promise<Owners> promise;
  {
    std::unique_lock lock(mutex_);
    if (last_ && std::chrono::steady_clock::now() - lastFinished_ <= maxAge_) return *last_;
    if (running_) {
      auto shared = *running_;
      lock.unlock();
      return shared.get();
    }
    running_ = promise.get_future().share();
  }
  Owners owners;
  try {
    owners = scan_();
  } catch (...) {
    // Waiters must not hang on a scan that failed; they see no owners.
  }
  {
    std::lock_guard guard(mutex_);
    last_ = owners;
    lastFinished_ = std::chrono::steady_clock::now();
    running_.reset();
  }
  promise.set_value(owners);
  return owners;
}

}  // namespace bcn
