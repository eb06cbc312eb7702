// status, pair, unpair and service on|off: the tool as the admin daemon's
// app-service client, standing in for the menu-bar app.
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/daemon_errors.h"
#include "tools/beaconbar/pairing_status.h"
#include "tools/beaconbar/signal_waiter.h"
#include "tools/beaconbar/terminal.h"
#include "tools/beaconbar/token_file.h"

namespace bcn::cli {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

// Switching a service waits for the machine-wide preferences lock.
constexpr auto kServiceSwitchLimit = 30s;

struct Paired {
  std::filesystem::path file;
  std::optional<std::string> token;
};

std::expected<Paired, std::string> storedToken() {
  auto path = tokenPath();
  if (!path) return std::unexpected(path.error());
  auto token = readToken(*path);
  if (!token) return std::unexpected(token.error());
  return Paired{*path, std::move(*token)};
}

// Waits for the administrator's decision with a spinner on a terminal;
// nothing when Ctrl-C came first.
std::optional<std::expected<std::string, PlatformError>> waitForDecision(AdminAppClient& client,
                                                                         const std::string& requestID,
                                                                         SignalWaiter& signals) {
  auto decision = std::make_shared<std::promise<std::expected<std::string, PlatformError>>>();
  auto decided = decision->get_future();
  client.awaitPairing(requestID,
                      [decision](std::expected<std::string, PlatformError> r) { decision->set_value(std::move(r)); });
  const bool spinner = isTerminal(stderr);
  const std::string message = "Waiting for an administrator to approve the request (Ctrl-C withdraws it)...";
  std::size_t frame = 0;
  while (decided.wait_for(0s) != std::future_status::ready) {
    if (spinner) {
      std::fputs(spinnerLine(frame++, message).c_str(), stderr);
      std::fflush(stderr);
    }
    if (signals.waitFor(100ms)) break;
  }
  if (spinner) {
    std::fputs(spinnerClear().c_str(), stderr);
    std::fflush(stderr);
  }
  if (decided.wait_for(0s) != std::future_status::ready) return std::nullopt;
  return decided.get();
}

}  // namespace

int runStatus(const DaemonOptions& options) {
  auto stored = storedToken();
  if (!stored) return fail(stored.error());
  auto client = connectAppService();
  if (!client) return fail(client.error());
  auto status = client->status(stored->token);
  if (!status) return fail(describeDaemonError(status.error(), DaemonCall::status));
  const PairingStatusReport report{*status, stored->file, stored->token.has_value()};
  if (options.json) {
    printJson(pairingStatusJson(report));
  } else {
    printText(formatPairingStatus(report));
  }
  return 0;
}

int runPair(const DaemonOptions& options) {
  auto stored = storedToken();
  if (!stored) return fail(stored.error());
  if (auto ready = prepareTokenDirectory(stored->file); !ready) return fail(ready.error());
  SignalWaiter signals;  // before the client's I/O thread exists
  auto client = connectAppService();
  if (!client) return fail(client.error());

  if (stored->token) {
    auto status = client->status(stored->token);
    if (status && status->paired.value_or(false)) {
      if (options.json) {
        printJson({{"paired", true}, {"requestID", nullptr}, {"tokenFile", stored->file.string()}});
      } else {
        printText("Already paired; the token is in " + stored->file.string() +
                  ". Run beaconbar unpair first to pair afresh.\n");
      }
      return 0;
    }
  }

  auto requestID = client->beginPairing();
  if (!requestID) return fail(describeDaemonError(requestID.error(), DaemonCall::beginPairing));
  // The administrator needs the id; with --json standard output is kept
  // for the one result object.
  std::FILE* hint = options.json ? stderr : stdout;
  std::fprintf(hint,
               "Pairing request %s is waiting for an administrator.\n"
               "Approve it in Beaconbar Admin, or run: beaconbar-adminctl approve %s\n",
               requestID->c_str(), requestID->c_str());
  std::fflush(hint);

  auto decision = waitForDecision(*client, *requestID, signals);
  // Closing the connection ends the session, which withdraws the request.
  if (!decision) return fail("interrupted; the pairing request was withdrawn", kExitInterrupted);
  if (!*decision) return fail(describeDaemonError(decision->error(), DaemonCall::awaitPairing));
  const std::string& token = **decision;
  if (!isWellFormedToken(token)) return fail("the admin daemon sent a malformed token; nothing was stored");
  if (auto written = writeToken(stored->file, token); !written) {
    // A pairing nobody holds the token of would stay on the daemon's books.
    (void)client->unpair(token);
    return fail(written.error() + "; the pairing was withdrawn");
  }
  if (options.json) {
    printJson({{"paired", true}, {"requestID", *requestID}, {"tokenFile", stored->file.string()}});
  } else {
    printText("Paired with the admin daemon; the token is stored in " + stored->file.string() + ".\n");
  }
  return 0;
}

int runUnpair(const DaemonOptions& options) {
  auto stored = storedToken();
  if (!stored) return fail(stored.error());
  if (!stored->token) return fail("not paired: there is no token in " + stored->file.string());
  auto client = connectAppService();
  if (!client) return fail(client.error());
  // The daemon forgets the token, or never knew it; either way it pairs
  // nothing afterwards and the file can go.
  if (auto done = client->unpair(*stored->token); !done) {
    return fail(describeDaemonError(done.error(), DaemonCall::unpair));
  }
  if (auto removed = removeToken(stored->file); !removed) return fail(removed.error());
  if (options.json) {
    printJson({{"paired", false}, {"tokenFile", stored->file.string()}});
  } else {
    printText("Unpaired; the token " + stored->file.string() + " was removed.\n");
  }
  return 0;
}

int runServiceSwitch(const ServiceSwitchOptions& options) {
  auto stored = storedToken();
  if (!stored) return fail(stored.error());
  if (!stored->token)
    return fail("not paired with the admin daemon (no token in " + stored->file.string() + "); run: beaconbar pair");
  auto client = connectAppService();
  if (!client) return fail(client.error());
  auto done = client->setServiceEnabled(options.serviceID, options.enabled, *stored->token, kServiceSwitchLimit);
  if (!done) return fail(describeDaemonError(done.error(), DaemonCall::setService));
  if (options.json) {
    printJson({{"serviceID", options.serviceID}, {"enabled", options.enabled}});
  } else {
    printText("Service " + options.serviceID + " switched " + (options.enabled ? "on" : "off") + ".\n");
  }
  return 0;
}

}  // namespace bcn::cli
