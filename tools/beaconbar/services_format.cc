#include "tools/beaconbar/services_format.h"

#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

using Json = nlohmann::ordered_json;

bool runsOn(const NetworkService& service, const std::optional<std::string>& interface) {
  return service.bsdName && interface && *service.bsdName == *interface;
}

std::string primaryCell(const NetworkService& service, const NetworkMetadata& metadata) {
  const bool v4 = runsOn(service, metadata.primaryIPv4Interface);
  const bool v6 = runsOn(service, metadata.primaryIPv6Interface);
  if (v4 && v6) return "IPv4+IPv6";
  if (v4) return "IPv4";
  if (v6) return "IPv6";
  return "-";
}

std::string stateCell(const NetworkService& service) {
  std::string state = service.enabled ? "enabled" : "disabled";
  if (service.hidden) state += ", hidden";
  return state;
}

}  // namespace

std::string formatServices(const NetworkMetadata& metadata, const std::string& indent) {
  std::string out;
  if (metadata.services.empty()) {
    out = indent + "No network services are configured.\n";
  } else {
    TextTable table(indent);
    table.addRow({"#", "NAME", "INTERFACE", "STATE", "PRIMARY", "ID"});
    std::size_t position = 0;
    for (const NetworkService& s : metadata.services) {
      table.addRow(
          {std::to_string(++position), s.name, s.bsdName.value_or("-"), stateCell(s), primaryCell(s, metadata), s.id});
    }
    out = table.render();
  }
  out += indent + "Primary IPv4: " + metadata.primaryIPv4Interface.value_or("none") + "\n";
  out += indent + "Primary IPv6: " + metadata.primaryIPv6Interface.value_or("none") + "\n";
  return out;
}

Json servicesJson(const NetworkMetadata& metadata) {
  Json services = Json::array();
  for (const NetworkService& s : metadata.services) {
    services.push_back(Json{{"id", s.id},
                            {"name", s.name},
                            {"enabled", s.enabled},
                            {"hidden", s.hidden},
                            {"bsdName", s.bsdName ? Json(*s.bsdName) : Json(nullptr)},
                            {"primaryIPv4", runsOn(s, metadata.primaryIPv4Interface)},
                            {"primaryIPv6", runsOn(s, metadata.primaryIPv6Interface)}});
  }
  const auto name = [](const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); };
  return Json{{"services", std::move(services)},
              {"primaryIPv4Interface", name(metadata.primaryIPv4Interface)},
              {"primaryIPv6Interface", name(metadata.primaryIPv6Interface)}};
}

std::string formatChangedKeys(Date time, const std::vector<std::string>& keys) {
  const std::string stamp = formatTimestamp(time);
  std::string out;
  for (const std::string& key : keys) out += stamp + "  " + key + "\n";
  return out;
}

Json changedKeysJson(Date time, const std::vector<std::string>& keys) {
  return Json{{"time", formatIsoTimestamp(time)}, {"keys", keys}};
}

}  // namespace bcn::cli
