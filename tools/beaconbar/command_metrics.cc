// metrics: one reading of the machine in the Prometheus text format, on
// standard output or, with --textfile DIR, as DIR/beaconbar.prom for
// node_exporter's textfile collector. The file is replaced atomically, so
// the collector never reads half of it.
#include <chrono>
#include <cstdio>

#include "exporter/metrics_model.h"
#include "netcore/interfaces/interface_reader.h"
#include "netcore/publicip/public_ip_provider.h"
#include "netcore/publicip/public_ip_service.h"
#include "netcore/sysconfig/system_configuration_reader.h"
#include "platform/files.h"
#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"

namespace bcn::cli {

int runMetrics(const MetricsOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  metrics::MachineReading reading;
  metrics::ReaderHealth health;
  {
    InterfaceReader reader;
    reading.interfaces = reader.snapshot();
  }
  reading.configuration = SystemConfigurationReader::read();
  auto owners = readTunnelOwners(std::chrono::seconds(2));
  if (owners) {
    reading.tunnelOwners.emplace(owners->begin(), owners->end());
  } else {
    health.readingErrors["tunnel_owners"] = 1;
  }
  health.readingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  metrics::PublicAddressState publicAddresses;
  if (options.publicAddress) {
    const auto provider = PublicIPProvider::fromRawValue(options.provider);
    publicAddresses.provider = std::string(provider->title());
    const PublicIPResult result = PublicIPService::lookup(*provider->url());
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    metrics::recordLookup(publicAddresses, result, now);
  }

  const std::string text = metrics::writeExposition(metrics::buildFamilies(reading, publicAddresses, health));
  if (!options.textfileDirectory) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  const std::filesystem::path path = std::filesystem::path(*options.textfileDirectory) / "beaconbar.prom";
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  // World-readable: node_exporter runs as its own user.
  auto written = files::writeFileAtomically(path, bytes, 0644);
  if (!written) return fail("cannot write " + path.string() + ": " + written.error().description);
  return 0;
}

}  // namespace bcn::cli
