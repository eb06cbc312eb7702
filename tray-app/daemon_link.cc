#include "tray-app/daemon_link.h"

#include <chrono>
#include <future>

#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/daemon_errors.h"

namespace bcn::tray {
namespace {

using namespace std::chrono_literals;

// Switching a service waits for the machine-wide preferences lock, as on
// the command line.
constexpr auto kServiceSwitchLimit = 30s;

class AppServiceLink : public DaemonLink {
 public:
  explicit AppServiceLink(AdminAppClient client) : client_(std::move(client)) {}

  std::expected<std::string, std::string> beginPairing() override {
    auto id = client_.beginPairing();
    if (!id) return std::unexpected(cli::describeDaemonError(id.error(), cli::DaemonCall::beginPairing));
    return *id;
  }

  std::expected<std::string, std::string> awaitPairing(const std::string& requestID, std::stop_token stop) override {
    // The decision may take as long as the administrator does; the
    // asynchronous call leaves this thread free to notice a cancellation.
    auto decision = std::make_shared<std::promise<std::expected<std::string, PlatformError>>>();
    auto decided = decision->get_future();
    client_.awaitPairing(
        requestID, [decision](std::expected<std::string, PlatformError> r) { decision->set_value(std::move(r)); });
    while (decided.wait_for(100ms) != std::future_status::ready) {
      if (stop.stop_requested()) return std::unexpected("cancelled");
    }
    auto token = decided.get();
    if (!token) return std::unexpected(cli::describeDaemonError(token.error(), cli::DaemonCall::awaitPairing));
    return *token;
  }

  std::expected<void, std::string> unpair(const std::string& token) override {
    auto done = client_.unpair(token);
    if (!done) return std::unexpected(cli::describeDaemonError(done.error(), cli::DaemonCall::unpair));
    return {};
  }

  std::expected<void, std::string> setServiceEnabled(const std::string& serviceID, bool enabled,
                                                     const std::string& token) override {
    auto done = client_.setServiceEnabled(serviceID, enabled, token, kServiceSwitchLimit);
    if (!done) return std::unexpected(cli::describeDaemonError(done.error(), cli::DaemonCall::setService));
    return {};
  }

 private:
  AdminAppClient client_;
};

}  // namespace

std::expected<std::unique_ptr<DaemonLink>, std::string> connectDaemon() {
  auto client = cli::connectAppService();
  if (!client) return std::unexpected(client.error());
  return std::make_unique<AppServiceLink>(std::move(*client));
}

}  // namespace bcn::tray
