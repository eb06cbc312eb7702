#include "exporter/metrics_model.h"

#include <string_view>

#include "netcore/publicip/network_error.h"
#include "netcore/publicip/public_ip_error.h"

namespace bcn::metrics {
namespace {

MetricFamily family(std::string name, std::string help, MetricType type) {
  return MetricFamily{std::move(name), std::move(help), type, {}};
}

void add(MetricFamily& f, std::vector<Label> labels, double value) { f.samples.push_back({std::move(labels), value}); }

std::string interfaceType(const InterfaceSnapshot& snapshot, const NetworkMetadata& configuration) {
  const auto found = configuration.interfaces.find(snapshot.name);
  if (found != configuration.interfaces.end() && found->second.interfaceType) return *found->second.interfaceType;
  return "";
}

void addInterfaceFamilies(std::vector<MetricFamily>& out, const MachineReading& reading) {
  struct CounterField {
    const char* name;
    const char* help;
    std::uint64_t InterfaceCounters::* field;
  };
  static constexpr CounterField kCounters[] = {
      {"beaconbar_interface_receive_bytes_total", "Bytes received on the interface.", &InterfaceCounters::bytesIn},
      {"beaconbar_interface_transmit_bytes_total", "Bytes transmitted on the interface.",
       &InterfaceCounters::bytesOut},
      {"beaconbar_interface_receive_packets_total", "Packets received on the interface.",
       &InterfaceCounters::packetsIn},
      {"beaconbar_interface_transmit_packets_total", "Packets transmitted on the interface.",
       &InterfaceCounters::packetsOut},
      {"beaconbar_interface_receive_errors_total", "Receive errors on the interface.", &InterfaceCounters::errorsIn},
      {"beaconbar_interface_transmit_errors_total", "Transmit errors on the interface.",
       &InterfaceCounters::errorsOut},
      {"beaconbar_interface_receive_drops_total", "Received packets dropped on the interface.",
       &InterfaceCounters::dropsIn},
  };
  for (const CounterField& counter : kCounters) {
    MetricFamily f = family(counter.name, counter.help, MetricType::counter);
    for (const InterfaceSnapshot& s : reading.interfaces) {
      add(f, {{"interface", s.name}}, static_cast<double>(s.counters.*counter.field));
    }
    out.push_back(std::move(f));
  }

  MetricFamily up = family("beaconbar_interface_up",
                           "1 when the interface is up and running and its link is not known to be down.",
                           MetricType::gauge);
  MetricFamily speed = family("beaconbar_interface_speed_bytes",
                              "Link speed in bytes per second, where the driver reports one.", MetricType::gauge);
  MetricFamily info = family("beaconbar_interface_info",
                             "Interface metadata: type, functional type, hardware address and MTU.",
                             MetricType::gauge);
  for (const InterfaceSnapshot& s : reading.interfaces) {
    add(up, {{"interface", s.name}}, s.isLinkActive() ? 1 : 0);
    if (s.baudrate > 0) add(speed, {{"interface", s.name}}, static_cast<double>(s.baudrate) / 8);
    add(info,
        {{"interface", s.name},
         {"type", interfaceType(s, reading.configuration)},
         {"functional_type", functionalTypeLabel(s.functionalType)},
         {"hardware_address", s.linkAddress ? s.linkAddress->description() : ""},
         {"mtu", std::to_string(s.mtu)}},
        1);
  }
  out.push_back(std::move(up));
  out.push_back(std::move(speed));
  out.push_back(std::move(info));
}

void addConfigurationFamilies(std::vector<MetricFamily>& out, const NetworkMetadata& configuration) {
  MetricFamily enabled = family("beaconbar_service_enabled", "1 when the network service is switched on.",
                                MetricType::gauge);
  for (const NetworkService& service : configuration.services) {
    add(enabled, {{"service_id", service.id}, {"name", service.name}, {"interface", service.bsdName.value_or("")}},
        service.enabled ? 1 : 0);
  }
  out.push_back(std::move(enabled));

  MetricFamily primary = family("beaconbar_primary_interface_info",
                                "The interface holding the primary route, per IP version.", MetricType::gauge);
  if (configuration.primaryIPv4Interface) add(primary, {{"family", "ipv4"}, {"interface", *configuration.primaryIPv4Interface}}, 1);
  if (configuration.primaryIPv6Interface) add(primary, {{"family", "ipv6"}, {"interface", *configuration.primaryIPv6Interface}}, 1);
  out.push_back(std::move(primary));
}

void addPublicFamilies(std::vector<MetricFamily>& out, const PublicAddressState& state) {
  MetricFamily info = family("beaconbar_public_address_info",
                             "The public address the lookup service last reported, per IP version.",
                             MetricType::gauge);
  MetricFamily success = family("beaconbar_public_address_last_success_timestamp_seconds",
                                "When a lookup last found the public address, per IP version.", MetricType::gauge);
  MetricFamily failures = family("beaconbar_public_address_lookup_failures_total",
                                 "Public address lookups that failed, per IP version and kind of error.",
                                 MetricType::counter);
  const std::pair<const char*, const PublicFamilyState*> sides[] = {{"ipv4", &state.ipv4}, {"ipv6", &state.ipv6}};
  for (const auto& [name, side] : sides) {
    if (side->address) add(info, {{"family", name}, {"address", *side->address}, {"provider", state.provider}}, 1);
    if (side->lastSuccess) add(success, {{"family", name}}, *side->lastSuccess);
    for (const auto& [kind, count] : side->failures) {
      add(failures, {{"family", name}, {"kind", kind}}, static_cast<double>(count));
    }
  }
  out.push_back(std::move(info));
  out.push_back(std::move(success));
  out.push_back(std::move(failures));
}

void recordSide(PublicFamilyState& side, const std::optional<std::string>& address, const std::string& kind,
                double now) {
  if (address) {
    side.address = address;
    side.lastSuccess = now;
  } else {
    ++side.failures[kind];
  }
}

}  // namespace

void recordLookup(PublicAddressState& state, const PublicIPResult& result, double now) {
  // The result carries a reason only when both sides failed, and then it
  // is the IPv4 side's; IPv6 most likely failed the same way.
  const std::string kind = result.error ? lookupFailureKind(*result.error) : "unknown";
  recordSide(state.ipv4, result.ipv4, kind, now);
  recordSide(state.ipv6, result.ipv6, kind, now);
}

std::string lookupFailureKind(const std::string& errorText) {
  // The status closes the text: compare what comes before it.
  const std::string http = PublicIPError::http(0).description();
  if (errorText.starts_with(std::string_view(http).substr(0, http.rfind(' ') + 1))) return "http";
  if (errorText == PublicIPError::badURL().description()) return "bad_url";
  if (errorText == PublicIPError::malformed().description()) return "malformed";
  if (errorText == PublicIPError::noAddress().description()) return "no_address";
  if (errorText == PublicIPService::timedOutError().description) return "timeout";
  if (errorText == PublicIPService::cancelledError().description) return "cancelled";
  return "network";
}

std::string functionalTypeLabel(FunctionalType type) {
  switch (type) {
    case FunctionalType::unknown:
      return "unknown";
    case FunctionalType::loopback:
      return "loopback";
    case FunctionalType::wired:
      return "wired";
    case FunctionalType::wifiInfra:
      return "wifi_infra";
    case FunctionalType::wifiAWDL:
      return "wifi_awdl";
    case FunctionalType::cellular:
      return "cellular";
    case FunctionalType::intcoproc:
      return "intcoproc";
    case FunctionalType::companionLink:
      return "companion_link";
    case FunctionalType::management:
      return "management";
  }
  return "unknown";
}

std::vector<MetricFamily> buildFamilies(const MachineReading& reading, const PublicAddressState& publicAddresses,
                                        const ReaderHealth& health) {
  std::vector<MetricFamily> out;
  addInterfaceFamilies(out, reading);
  addConfigurationFamilies(out, reading.configuration);
  addPublicFamilies(out, publicAddresses);

  MetricFamily tunnels = family("beaconbar_tunnel_owner_info",
                                "The process that holds each tunnel interface open.", MetricType::gauge);
  if (reading.tunnelOwners) {
    for (const auto& [interface, owner] : *reading.tunnelOwners) {
      add(tunnels,
          {{"interface", interface}, {"pid", std::to_string(owner.pid)}, {"process", owner.name}, {"path", owner.path}},
          1);
    }
  }
  out.push_back(std::move(tunnels));

  MetricFamily duration = family("beaconbar_scrape_duration_seconds",
                                 "How long the reading of the machine behind this output took.", MetricType::gauge);
  add(duration, {}, health.readingSeconds);
  out.push_back(std::move(duration));
  MetricFamily errors = family("beaconbar_reading_errors_total",
                               "Readings of a source that failed, per source.", MetricType::counter);
  for (const auto& [source, count] : health.readingErrors) add(errors, {{"source", source}}, static_cast<double>(count));
  out.push_back(std::move(errors));
  return out;
}

}  // namespace bcn::metrics
