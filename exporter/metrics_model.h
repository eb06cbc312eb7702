// The families Beaconbar exports, built from one reading of the machine:
// interfaces with their counters, the network configuration (services and
// primary interfaces), tunnel owners, the public addresses as the
// background lookup last saw them, and the reader's own health.
//
// Family names follow the Prometheus naming guide: the beaconbar_ prefix,
// base units (bytes, seconds), counters ending in _total, metadata as _info
// gauges with the value 1. A family is present in every output, possibly
// without samples, so a dashboard sees the family even on a machine with no
// tunnels; a series disappears as soon as its subject does (an interface
// gone between two readings is simply absent from the next).
//
// Pure functions over plain values; thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "exporter/exposition.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/publicip/public_ip_result.h"
#include "netcore/sysconfig/network_metadata.h"
#include "netcore/sysconfig/tunnel_owner.h"

namespace bcn::metrics {

// What the public address lookups have found so far, for one IP version.
struct PublicFamilyState {
  std::optional<std::string> address;  // the last address found, absent before the first success
  std::optional<double> lastSuccess;   // seconds since the epoch of that success
  std::map<std::string, std::uint64_t> failures;  // error kind -> lookups failed that way
};

struct PublicAddressState {
  std::string provider;  // the lookup URL's host or the provider's title
  PublicFamilyState ipv4;
  PublicFamilyState ipv6;
};

// One reading of the machine. `tunnelOwners` is absent when they could not
// be asked (the reason counts among the reading errors).
struct MachineReading {
  std::vector<InterfaceSnapshot> interfaces;
  NetworkMetadata configuration;
  std::optional<std::map<std::string, TunnelOwner>> tunnelOwners;
};

// The reader's own health: how long the reading behind this output took,
// and failed readings so far by source ("tunnel_owners", ...).
struct ReaderHealth {
  double readingSeconds = 0;
  std::map<std::string, std::uint64_t> readingErrors;
};

// The kind a failed lookup's error text reports: "http", "bad_url",
// "malformed", "no_address", "timeout", "cancelled" or, for the failures of
// the network underneath (resolution, connection, TLS), "network".
std::string lookupFailureKind(const std::string& errorText);

// Folds one lookup's result into `state`; `now` is seconds since the epoch.
// A side that answers replaces that side's address and success time; a
// side that fails keeps its last address and counts one failure under the
// kind the error names. The result carries a reason only when both sides
// failed, so a lone failed side counts as "unknown".
void recordLookup(PublicAddressState& state, const PublicIPResult& result, double now);

// The name FunctionalType cases go by in labels: "wired", "wifi_infra", ...
std::string functionalTypeLabel(FunctionalType type);

std::vector<MetricFamily> buildFamilies(const MachineReading& reading, const PublicAddressState& publicAddresses,
                                        const ReaderHealth& health);

}  // namespace bcn::metrics
