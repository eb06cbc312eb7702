#include "protocol/admin_constants.h"

#include "platform/main_bundle.h"

namespace bcn::AdminConstants {

const std::string& teamID() {
  static const std::string value =
      MainBundle::string("BCNTeamID").value_or(std::string(fallbackTeamID));
  return value;
}

const std::string& daemonPlistPath() {
  static const std::string value = "/Library/LaunchDaemons/" + std::string(daemonLabel) + ".plist";
  return value;
}

const std::string& appGroup() {
  static const std::string value = teamID() + ".com.quillbank.Beaconbar";
  return value;
}

const std::string& appServiceName() {
  static const std::string value = appGroup() + ".admin";
  return value;
}

const std::string& controlServiceName() {
  static const std::string value = appGroup() + ".admin-control";
  return value;
}

namespace {

std::string quoted(std::string_view text) { return '"' + std::string(text) + '"'; }

}  // namespace

std::string appRequirement(std::string_view teamID) {
  return "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.9] or anchor "
         "apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] and certificate "
         "leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = " +
         quoted(teamID) + ") and identifier " + quoted(appBundleID);
}

std::string adminAppRequirement(std::string_view teamID) {
  return "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] and certificate "
         "leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = " +
         quoted(teamID) + " and identifier " + quoted(adminAppBundleID);
}

}  // namespace bcn::AdminConstants
