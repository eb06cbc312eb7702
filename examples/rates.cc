// Reads every network interface twice, a second apart, and prints each
// one's receive and send rate in bytes per second:
//   eth0 in 1520.0 B/s out 310.5 B/s
// An interface seen only once (added in between, or whose counters went
// backwards) gets no line.
#include <chrono>
#include <cstdio>
#include <thread>

#include <netcore/interfaces/counter_delta_tracker.h>
#include <netcore/interfaces/interface_reader.h>
#include <netcore/version.h>

int main() {
  bcn::InterfaceReader reader;
  bcn::CounterDeltaTracker tracker;
  const double maxGap = 10;  // seconds; a longer interval is no rate

  for (const auto& interface : reader.snapshot())
    tracker.update(interface.name, interface.counters, bcn::Date::now(), maxGap);
  std::this_thread::sleep_for(std::chrono::seconds(1));

  for (const auto& interface : reader.snapshot()) {
    auto sample = tracker.update(interface.name, interface.counters, bcn::Date::now(), maxGap);
    if (!sample) continue;
    std::printf("%s in %.1f B/s out %.1f B/s\n", interface.name.c_str(), sample->rateIn(), sample->rateOut());
  }
  std::fprintf(stderr, "netcore %s (built against %s)\n", bcn::netcoreVersion(), NETCORE_VERSION_STRING);
  return 0;
}
