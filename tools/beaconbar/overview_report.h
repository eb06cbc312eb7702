// OverviewReport: everything `beaconbar overview` shows, gathered first and
// formatted afterwards, so the text and JSON forms are pure functions of
// plain values. Sections: the interfaces (state, media, addresses and the
// rate over the sampling interval), the system configuration's services
// and primary interfaces, the tunnel owners, and the public addresses.
// Each section is formatted on its own.
#pragma once

#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "netcore/history/rate_sample.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/sysconfig/network_metadata.h"
#include "tools/beaconbar/public_ip_format.h"
#include "tools/beaconbar/tunnel_format.h"

namespace bcn::cli {

struct InterfaceOverview {
  InterfaceSnapshot snapshot;
  // Absent when the interface was not there for both readings or its
  // counters went backwards.
  std::optional<RateSample> rate;
};

struct OverviewReport {
  double sampleSeconds = 0;
  std::vector<InterfaceOverview> interfaces;
  // Services in order and the primary interfaces.
  NetworkMetadata configuration;
  // The owners, or why they could not be listed.
  std::expected<TunnelOwnerMap, std::string> tunnels;
  // Absent when the lookup was not asked for.
  std::optional<PublicAddressReport> publicAddress;
};

std::string formatOverview(const OverviewReport& report);

// {"sampleSeconds", "interfaces": [interface + "rate"], "services": [...],
// "primaryIPv4Interface", "primaryIPv6Interface" (as `services --json`),
// "tunnels": {"owners": [...] | null, "error": text | null},
// "publicAddress": {...} | null}
nlohmann::ordered_json overviewJson(const OverviewReport& report);

}  // namespace bcn::cli
