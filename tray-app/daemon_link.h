// DaemonLink: the admin daemon's app service as the tray uses it: the
// pairing handshake and switching services, each failure already the one
// line the menu shows (the command line's texts, daemon_errors.h). An
// interface so that the tray's tests answer for the daemon.
//
// Thread: a link is used by one worker thread at a time; connecting is
// thread-safe. Closing a link (destroying it) ends its session with the
// daemon, which withdraws a pairing request still waiting.
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace bcn::tray {

class DaemonLink {
 public:
  virtual ~DaemonLink() = default;

  // A new pairing request's id.
  virtual std::expected<std::string, std::string> beginPairing() = 0;
  // Waits for the administrator's decision on `requestID`: the token, the
  // denial, or "cancelled" soon after `stop` is requested.
  virtual std::expected<std::string, std::string> awaitPairing(const std::string& requestID, std::stop_token stop) = 0;
  // Ends the pairing `token` holds.
  virtual std::expected<void, std::string> unpair(const std::string& token) = 0;
  virtual std::expected<void, std::string> setServiceEnabled(const std::string& serviceID, bool enabled,
                                                             const std::string& token) = 0;
};

// Opens a link, or says why the daemon cannot be reached.
using DaemonConnector = std::function<std::expected<std::unique_ptr<DaemonLink>, std::string>()>;

// The daemon's app-service socket, as the command line reaches it.
std::expected<std::unique_ptr<DaemonLink>, std::string> connectDaemon();

}  // namespace bcn::tray
