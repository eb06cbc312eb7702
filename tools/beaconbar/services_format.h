// Text and JSON for the network services of the system configuration and
// its primary interfaces (`beaconbar services` and the overview's
// section), and for the change notifications `services watch` prints.
// The services come as SystemConfigurationReader::read() orders them; the
// interface map of NetworkMetadata is not shown here. Pure functions;
// thread-safe.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "netcore/sysconfig/network_metadata.h"
#include "platform/date.h"

namespace bcn::cli {

// A table "#  NAME  INTERFACE  STATE  PRIMARY  ID" in service order (state
// "enabled" or "disabled", with ", hidden" for hidden services; primary
// "IPv4", "IPv6" or "IPv4+IPv6" for the service on a primary interface),
// or the line "No network services are configured.", followed by the
// lines "Primary IPv4: <name|none>" and "Primary IPv6: <name|none>".
// `indent` prefixes every line.
std::string formatServices(const NetworkMetadata& metadata, const std::string& indent = "");

// {"services": [{"id", "name", "enabled", "hidden", "bsdName",
// "primaryIPv4", "primaryIPv6"}], "primaryIPv4Interface",
// "primaryIPv6Interface"}; absent names are null.
nlohmann::ordered_json servicesJson(const NetworkMetadata& metadata);

// One line per changed key, "<time>  <key>", for one notification.
std::string formatChangedKeys(Date time, const std::vector<std::string>& keys);
// {"time", "keys": [...]} for one notification.
nlohmann::ordered_json changedKeysJson(Date time, const std::vector<std::string>& keys);

}  // namespace bcn::cli
