#include "tools/beaconbar/overview_report.h"

#include <cstdio>

#include "tools/beaconbar/interface_json.h"
#include "tools/beaconbar/interface_text.h"
#include "tools/beaconbar/services_format.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string secondsText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f s", value);
  return buffer;
}

std::string rateLine(const std::optional<RateSample>& rate) {
  if (!rate) return "in -  out -";
  return "in " + formatRate(rate->rateIn()) + "  out " + formatRate(rate->rateOut());
}

std::string interfacesSection(const OverviewReport& report) {
  std::string out = "Interfaces (traffic over " + secondsText(report.sampleSeconds) + ")\n";
  if (report.interfaces.empty()) return out + "  none\n";
  std::size_t nameWidth = 0;
  for (const auto& i : report.interfaces) nameWidth = std::max(nameWidth, displayWidth(i.snapshot.name));
  const std::string detailIndent(2 + nameWidth + 2, ' ');
  for (const auto& [s, rate] : report.interfaces) {
    std::string header = "  " + padRight(s.name, nameWidth) + "  " + std::string(linkState(s));
    if (const auto type = functionalTypeTitle(s.functionalType); !type.empty()) header += "  " + std::string(type);
    if (s.media) header += "  " + s.media->description();
    out += header + "\n";
    out += detailIndent + rateLine(rate) + "\n";
    if (const std::string hardware = hardwareAddress(s); !hardware.empty()) out += detailIndent + hardware + "\n";
    for (const auto& a : s.ipv4) out += detailIndent + "inet " + shortAddress(a) + "\n";
    for (const auto& a : s.ipv6) out += detailIndent + "inet6 " + shortAddress(a, s) + "\n";
  }
  return out;
}

std::string tunnelsSection(const OverviewReport& report) {
  if (!report.tunnels) return "Tunnel owners: unavailable (" + report.tunnels.error() + ")\n";
  if (report.tunnels->empty()) return "Tunnel owners: none\n";
  return "Tunnel owners\n" + formatTunnelOwners(*report.tunnels, "  ");
}

std::string publicAddressSection(const PublicAddressReport& p) {
  if (p.failed()) return "Public address: " + formatPublicAddress(p);
  return "Public address (" + p.source + ")\n" + formatPublicAddress(p, "  ");
}

}  // namespace

std::string formatOverview(const OverviewReport& report) {
  // Sections are separated by an empty line.
  std::string out = interfacesSection(report);
  out += "\nServices\n" + formatServices(report.configuration, "  ");
  out += '\n';
  out += tunnelsSection(report);
  if (report.publicAddress) {
    out += '\n';
    out += publicAddressSection(*report.publicAddress);
  }
  return out;
}

Json overviewJson(const OverviewReport& report) {
  Json interfaces = Json::array();
  for (const auto& i : report.interfaces) {
    Json entry = interfaceJson(i.snapshot);
    entry["rate"] = rateJson(i.rate);
    interfaces.push_back(std::move(entry));
  }
  Json tunnels = report.tunnels ? Json{{"owners", tunnelOwnersJson(*report.tunnels)}, {"error", nullptr}}
                                : Json{{"owners", nullptr}, {"error", report.tunnels.error()}};
  Json json{{"sampleSeconds", report.sampleSeconds}, {"interfaces", std::move(interfaces)}};
  Json services = servicesJson(report.configuration);
  for (auto& [key, value] : services.items()) json[key] = std::move(value);
  json["tunnels"] = std::move(tunnels);
  json["publicAddress"] = report.publicAddress ? publicAddressJson(*report.publicAddress) : Json(nullptr);
  return json;
}

}  // namespace bcn::cli
