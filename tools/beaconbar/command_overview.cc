// overview: two readings a sampling interval apart give each interface's
// current rate; the public address lookup runs meanwhile, on a short leash
// so an offline machine still gets its overview within a few seconds.
#include <chrono>

#include "netcore/interfaces/counter_delta_tracker.h"
#include "netcore/interfaces/interface_reader.h"
#include "netcore/sysconfig/system_configuration_reader.h"
#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/overview_report.h"
#include "tools/beaconbar/public_lookup.h"
#include "tools/beaconbar/signal_waiter.h"

namespace bcn::cli {
namespace {

using std::chrono::duration;
using std::chrono::duration_cast;
using std::chrono::steady_clock;

std::vector<InterfaceOverview> sampleInterfaces(const InterfaceReader& reader, SignalWaiter& signals, double seconds,
                                                bool& interrupted) {
  CounterDeltaTracker tracker;
  const Date firstTime = Date::now();
  for (const InterfaceSnapshot& s : reader.snapshot()) tracker.update(s.name, s.counters, firstTime, seconds * 2);
  interrupted = signals.waitFor(duration_cast<std::chrono::nanoseconds>(duration<double>(seconds)));
  const Date secondTime = Date::now();
  std::vector<InterfaceOverview> interfaces;
  for (InterfaceSnapshot& s : reader.snapshot()) {
    auto rate = tracker.update(s.name, s.counters, secondTime, seconds * 2);
    interfaces.push_back({std::move(s), rate});
  }
  return interfaces;
}

}  // namespace

int runOverview(const OverviewOptions& options) {
  std::optional<LookupTarget> target;
  if (options.publicAddress) {
    auto chosen = lookupTarget(options.provider, std::nullopt);
    if (!chosen) return fail(chosen.error());
    target = std::move(*chosen);
  }

  SignalWaiter signals;
  const auto started = steady_clock::now();
  std::optional<PublicLookup> lookup;
  if (target) lookup.emplace(*target, std::nullopt);

  OverviewReport report;
  report.sampleSeconds = options.sampleSeconds;
  InterfaceReader reader;
  bool interrupted = false;
  report.interfaces = sampleInterfaces(reader, signals, options.sampleSeconds, interrupted);
  if (interrupted) return fail("interrupted", kExitInterrupted);

  report.configuration = SystemConfigurationReader::read();
  // Briefly: a daemon that does not answer must not hold up the overview,
  // whose line only says why there is no list (`tunnels` tells more).
  report.tunnels = readTunnelOwners(std::chrono::seconds(2));
  if (!report.tunnels) report.tunnels = std::unexpected("needs root or the admin daemon");

  if (lookup) {
    const auto deadline = started + duration_cast<steady_clock::duration>(duration<double>(options.lookupLimitSeconds));
    auto [found, outcome] = lookup->wait(signals, deadline);
    if (outcome == PublicLookup::Outcome::interrupted) return fail("interrupted", kExitInterrupted);
    report.publicAddress = std::move(found);
  }

  if (options.json) {
    printJson(overviewJson(report));
  } else {
    printText(formatOverview(report));
  }
  return 0;
}

}  // namespace bcn::cli
