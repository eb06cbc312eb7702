#include "exporter/public_address_poller.h"

#include <condition_variable>

namespace bcn::metrics {
PublicAddressPoller::PublicAddressPoller(std::string provider, Lookup lookup, std::chrono::milliseconds interval)
    : lookup_(std::move(lookup)), interval_(interval) {
  state_.provider = std::move(provider);
  thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

PublicAddressPoller::~PublicAddressPoller() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

PublicAddressState PublicAddressPoller::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::uint64_t PublicAddressPoller::lookups() const {
  std::lock_guard lock(mutex_);
  return lookups_;
}

void PublicAddressPoller::run(std::stop_token stop) {
  std::condition_variable_any wake;
  while (!stop.stop_requested()) {
    const PublicIPResult result = lookup_(stop);
    if (stop.stop_requested()) return;  // a cancelled lookup is no failure of the network
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::unique_lock lock(mutex_);
    recordLookup(state_, result, now);
    ++lookups_;
    wake.wait_for(lock, stop, interval_, [] { return false; });
  }
}

}  // namespace bcn::metrics
