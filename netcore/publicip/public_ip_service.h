// PublicIPService: the machine's public IPv4 and IPv6 addresses, as an echo
// service sees them. lookup() asks the service at `url` twice at the same
// time, once over IPv4 only and once over IPv6 only, and folds both
// answers into one PublicIPResult. It takes as long as the slower side,
// at most about 15 seconds, and never fails: a side that fails leaves its
// address absent, and when both fail the result's error is the IPv4
// side's reason.
//
// `jsonKeyPath` names where a JSON answer keeps the address, e.g.
// "data.ip"; see extractAddress() for how answers are read.
//
// Stateless and thread-safe: any number of lookups may run at once from
// any threads. A lookup blocks the calling thread; it keeps no state
// between calls and leaves nothing running afterwards, except a name
// resolution that was still waiting for a silent name server, which ends
// on its own. Requesting a stop through `stop` ends the lookup promptly
// with both sides failed as cancelled.
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string_view>

#include "netcore/export.h"
#include "netcore/publicip/address_extraction.h"
#include "netcore/publicip/public_ip_error.h"
#include "netcore/publicip/public_ip_provider.h"
#include "netcore/publicip/public_ip_result.h"

namespace bcn::PublicIPService {

// The time a lookup may take over one IP version.
inline constexpr std::chrono::seconds kTimeLimit{15};

NETCORE_EXPORT PublicIPResult lookup(std::string_view url, std::optional<std::string_view> jsonKeyPath = std::nullopt,
                      std::stop_token stop = {});

}  // namespace bcn::PublicIPService
