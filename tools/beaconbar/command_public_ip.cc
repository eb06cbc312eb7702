// public-ip: one lookup with the library's full time limit, a spinner on a
// terminal while it runs, and Ctrl-C to give up.
#include <chrono>
#include <cstdio>

#include "netcore/publicip/public_ip_service.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/public_lookup.h"
#include "tools/beaconbar/signal_waiter.h"
#include "tools/beaconbar/terminal.h"

namespace bcn::cli {

int runPublicIP(const PublicIPOptions& options) {
  auto target = lookupTarget(options.provider, options.url);
  if (!target) return fail(target.error());

  SignalWaiter signals;
  const std::string message = "Looking up the public addresses via " + target->source + "...";
  const bool spinner = isTerminal(stderr);
  std::size_t frame = 0;
  const auto tick = [&] {
    if (!spinner) return;
    std::fputs(spinnerLine(frame++, message).c_str(), stderr);
    std::fflush(stderr);
  };
  tick();
  // The library ends the lookup by itself at its limit; the margin only
  // keeps this wait from cutting in first.
  const auto deadline = std::chrono::steady_clock::now() + PublicIPService::kTimeLimit + std::chrono::seconds(5);
  PublicLookup lookup(*target, options.jsonKeyPath);
  auto [report, outcome] = lookup.wait(signals, deadline, tick);
  if (spinner) {
    std::fputs(spinnerClear().c_str(), stderr);
    std::fflush(stderr);
  }
  if (outcome == PublicLookup::Outcome::interrupted) return fail("interrupted", kExitInterrupted);

  if (options.json) {
    printJson(publicAddressJson(report));
  } else if (!report.failed()) {
    printText(formatPublicAddress(report));
  }
  if (report.failed()) {
    return fail("no public address found via " + report.source + ": " + report.result.error.value_or("no answer"));
  }
  return 0;
}

}  // namespace bcn::cli
