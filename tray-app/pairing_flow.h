// PairingFlow: the tray's "Pair with the admin helper…": the handshake the
// command line's `beaconbar pair` does, on a thread of its own. It asks the
// daemon for a pairing request, shows its id while an administrator
// decides, and stores the token it is then given in the same token file
// the command line uses (token_file.h), so either program pairs both. The
// user can cancel while it waits; closing the connection withdraws the
// request on the daemon's side.
//
// Thread: a QObject of the GUI thread; all methods run there. Results of a
// cancelled run are dropped, and a new run need not wait for a cancelled
// one still inside a daemon call. Lifetimes: the destructor cancels every
// run and waits for their threads (at most a daemon call's time limit).
// REQUIRES: a QCoreApplication exists and the object lives on its thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tray-app/daemon_link.h"

namespace bcn::tray {

class PairingFlow : public QObject {
  Q_OBJECT

 public:
  enum class Stage { idle, requesting, waiting };

  PairingFlow(DaemonConnector connect, std::filesystem::path tokenFile, QObject* parent = nullptr);
  ~PairingFlow() override;

  // Starts the handshake unless one is running.
  void start();
  // Withdraws a running handshake; nothing is stored.
  void cancel();

  Stage stage() const { return stage_; }
  // The daemon's id for the waiting request ("" before it is known).
  const std::string& requestID() const { return requestID_; }
  // How the last handshake ended, one line for the menu; "" while none has.
  const std::string& outcome() const { return outcome_; }

 signals:
  void changed();
  // The token is stored.
  void paired();

 private:
  void run(QPointer<PairingFlow> self, unsigned generation, std::stop_token stop);
  void finish(unsigned generation, std::string outcome, bool succeeded);

  DaemonConnector connect_;
  std::filesystem::path tokenFile_;
  Stage stage_ = Stage::idle;
  std::string requestID_;
  std::string outcome_;
  unsigned generation_ = 0;
  // Last, so they are joined before the rest goes.
  using Worker = std::pair<std::jthread, std::shared_ptr<std::atomic<bool>>>;  // thread, ended
  std::vector<Worker> cancelled_;
  Worker worker_;
};

}  // namespace bcn::tray
