#include "exporter/machine_sampler.h"

#include <unistd.h>

#include "client/admin_app_client.h"
#include "netcore/interfaces/interface_reader.h"
#include "netcore/sysconfig/system_configuration_reader.h"
#include "netcore/sysconfig/tunnel_owners.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"

namespace bcn::metrics {

MachineSampler::MachineSampler(Source source, std::chrono::milliseconds maxAge, Clock clock)
    : source_(std::move(source)), maxAge_(maxAge), clock_(std::move(clock)) {}

std::shared_ptr<const SharedReading> MachineSampler::sample() {
  std::unique_lock lock(mutex_);
  const auto asked = clock_();
  for (;;) {
    if (latest_ && latest_->takenAt + maxAge_ >= asked) return latest_;
    if (!reading_) break;
    // Someone is reading right now: theirs is fresher than anything we ask for.
    const auto previous = latest_;
    done_.wait(lock, [&] { return !reading_; });
    if (latest_ != previous && latest_) return latest_;
  }
  reading_ = true;
  lock.unlock();

  const auto started = std::chrono::steady_clock::now();
  SourceReading fresh;
  try {
    fresh = source_();
  } catch (...) {
    // A reading that cannot be taken (memory) still ends the wait of
    // everyone queued behind it.
    fresh.failures.push_back("reading");
  }
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  lock.lock();
  for (const std::string& failure : fresh.failures) ++errors_[failure];
  auto shared = std::make_shared<SharedReading>();
  shared->reading = std::move(fresh.reading);
  shared->health = ReaderHealth{seconds, errors_};
  shared->takenAt = asked;
  latest_ = std::move(shared);
  ++taken_;
  reading_ = false;
  done_.notify_all();
  return latest_;
}

std::uint64_t MachineSampler::readingsTaken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

MachineSampler::Source machineSource(std::chrono::milliseconds daemonTimeout) {
  auto reader = std::make_shared<InterfaceReader>();
  return [reader, daemonTimeout] {
    SourceReading out;
    out.reading.interfaces = reader->snapshot();
    out.reading.configuration = SystemConfigurationReader::read();
    // Only root sees every process's descriptors; anyone else would get a
    // partial list that looks complete, so the daemon (root) is asked.
    if (geteuid() == 0) {
      out.reading.tunnelOwners = TunnelOwners::scan();
      return out;
    }
    auto client = AdminAppClient::connect(ipc::servicePath(AdminConstants::appServiceName()));
    if (!client) {
      out.failures.push_back("tunnel_owners");
      return out;
    }
    auto entries = client->tunnelOwners(daemonTimeout);
    if (!entries) {
      out.failures.push_back("tunnel_owners");
      return out;
    }
    auto& owners = out.reading.tunnelOwners.emplace();
    for (const TunnelOwnerEntry& e : *entries) owners.insert_or_assign(e.interface, TunnelOwner{e.pid, e.name, e.path});
    return out;
  };
}

}  // namespace bcn::metrics
