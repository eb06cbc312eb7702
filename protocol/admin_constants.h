// AdminConstants: the identifiers both programs agree on — bundle and
// daemon identifiers, service names, code-signing requirement texts, the
// authorization right and the protocol version.
//
// The members that depend on the signing team identifier are computed once,
// on first use, from the running program's Info.plist ("BCNTeamID"), under
// a one-time initialiser safe against concurrent first use; they never
// change afterwards. Everything else is a compile-time constant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bcn::AdminConstants {

inline constexpr std::string_view appBundleID = "com.quillbank.Beaconbar";
inline constexpr std::string_view adminAppBundleID = "com.quillbank.Beaconbar.Admin";
inline constexpr std::string_view daemonIdentifier = "com.quillbank.Beaconbar.admin";
inline constexpr std::string_view daemonLabel = "com.quillbank.Beaconbar.admin";
inline constexpr std::string_view pairRight = "com.quillbank.Beaconbar.admin.pair";
inline constexpr std::int64_t protocolVersion = 1;

// Used when the Info.plist has no text under "BCNTeamID".
inline constexpr std::string_view fallbackTeamID = "TEAMID0000";

// The signing team identifier from the Info.plist, or fallbackTeamID.
const std::string& teamID();
// "/Library/LaunchDaemons/com.quillbank.Beaconbar.admin.plist": the job
// file's name on the original platform, kept as a shared identifier.
const std::string& daemonPlistPath();
// teamID + ".com.quillbank.Beaconbar"
const std::string& appGroup();
// appGroup + ".admin": the service the menu-bar app talks to.
const std::string& appServiceName();
// appGroup + ".admin-control": the service the admin console talks to.
const std::string& controlServiceName();

// Code-signing requirement for peers of the app service: store-signed, or
// Developer ID signed by `teamID`, and identified as appBundleID.
std::string appRequirement(std::string_view teamID);
// Code-signing requirement for peers of the control service: Developer ID
// signed by `teamID` and identified as adminAppBundleID.
std::string adminAppRequirement(std::string_view teamID);

}  // namespace bcn::AdminConstants
