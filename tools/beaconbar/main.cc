// beaconbar: the command line over the network-status library. Parses the
// command line and hands each subcommand to commands.h; every failure ends
// as one line on standard error and a non-zero exit status.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"

namespace {

using namespace bcn::cli;

void addJsonFlag(CLI::App& command, bool& json) {
  command.add_flag("--json", json, "Print JSON instead of text (keys in docs/cli.md)");
}

void addProviderOption(CLI::App& command, std::string& provider) {
  command.add_option("--provider", provider, "Public address service: echoA or echoB")
      ->check(CLI::IsMember({"echoA", "echoB"}))
      ->capture_default_str();
}

int run(int argc, char** argv) {
  CLI::App app{
      "Network interfaces, traffic, services, tunnels and public addresses of this machine; the admin "
      "daemon's app-service client.",
      "beaconbar"};
  app.set_version_flag("--version", BEACONBAR_VERSION);
  app.require_subcommand(0, 1);
  bool json = false;
  addJsonFlag(app, json);
  // Options of the top level (--json) are accepted after the subcommand too.
  app.fallthrough();

  OverviewOptions overview;
  CLI::App* overviewCommand = app.add_subcommand(
      "overview", "Interfaces with state, addresses and current rates, tunnel owners, public addresses (default)");
  bool noPublicAddress = false;
  overviewCommand->add_flag("--no-public-ip", noPublicAddress, "Skip the public address lookup");
  addProviderOption(*overviewCommand, overview.provider);

  InterfacesOptions interfaces;
  CLI::App* interfacesCommand = app.add_subcommand("interfaces", "Every interface in detail, ifconfig style");
  interfacesCommand->add_option("NAME", interfaces.names, "Only these interfaces");

  WatchOptions watch;
  CLI::App* watchCommand =
      app.add_subcommand("watch", "Live traffic rates, recorded into the traffic history until Ctrl-C");
  watchCommand->add_option("NAME", watch.names, "Only show these interfaces");
  watchCommand->add_option("--interval", watch.intervalSeconds, "Seconds between readings")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  watchCommand->add_option("--history-file", watch.historyFile,
                           "History file (default $XDG_STATE_HOME/beaconbar/history.plist)");

  RecordOptions record;
  CLI::App* recordCommand = app.add_subcommand(
      "record", "Record the traffic history without output until stopped (the beaconbar-record user service)");
  recordCommand->add_option("--interval", record.intervalSeconds, "Seconds between readings")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  recordCommand->add_option("--save-every", record.saveEverySeconds, "Seconds between saves of the history")
      ->check(CLI::Range(1.0, 3600.0))
      ->capture_default_str();
  recordCommand->add_option("--history-file", record.historyFile,
                            "History file (default $XDG_STATE_HOME/beaconbar/history.plist)");

  HistoryOptions history;
  CLI::App* historyCommand = app.add_subcommand("history", "Traffic of the last hour, day and 30 days, as recorded");
  historyCommand->add_option("NAME", history.names, "Only these interfaces");
  historyCommand->add_option("--samples", history.samples, "Newest raw samples to list per interface")
      ->check(CLI::Range(0, 10000))
      ->capture_default_str();
  historyCommand->add_option("--history-file", history.historyFile,
                             "History file (default $XDG_STATE_HOME/beaconbar/history.plist)");
  historyCommand->add_option("--chart", history.chart,
                             "Draw the charts into FILE.png or FILE.svg instead (needs beaconbar-chart)");
  historyCommand->add_option("--period", history.period, "Period of the chart: hour, day or month")
      ->capture_default_str();
  historyCommand->add_option("--size", history.size, "Size of the chart in pixels, WxH (default 800x500)");

  CLI::App* servicesCommand =
      app.add_subcommand("services", "Network services in order, with state, interface and the primary ones");
  servicesCommand->require_subcommand(0, 1);
  CLI::App* servicesWatchCommand =
      servicesCommand->add_subcommand("watch", "Print the network configuration keys that change, until Ctrl-C");

  CLI::App* tunnelsCommand = app.add_subcommand(
      "tunnels", "The processes that own tunnel interfaces (as root, otherwise through the admin daemon)");

  CLI::App* statusCommand = app.add_subcommand("status", "Whether the admin daemon runs and this user is paired");
  CLI::App* pairCommand =
      app.add_subcommand("pair", "Ask the admin daemon for a pairing and wait for an administrator's approval");
  CLI::App* unpairCommand = app.add_subcommand("unpair", "Give up this user's pairing and remove its token");
  ServiceSwitchOptions serviceSwitch;
  std::string serviceState;
  CLI::App* serviceCommand =
      app.add_subcommand("service", "Switch a network service on or off through the admin daemon (needs pairing)");
  serviceCommand->add_option("STATE", serviceState, "on or off")->check(CLI::IsMember({"on", "off"}))->required();
  serviceCommand->add_option("ID", serviceSwitch.serviceID, "Service id, as beaconbar services lists it")->required();

  PublicIPOptions publicIP;
  CLI::App* publicIPCommand = app.add_subcommand("public-ip", "This machine's public IPv4 and IPv6 addresses");
  CLI::Option* providerOption =
      publicIPCommand->add_option("--provider", publicIP.provider, "Public address service: echoA or echoB")
          ->check(CLI::IsMember({"echoA", "echoB"}))
          ->capture_default_str();
  publicIPCommand->add_option("--url", publicIP.url, "Ask this http(s) URL instead of a provider")
      ->excludes(providerOption);
  publicIPCommand->add_option("--json-key-path", publicIP.jsonKeyPath,
                              "Where a JSON answer keeps the address, e.g. data.ip");

  PinsResolveOptions pins;
  MetricsOptions metricsOptions;
  CLI::App* metricsCommand = app.add_subcommand(
      "metrics", "One reading in the Prometheus text format (for node_exporter's textfile collector)");
  metricsCommand->add_option("--textfile", metricsOptions.textfileDirectory,
                             "Write DIR/beaconbar.prom atomically instead of standard output")
      ->check(CLI::ExistingDirectory);
  metricsCommand->add_flag("--public-ip", metricsOptions.publicAddress, "Also look up the public addresses");
  addProviderOption(*metricsCommand, metricsOptions.provider);

  CLI::App* pinsCommand = app.add_subcommand("pins", "Pinned interfaces");
  pinsCommand->require_subcommand(1);
  CLI::App* resolveCommand =
      pinsCommand->add_subcommand("resolve", "Which live interface each saved pin stands for now");
  resolveCommand->add_option("PINS.json", pins.file, "JSON array of saved interface fingerprints")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return fail(std::string(e.what()) + " (see beaconbar --help)", kExitUsage);
  }

  if (interfacesCommand->parsed()) return runInterfaces({json, interfaces.names});
  if (watchCommand->parsed()) {
    watch.json = json;
    return runWatch(watch);
  }
  if (recordCommand->parsed()) return runRecord(record);
  if (historyCommand->parsed()) {
    history.json = json;
    return runHistory(history);
  }
  if (servicesWatchCommand->parsed()) return runServicesWatch({json});
  if (servicesCommand->parsed()) return runServices({json});
  if (tunnelsCommand->parsed()) return runTunnels({json});
  if (statusCommand->parsed()) return runStatus({json});
  if (pairCommand->parsed()) return runPair({json});
  if (unpairCommand->parsed()) return runUnpair({json});
  if (serviceCommand->parsed()) {
    serviceSwitch.json = json;
    serviceSwitch.enabled = serviceState == "on";
    return runServiceSwitch(serviceSwitch);
  }
  if (publicIPCommand->parsed()) {
    publicIP.json = json;
    return runPublicIP(publicIP);
  }
  if (metricsCommand->parsed()) return runMetrics(metricsOptions);
  if (resolveCommand->parsed()) {
    pins.json = json;
    return runPinsResolve(pins);
  }
  overview.json = json;
  overview.publicAddress = !noPublicAddress;
  return runOverview(overview);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    return fail(std::string("internal error: ") + e.what());
  }
}
