// TunnelOwnerList: the tunnel interfaces the tray's menu lists, each with
// the program that holds it open, as the admin daemon reports them (only
// root sees every process's descriptors). Asked afresh each time the menu
// opens, on a thread of its own, since the daemon may be slow or gone; the
// answer arrives through the event loop and is announced by changed().
// When the daemon cannot be asked, the list says why instead.
//
// Thread: a QObject of the GUI thread; all methods run there. Lifetimes:
// the destructor waits for a running query (the daemon call has a time
// limit); an answer already on its way is dropped.
// REQUIRES: a QCoreApplication exists and the object lives on its thread.
#pragma once

#include <QObject>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "tools/beaconbar/tunnel_format.h"

namespace bcn::tray {

// Called on a worker thread; the error is the one line to show. The live
// one is queryTunnelOwners (network_lookups.h).
using TunnelOwnerQuery = std::function<std::expected<cli::TunnelOwnerMap, std::string>()>;

// "utun3  WireGuard (pid 812)", or "utun3  owner unknown" when the owning
// program's name could not be read.
std::string tunnelOwnerLabel(const std::string& interface, const TunnelOwner& owner);

class TunnelOwnerList : public QObject {
  Q_OBJECT

 public:
  explicit TunnelOwnerList(TunnelOwnerQuery query, QObject* parent = nullptr);
  ~TunnelOwnerList() override;

  // Asks again unless a query is running.
  void menuOpened();

  bool asking() const { return asking_; }
  // The last answer, or why there is none; nothing before the first.
  const std::optional<std::expected<cli::TunnelOwnerMap, std::string>>& owners() const { return owners_; }

 signals:
  void changed();

 private:
  void finish(std::expected<cli::TunnelOwnerMap, std::string> owners);

  TunnelOwnerQuery query_;
  bool asking_ = false;
  std::optional<std::expected<cli::TunnelOwnerMap, std::string>> owners_;
  std::jthread worker_;  // last, so it is joined before the rest goes
};

}  // namespace bcn::tray
