// PublicAddresses: the public IPv4 and IPv6 addresses the tray's menu
// shows. A lookup starts when the menu first opens, again on an opening
// at least ten minutes after the last one started, and whenever the user
// asks for a refresh; never two at once. The lookup runs on a thread of its
// own, so the GUI thread never waits for the network; its result arrives
// through the event loop and is announced by changed().
//
// Thread: a QObject of the GUI thread; all methods run there. Lifetimes:
// the destructor asks a running lookup to stop and waits for it (the
// library ends a lookup promptly when asked); a result that was already
// on its way is dropped.
// REQUIRES: a QCoreApplication exists and the object lives on its thread.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/date.h"
#include "tools/beaconbar/public_ip_format.h"

namespace bcn::tray {

// One lookup through the provider named `provider` (as the command line's
// --provider names it); it ends soon after `stop` is requested. Called on
// a worker thread. The live one is lookUpPublicAddresses (network_lookups.h).
using PublicLookupFunction = std::function<cli::PublicAddressReport(const std::string& provider, std::stop_token stop)>;

class PublicAddresses : public QObject {
  Q_OBJECT

 public:
  // The menu looks up again on opening after this long.
  static constexpr double kRefreshSeconds = 600;
  static constexpr const char* kDefaultProvider = "echoA";

  PublicAddresses(PublicLookupFunction lookup, std::function<Date()> now, QObject* parent = nullptr);
  ~PublicAddresses() override;

  // Starts a lookup when none has been made yet or the last one started
  // kRefreshSeconds ago or more (or the clock went back).
  void menuOpened();
  // Starts a lookup now, unless one is running.
  void refresh();

  // Used from the next lookup on.
  void setProvider(std::string provider) { provider_ = std::move(provider); }
  const std::string& provider() const { return provider_; }

  bool lookingUp() const { return lookingUp_; }
  // The last finished lookup; none before the first one ends.
  const std::optional<cli::PublicAddressReport>& report() const { return report_; }

 signals:
  void changed();

 private:
  void start();
  void finish(cli::PublicAddressReport report);

  PublicLookupFunction lookup_;
  std::function<Date()> now_;
  std::string provider_ = kDefaultProvider;
  std::optional<double> lastStarted_;
  bool lookingUp_ = false;
  std::optional<cli::PublicAddressReport> report_;
  std::jthread worker_;  // last, so it is joined before the rest goes
};

}  // namespace bcn::tray
