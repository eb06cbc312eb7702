// The subcommands of `beaconbar`. Each gathers its model values from the
// library, formats them (text or JSON) and returns the process exit status;
// failures are reported through fail() as one line. main.cc only parses
// the command line and dispatches here.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bcn::cli {

struct OverviewOptions {
  bool json = false;
  bool publicAddress = true;
  std::string provider = "echoA";
  double sampleSeconds = 1.0;
  double lookupLimitSeconds = 3.0;
};
int runOverview(const OverviewOptions& options);

struct InterfacesOptions {
  bool json = false;
  std::vector<std::string> names;
};
int runInterfaces(const InterfacesOptions& options);

struct WatchOptions {
  bool json = false;
  std::vector<std::string> names;
  double intervalSeconds = 1.0;
  std::optional<std::string> historyFile;
  double saveEverySeconds = 60.0;
};
int runWatch(const WatchOptions& options);

// What watch records, without output, until SIGINT, SIGTERM or SIGHUP.
struct RecordOptions {
  double intervalSeconds = 1.0;
  std::optional<std::string> historyFile;
  double saveEverySeconds = 60.0;
};
int runRecord(const RecordOptions& options);

struct HistoryOptions {
  bool json = false;
  std::vector<std::string> names;
  std::optional<std::string> historyFile;
  int samples = 5;
  // With a chart file, draws the charts into it instead of printing.
  std::optional<std::string> chart;
  std::string period = "day";
  std::string size;  // WxH; empty for the default
};
int runHistory(const HistoryOptions& options);

struct TunnelsOptions {
  bool json = false;
};
int runTunnels(const TunnelsOptions& options);

struct ServicesOptions {
  bool json = false;
};
int runServices(const ServicesOptions& options);
// Runs until Ctrl-C or until its output goes away.
int runServicesWatch(const ServicesOptions& options);

// The admin daemon's app service: status, pair, unpair.
struct DaemonOptions {
  bool json = false;
};
int runStatus(const DaemonOptions& options);
int runPair(const DaemonOptions& options);
int runUnpair(const DaemonOptions& options);

struct ServiceSwitchOptions {
  bool json = false;
  std::string serviceID;
  bool enabled = false;
};
int runServiceSwitch(const ServiceSwitchOptions& options);

struct PublicIPOptions {
  bool json = false;
  std::string provider = "echoA";
  std::optional<std::string> url;
  std::optional<std::string> jsonKeyPath;
};
int runPublicIP(const PublicIPOptions& options);

struct MetricsOptions {
  // Write <dir>/beaconbar.prom instead of standard output.
  std::optional<std::string> textfileDirectory;
  bool publicAddress = false;
  std::string provider = "echoA";
};
int runMetrics(const MetricsOptions& options);

struct PinsResolveOptions {
  bool json = false;
  std::string file;
};
int runPinsResolve(const PinsResolveOptions& options);

// The history file named on the command line, or the default location
// from the environment.
std::expected<std::filesystem::path, std::string> historyPath(const std::optional<std::string>& given);

}  // namespace bcn::cli
