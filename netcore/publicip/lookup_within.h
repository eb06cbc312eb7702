// lookup() with its time limit as a parameter, so that tests can check the
// expiry path without waiting the full limit. Private to the library and
// its tests; same contract as lookup() in public_ip_service.h.
#pragma once

#include <optional>
#include <stop_token>
#include <string_view>

#include "netcore/publicip/deadline.h"
#include "netcore/publicip/public_ip_result.h"

namespace bcn::PublicIPService {

PublicIPResult lookupWithin(std::string_view url, std::optional<std::string_view> jsonKeyPath,
                            BootClock::duration limit, std::stop_token stop);

}  // namespace bcn::PublicIPService
