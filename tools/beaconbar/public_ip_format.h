// Text and JSON for a public address lookup (`beaconbar public-ip` and the
// overview's section). Pure functions; thread-safe.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "netcore/publicip/public_ip_result.h"

namespace bcn::cli {

struct PublicAddressReport {
  std::string source;  // what was asked: the provider's title, or the custom URL
  std::string url;
  PublicIPResult result;

  // Neither side found an address.
  bool failed() const { return !result.ipv4 && !result.ipv6; }
};

// Two lines, "IPv4  <address>" and "IPv6  <address>", a missing side reading
// "unavailable"; when both sides failed, the single line
// "unavailable (<reason>)". `indent` prefixes every line.
std::string formatPublicAddress(const PublicAddressReport& report, const std::string& indent = "");

// {"source", "url", "ipv4", "ipv6", "error"}; absent values are null.
nlohmann::ordered_json publicAddressJson(const PublicAddressReport& report);

}  // namespace bcn::cli
