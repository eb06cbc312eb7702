// ServiceSwitches: turning the network services on and off from the
// tray's menu, through the admin daemon, as this user's stored pairing
// token allows (the token file the command line keeps, token_file.h). The
// token is read again each time the menu opens, so a `beaconbar pair` or
// `unpair` meanwhile shows at once. One switch at a time; it runs on a
// thread of its own, since the daemon waits for the machine-wide
// preferences lock. A failure stays in the menu until the next switch; a
// success is announced by switched() (the new state itself arrives with
// the configuration).
//
// Thread: a QObject of the GUI thread; all methods run there. Lifetimes:
// the destructor waits for a running switch (its call has a time limit).
// REQUIRES: a QCoreApplication exists and the object lives on its thread.
#pragma once

#include <QObject>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "netcore/sysconfig/network_metadata.h"
#include "tray-app/daemon_link.h"

namespace bcn::tray {

class ServiceSwitches : public QObject {
  Q_OBJECT

 public:
  ServiceSwitches(DaemonConnector connect, std::filesystem::path tokenFile, QObject* parent = nullptr);
  ~ServiceSwitches() override;

  // Reads the token file again.
  void readToken();
  // A token is stored.
  bool paired() const { return token_.has_value(); }
  // Why the token file could not be used ("" when it could).
  const std::string& tokenProblem() const { return tokenProblem_; }

  // Asks the daemon to switch `service` on or off, unless a switch is
  // running or no token is stored.
  void setEnabled(const NetworkService& service, bool enabled);
  // The id of the service being switched, or "".
  const std::string& switching() const { return switching_; }
  // "Could not switch Wi-Fi off: <the daemon's reason>", or "".
  const std::string& problem() const { return problem_; }

 signals:
  void changed();
  void switched();

 private:
  void finish(std::string problem);

  DaemonConnector connect_;
  std::filesystem::path tokenFile_;
  std::optional<std::string> token_;
  std::string tokenProblem_;
  std::string switching_;
  std::string problem_;
  std::jthread worker_;  // last, so it is joined before the rest goes
};

}  // namespace bcn::tray
