// TrayModel: what the tray icon and its menu show, kept current. It holds
// the interface rows (pinned first, see interface_rows.h) with their
// latest rates, the primary IPv4 and IPv6 interfaces, the rate unit, and
// the problem with the pins file when there is one.
//
// Change-driven: interface, service and primary-interface changes arrive
// through a NetworkChangeWatcher and make the model read the configuration
// and the pins again; only the rates tick, on a timer (every second by
// default), each tick one counter reading. A change is announced by
// changed() once per reading or reload, never for a tick that changed
// nothing the menu shows.
//
// With a history file the model is also a recorder of the traffic history,
// in turn with `beaconbar watch` and `beaconbar record` (see
// tools/beaconbar/recording_session.h): it records its readings when it
// holds the file's lock, saves every minute and on destruction; while
// another recorder holds the lock it tries every 100 ms to take over.
//
// Thread: a QObject of the GUI thread; all methods run there. Watcher
// notifications arrive on the watcher's thread and are applied through a
// queued call that holds the model weakly, so one arriving after the model
// is gone does nothing.
// REQUIRES: a QCoreApplication exists and the model lives on its thread.
// Links QtCore and NetCore only, so it is tested headless.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netcore/interfaces/counter_delta_tracker.h"
#include "netcore/sysconfig/interface_fingerprint.h"
#include "netcore/sysconfig/network_change_watcher.h"
#include "netcore/sysconfig/network_metadata.h"
#include "tools/beaconbar/recording_session.h"
#include "tray-app/interface_rows.h"
#include "tray-app/pairing_flow.h"
#include "tray-app/public_addresses.h"
#include "tray-app/service_switches.h"
#include "tray-app/tunnel_owner_list.h"

namespace bcn::tray {

// Where the model takes its readings; every member is required (see
// liveTraySources() for the machine's own).
struct TraySources {
  std::function<std::vector<InterfaceSnapshot>()> interfaces;
  // The fingerprint of each snapshot, in order (reads link identities, so
  // it is asked only when the set of interfaces changes).
  std::function<std::vector<InterfaceFingerprint>(const std::vector<InterfaceSnapshot>&)> fingerprints;
  std::function<NetworkMetadata()> configuration;
  // The saved pins; a missing file is no pins.
  std::function<std::expected<std::vector<InterfaceFingerprint>, std::string>()> pins;
  NetworkChangeWatcher::Subscriber subscriber;
  std::function<Date()> now;
  // The traffic history to record into; empty records nothing.
  std::filesystem::path historyFile;
  // Called on worker threads (see public_addresses.h, tunnel_owner_list.h).
  PublicLookupFunction publicLookup;
  TunnelOwnerQuery tunnelOwners;
  DaemonConnector daemon;
  // The pairing token, shared with the command line; empty when neither
  // XDG_CONFIG_HOME nor HOME gives a place for it.
  std::filesystem::path tokenFile;
};

class TrayModel : public QObject {
  Q_OBJECT

 public:
  // Takes the first reading and reads configuration and pins; rates show
  // from the second reading on. The timer starts with start().
  explicit TrayModel(TraySources sources, QObject* parent = nullptr);
  ~TrayModel() override;

  // Ticks every `intervalMs` until destruction.
  void start(int intervalMs = 1000);

  const std::vector<InterfaceRow>& rows() const { return rows_; }
  // The fingerprints of the interfaces of the last reading, in their order.
  const std::vector<InterfaceFingerprint>& liveFingerprints() const { return fingerprints_; }
  const std::optional<std::string>& primaryIPv4() const { return configuration_.primaryIPv4Interface; }
  const std::optional<std::string>& primaryIPv6() const { return configuration_.primaryIPv6Interface; }
  const NetworkMetadata& configuration() const { return configuration_; }
  // Why the pins file could not be used ("" when it could); the menu then
  // shows the interfaces unpinned.
  const std::string& pinsProblem() const { return pinsProblem_; }
  // The row the icon draws, or null.
  const InterfaceRow* iconRow() const { return tray::iconRow(rows_, primaryIPv4()); }
  // "en0: ↓ 1.21 MiB/s ↑ 3 KiB/s"; "No interface to show" without one.
  QString toolTip() const;

  // True while this model holds the history file's lock and records.
  bool recording() const { return session_ && session_->recording(); }
  // Why the history is not recorded here ("" when it is, or when another
  // recorder has it): a damaged file, a failed save.
  const std::string& recordingProblem() const { return recordingProblem_; }

  RateUnit rateUnit() const { return unit_; }
  void setRateUnit(RateUnit unit);

  // One counter reading: new rates, and the rows again.
  void tick();
  // Configuration and pins read again, then a reading (what a watcher
  // notification does; the menu also asks for it when it opens).
  void reload();
  // The menu opens: a reload, the token file and the tunnel owners read
  // again, and the public addresses looked up when they are due.
  void menuOpened();

  // Their changes are announced by changed() too.
  PublicAddresses& publicAddresses() { return publicAddresses_; }
  const PublicAddresses& publicAddresses() const { return publicAddresses_; }
  const TunnelOwnerList& tunnelOwners() const { return tunnelOwners_; }
  ServiceSwitches& serviceSwitches() { return serviceSwitches_; }
  const ServiceSwitches& serviceSwitches() const { return serviceSwitches_; }
  PairingFlow& pairing() { return pairing_; }
  const PairingFlow& pairing() const { return pairing_; }

 signals:
  void changed();

 private:
  void read(bool force);
  void takeOver();
  void record(const std::vector<InterfaceSnapshot>& snapshots, Date now);

  TraySources sources_;
  CounterDeltaTracker tracker_;
  std::map<std::string, RateSample> rates_;
  std::vector<std::string> names_;
  std::vector<InterfaceFingerprint> fingerprints_;
  std::vector<InterfaceFingerprint> pins_;
  std::string pinsProblem_;
  NetworkMetadata configuration_;
  std::vector<InterfaceRow> rows_;
  RateUnit unit_ = RateUnit::bytes;
  std::optional<cli::RecordingSession> session_;
  std::string recordingProblem_;
  double nextSave_ = 0;
  QTimer timer_;
  QTimer lockPoll_;
  PublicAddresses publicAddresses_;
  TunnelOwnerList tunnelOwners_;
  ServiceSwitches serviceSwitches_;
  PairingFlow pairing_;
  std::unique_ptr<NetworkChangeWatcher> watcher_;
};

}  // namespace bcn::tray
