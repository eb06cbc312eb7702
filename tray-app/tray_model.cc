#include "tray-app/tray_model.h"

#include <QPointer>
#include <algorithm>
#include <unordered_set>

#include "tray-app/gui_thread.h"

namespace bcn::tray {
namespace {

// The longest gap between readings that still counts as traffic: a timer
// held up longer (a suspended machine) must not spread its bytes over it.
constexpr double kMaxGapSeconds = 5;
constexpr double kSaveEverySeconds = 60;
constexpr int kLockPollMs = 100;

}  // namespace

TrayModel::TrayModel(TraySources sources, QObject* parent)
    : QObject(parent),
      sources_(std::move(sources)),
      publicAddresses_(sources_.publicLookup, sources_.now),
      tunnelOwners_(sources_.tunnelOwners),
      serviceSwitches_(sources_.daemon, sources_.tokenFile),
      pairing_(sources_.daemon, sources_.tokenFile) {
  connect(&publicAddresses_, &PublicAddresses::changed, this, &TrayModel::changed);
  connect(&tunnelOwners_, &TunnelOwnerList::changed, this, &TrayModel::changed);
  connect(&serviceSwitches_, &ServiceSwitches::changed, this, &TrayModel::changed);
  connect(&pairing_, &PairingFlow::changed, this, &TrayModel::changed);
  connect(&pairing_, &PairingFlow::paired, &serviceSwitches_, &ServiceSwitches::readToken);
  // The new state usually arrives through the watcher too; reading now
  // spares the menu a moment with the old one.
  connect(&serviceSwitches_, &ServiceSwitches::switched, this, &TrayModel::reload);
  connect(&timer_, &QTimer::timeout, this, &TrayModel::tick);
  connect(&lockPoll_, &QTimer::timeout, this, &TrayModel::takeOver);
  if (!sources_.historyFile.empty()) {
    auto session = cli::RecordingSession::open(sources_.historyFile, kMaxGapSeconds, sources_.now());
    if (session) {
      session_.emplace(std::move(*session));
      nextSave_ = sources_.now().secondsSince2001 + kSaveEverySeconds;
      if (!session_->recording()) lockPoll_.start(kLockPollMs);
    } else {
      recordingProblem_ = session.error();
    }
  }
  QPointer<TrayModel> self(this);
  // The watcher's executor runs tasks right where the notification arrives;
  // the handler only posts a reload to the GUI thread.
  watcher_ = std::make_unique<NetworkChangeWatcher>(
      [](std::function<void()> task) { task(); },
      [self](const std::vector<std::string>&) { applyLater(self, [](TrayModel& model) { model.reload(); }); },
      sources_.subscriber);
  reload();
}

TrayModel::~TrayModel() {
  // Stops notifications before the members they could reach go away.
  watcher_.reset();
  if (session_ && session_->recording()) {
    // The traffic since the last tick belongs in the history too.
    const Date now = sources_.now();
    session_->record(sources_.interfaces(), now);
    (void)session_->save(now);
  }
}

void TrayModel::takeOver() {
  if (!session_ || session_->recording()) {
    lockPoll_.stop();
    return;
  }
  auto took = session_->takeOver(sources_.interfaces, sources_.now);
  if (!took) {
    recordingProblem_ = took.error();
    // A damaged file stays damaged for a while: tried again each tick.
    lockPoll_.stop();
    return;
  }
  if (*took) {
    lockPoll_.stop();
    recordingProblem_.clear();
    nextSave_ = sources_.now().secondsSince2001 + kSaveEverySeconds;
  }
}

void TrayModel::record(const std::vector<InterfaceSnapshot>& snapshots, Date now) {
  if (!session_) return;
  if (!session_->recording() && !lockPoll_.isActive()) {
    takeOver();
    // The takeover took its own baseline, after these snapshots were read.
    if (session_->recording()) return;
  }
  session_->record(snapshots, now);
  if (!session_->recording() || now.secondsSince2001 < nextSave_) return;
  nextSave_ = now.secondsSince2001 + kSaveEverySeconds;
  auto saved = session_->save(now);
  recordingProblem_ = saved ? "" : saved.error();
}

void TrayModel::start(int intervalMs) { timer_.start(intervalMs); }

void TrayModel::setRateUnit(RateUnit unit) {
  if (unit == unit_) return;
  unit_ = unit;
  emit changed();
}

QString TrayModel::toolTip() const {
  const InterfaceRow* row = iconRow();
  if (!row) return QStringLiteral("No interface to show");
  std::string text = row->name + ": ";
  if (row->rate) {
    text += "↓ " + formatRate(row->rate->rateIn(), unit_) + "  ↑ " + formatRate(row->rate->rateOut(), unit_);
  } else {
    text += row->state;
  }
  return QString::fromStdString(text);
}

void TrayModel::reload() {
  configuration_ = sources_.configuration();
  auto pins = sources_.pins();
  if (pins) {
    pins_ = std::move(*pins);
    pinsProblem_.clear();
  } else {
    pins_.clear();
    pinsProblem_ = pins.error();
  }
  read(true);
}

void TrayModel::tick() { read(false); }

void TrayModel::menuOpened() {
  reload();
  serviceSwitches_.readToken();
  tunnelOwners_.menuOpened();
  publicAddresses_.menuOpened();
}

void TrayModel::read(bool force) {
  const Date now = sources_.now();
  const std::vector<InterfaceSnapshot> snapshots = sources_.interfaces();
  std::vector<std::string> names;
  std::unordered_set<std::string> present;
  for (const InterfaceSnapshot& snapshot : snapshots) {
    names.push_back(snapshot.name);
    present.insert(snapshot.name);
  }
  // Link identities are read again only when the set of links changed.
  if (force || names != names_ || fingerprints_.size() != snapshots.size()) {
    fingerprints_ = sources_.fingerprints(snapshots);
    names_ = names;
  }
  std::map<std::string, RateSample> rates;
  for (const InterfaceSnapshot& snapshot : snapshots) {
    if (auto sample = tracker_.update(snapshot.name, snapshot.counters, now, kMaxGapSeconds)) {
      rates[snapshot.name] = *sample;
    }
  }
  tracker_.retain(present);
  rates_ = std::move(rates);
  record(snapshots, now);

  std::vector<LiveInterface> live;
  live.reserve(snapshots.size());
  for (std::size_t i = 0; i < snapshots.size(); ++i) {
    live.push_back({snapshots[i], i < fingerprints_.size() ? fingerprints_[i] : InterfaceFingerprint{}});
  }
  auto rows = interfaceRows(live, pins_, rates_);
  if (!force && rows.size() == rows_.size() &&
      std::equal(rows.begin(), rows.end(), rows_.begin(), [&](const InterfaceRow& a, const InterfaceRow& b) {
        return a.label(unit_) == b.label(unit_) && a.pinned == b.pinned;
      })) {
    return;
  }
  rows_ = std::move(rows);
  emit changed();
}

}  // namespace bcn::tray
