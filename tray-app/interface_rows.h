// The interface section of the tray's menu: pinned interfaces first, in
// pin order, then the others in the order the kernel lists them (loopback
// left out unless pinned), each with its state, first addresses and
// current rates; and which interface the tray icon draws the rates of.
//
// Pins are resolved with PinMatcher against the live fingerprints on every
// call, so a pin follows its interface through renames and re-plugging as
// far as the pin rules allow. A pin that resolves to nothing stays in the
// menu under its saved name as "not present", so the user still sees it.
//
// Pure functions over values; thread-safe.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "netcore/history/rate_sample.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/sysconfig/interface_fingerprint.h"

namespace bcn::tray {

enum class RateUnit { bytes, bits };

// "1.21 MiB/s" (binary prefixes, as the command line prints rates) or
// "10.2 Mbit/s" (decimal, as line speeds are named); "-" for a rate that is
// not finite or negative.
std::string formatRate(double bytesPerSecond, RateUnit unit);

// One interface of the last reading with the fingerprint the pins are
// matched against.
struct LiveInterface {
  InterfaceSnapshot snapshot;
  InterfaceFingerprint fingerprint;
};

struct InterfaceRow {
  std::string name;  // the live name; the saved one for a pin not present
  bool pinned = false;
  bool present = true;
  std::string state;                   // "active", "inactive", "down" or "not present"
  std::vector<std::string> addresses;  // the first IPv4 and the first IPv6 address
  std::optional<RateSample> rate;      // none before the second reading

  // "en0  active  192.0.2.2/24  ↓ 1.21 MiB/s  ↑ 512 B/s"
  std::string label(RateUnit unit) const;
};

// `rates` holds the latest sample per interface name.
std::vector<InterfaceRow> interfaceRows(const std::vector<LiveInterface>& live,
                                        const std::vector<InterfaceFingerprint>& pins,
                                        const std::map<std::string, RateSample>& rates);

// The row the icon shows: the first pinned interface that is present,
// else the primary IPv4 interface when it is listed, else none.
const InterfaceRow* iconRow(const std::vector<InterfaceRow>& rows, const std::optional<std::string>& primaryIPv4);

}  // namespace bcn::tray
