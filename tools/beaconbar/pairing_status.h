// Text and JSON for `beaconbar status`: whether the admin daemon runs, its
// versions, and whether this user's stored token pairs it. Pure functions;
// thread-safe.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "client/admin_replies.h"

namespace bcn::cli {

struct PairingStatusReport {
  AdminStatus status;  // the daemon's answer
  std::filesystem::path tokenFile;
  bool tokenStored = false;
};

// Two lines, "Admin daemon  running, version V, protocol N" and
// "Paired        yes (token in PATH)" or "no (...)" with what to do.
std::string formatPairingStatus(const PairingStatusReport& report);

// {"version", "protocol", "paired", "tokenFile": path | null}; tokenFile is
// null when no token is stored.
nlohmann::ordered_json pairingStatusJson(const PairingStatusReport& report);

}  // namespace bcn::cli
