// beaconbar-exporter: serves Beaconbar's readings of this machine at
// GET /metrics for Prometheus. Parses the command line, starts the public
// address lookup in the background and the HTTP server in the foreground;
// SIGTERM or SIGINT ends it. A failure to start is one line on standard
// error and exit status 1.
#include <systemd/sd-daemon.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <thread>

#include "exporter/exposition.h"
#include "exporter/http_server.h"
#include "exporter/listen_address.h"
#include "exporter/machine_sampler.h"
#include "exporter/public_address_poller.h"
#include "netcore/publicip/public_ip_provider.h"
#include "netcore/publicip/public_ip_service.h"

namespace {

using namespace bcn::metrics;

int run(int argc, char** argv) {
  CLI::App app{"Prometheus exporter for Beaconbar: interfaces, services, tunnel owners and public addresses.",
               "beaconbar-exporter"};
  app.set_version_flag("--version", BEACONBAR_VERSION);
  std::string listen(kDefaultListen);
  app.add_option("--listen", listen, "Address and port to serve /metrics on (HOST:PORT, [IPV6]:PORT)")
      ->capture_default_str();
  std::string provider = "echoA";
  app.add_option("--public-ip-provider", provider, "Public address service: echoA or echoB")
      ->check(CLI::IsMember({"echoA", "echoB"}))
      ->capture_default_str();
  std::optional<std::string> url;
  app.add_option("--public-ip-url", url, "Ask this http(s) URL for the public address instead");
  std::optional<std::string> jsonKey;
  app.add_option("--public-ip-json-key", jsonKey, "Where a JSON answer holds the address, e.g. data.ip");
  double interval = 600;
  app.add_option("--public-ip-interval", interval, "Seconds between public address lookups (0: never look up)")
      ->check(CLI::Range(0.0, 86400.0 * 7))
      ->capture_default_str();
  double readingAge = 1;
  app.add_option("--reading-max-age", readingAge,
                 "Seconds a reading serves further scrapes before the kernel is read again")
      ->check(CLI::Range(0.0, 60.0))
      ->capture_default_str();
  std::size_t maxConnections = 64;
  app.add_option("--max-connections", maxConnections, "Connections served at once; more are closed")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  HttpServer::Options options;
  options.maxConnections = maxConnections;
  // A listening socket from systemd's socket unit takes the place of --listen.
  if (sd_listen_fds(1) == 1) {
    options.adoptedSocket = SD_LISTEN_FDS_START;
  } else {
    auto address = parseListenAddress(listen);
    if (!address) {
      std::fprintf(stderr, "beaconbar-exporter: --listen: %s\n", address.error().c_str());
      return 2;
    }
    options.address = address->host;
    options.port = address->port;
  }

  // Signals are taken by one thread with sigwait; every other thread
  // inherits the mask set here.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::optional<PublicAddressPoller> poller;
  if (interval > 0) {
    const auto builtIn = bcn::PublicIPProvider::fromRawValue(provider);
    const std::string lookupURL = url ? *url : *builtIn->url();
    const std::string title = url ? *url : std::string(builtIn->title());
    poller.emplace(
        title,
        [lookupURL, jsonKey](std::stop_token stop) {
          return bcn::PublicIPService::lookup(lookupURL, jsonKey ? std::optional<std::string_view>(*jsonKey) : std::nullopt,
                                              stop);
        },
        std::chrono::milliseconds(static_cast<std::int64_t>(interval * 1000)));
  }

  MachineSampler sampler(machineSource(std::chrono::milliseconds(1000)),
                         std::chrono::milliseconds(static_cast<std::int64_t>(readingAge * 1000)));
  std::optional<HttpServer> server;
  try {
    server.emplace(options, [&] {
      const auto reading = sampler.sample();
      const PublicAddressState publicAddresses = poller ? poller->state() : PublicAddressState{};
      return writeExposition(buildFamilies(reading->reading, publicAddresses, reading->health));
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beaconbar-exporter: cannot listen on %s: %s\n", listen.c_str(), e.what());
    return 1;
  }
  std::fprintf(stderr, "beaconbar-exporter: serving /metrics on port %u\n", static_cast<unsigned>(server->port()));

  std::jthread signalThread([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    server->stop();
  });
  sd_notify(0, "READY=1");
  server->run();
  // Stopped by a signal; when run() ended otherwise, wake the signal thread.
  pthread_kill(signalThread.native_handle(), SIGTERM);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beaconbar-exporter: %s\n", e.what());
    return 1;
  }
}
