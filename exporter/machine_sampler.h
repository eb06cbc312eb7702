// MachineSampler: the reading behind each scrape. A scrape asks for a
// reading at most `maxAge` old; when none is fresh enough one reading is
// taken, and scrapes that arrive while it is being taken wait for it
// rather than starting their own, so any number of concurrent scrapes cost
// the kernel one interface reading and one configuration read.
//
// The reading itself comes from a Source: the machine (interfaces,
// configuration, tunnel owners) in the exporter, a fake one in tests. A
// Source reports a failed part by leaving it absent and naming the failure
// in `failures`; the sampler counts those per source for the error family.
//
// Thread-safe: sample() may run on any number of threads at once. The
// Source is called on the thread of the scrape that triggers the reading,
// one call at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exporter/metrics_model.h"

namespace bcn::metrics {

struct SourceReading {
  MachineReading reading;
  std::vector<std::string> failures;  // sources that failed this time, e.g. "tunnel_owners"
};

struct SharedReading {
  MachineReading reading;
  ReaderHealth health;
  std::chrono::steady_clock::time_point takenAt;
};

class MachineSampler {
 public:
  using Source = std::function<SourceReading()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit MachineSampler(Source source, std::chrono::milliseconds maxAge = std::chrono::seconds(1),
                          Clock clock = std::chrono::steady_clock::now);

  // A reading taken no earlier than `maxAge` before the call, or the one
  // being taken right now.
  std::shared_ptr<const SharedReading> sample();

  // Readings taken so far (how many times the Source was called).
  std::uint64_t readingsTaken() const;

 private:
  const Source source_;
  const std::chrono::milliseconds maxAge_;
  const Clock clock_;

  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool reading_ = false;
  std::shared_ptr<const SharedReading> latest_;
  std::map<std::string, std::uint64_t> errors_;
  std::uint64_t taken_ = 0;
};

// The machine as the exporter reads it: InterfaceReader, the network
// configuration, and tunnel owners scanned directly when running as root,
// otherwise asked of the admin daemon's app service within `daemonTimeout`.
MachineSampler::Source machineSource(std::chrono::milliseconds daemonTimeout);

}  // namespace bcn::metrics
