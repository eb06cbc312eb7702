#include "tools/beaconbar/public_ip_format.h"

namespace bcn::cli {
namespace {

nlohmann::ordered_json orNull(const std::optional<std::string>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

std::string formatPublicAddress(const PublicAddressReport& report, const std::string& indent) {
  if (report.failed()) {
    return indent + "unavailable (" + report.result.error.value_or("no answer") + ")\n";
  }
  return indent + "IPv4  " + report.result.ipv4.value_or("unavailable") + "\n" + indent + "IPv6  " +
         report.result.ipv6.value_or("unavailable") + "\n";
}

nlohmann::ordered_json publicAddressJson(const PublicAddressReport& report) {
  return {{"source", report.source},
          {"url", report.url},
          {"ipv4", orNull(report.result.ipv4)},
          {"ipv6", orNull(report.result.ipv6)},
          {"error", orNull(report.result.error)}};
}

}  // namespace bcn::cli
