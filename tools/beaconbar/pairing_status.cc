#include "tools/beaconbar/pairing_status.h"

namespace bcn::cli {

std::string formatPairingStatus(const PairingStatusReport& report) {
  const AdminStatus& s = report.status;
  std::string paired;
  if (s.paired.value_or(false)) {
    paired = "yes (token in " + report.tokenFile.string() + ")";
  } else if (report.tokenStored) {
    paired = "no (the token in " + report.tokenFile.string() + " is no longer accepted; run: beaconbar pair)";
  } else {
    paired = "no (run: beaconbar pair)";
  }
  return "Admin daemon  running, version " + (s.version.empty() ? std::string("unknown") : s.version) + ", protocol " +
         std::to_string(s.protocolVersion) + "\n" + "Paired        " + paired + "\n";
}

nlohmann::ordered_json pairingStatusJson(const PairingStatusReport& report) {
  return {{"version", report.status.version},
          {"protocol", report.status.protocolVersion},
          {"paired", report.status.paired.value_or(false)},
          {"tokenFile",
           report.tokenStored ? nlohmann::ordered_json(report.tokenFile.string()) : nlohmann::ordered_json(nullptr)}};
}

}  // namespace bcn::cli
