#include "tray-app/pairing_flow.h"

#include "tools/beaconbar/token_file.h"
#include "tray-app/gui_thread.h"

namespace bcn::tray {

PairingFlow::PairingFlow(DaemonConnector connect, std::filesystem::path tokenFile, QObject* parent)
    : QObject(parent), connect_(std::move(connect)), tokenFile_(std::move(tokenFile)) {}

PairingFlow::~PairingFlow() = default;  // the jthreads ask for a stop and join

void PairingFlow::start() {
  if (stage_ != Stage::idle) return;
  stage_ = Stage::requesting;
  requestID_.clear();
  outcome_.clear();
  const unsigned generation = ++generation_;
  // A cancelled run may still wait for the daemon's answer to a call; it
  // is kept aside rather than waited for here.
  if (worker_.first.joinable()) cancelled_.push_back(std::move(worker_));
  std::erase_if(cancelled_, [](const Worker& w) { return w.second->load(); });
  auto ended = std::make_shared<std::atomic<bool>>(false);
  worker_.second = ended;
  worker_.first = std::jthread([this, self = QPointer<PairingFlow>(this), generation, ended](std::stop_token stop) {
    run(self, generation, std::move(stop));
    ended->store(true);
  });
  emit changed();
}

void PairingFlow::cancel() {
  if (stage_ == Stage::idle) return;
  ++generation_;
  // The worker notices within a moment and closes its connection, which
  // withdraws the request; it is not waited for here.
  worker_.first.request_stop();
  stage_ = Stage::idle;
  outcome_ = "Pairing cancelled; the request was withdrawn";
  emit changed();
}

// On the worker thread: touches no member but the constant ones, and hands
// every result to the GUI thread tagged with its run.
void PairingFlow::run(QPointer<PairingFlow> self, unsigned generation, std::stop_token stop) {
  const auto done = [&](std::string outcome, bool succeeded) {
    applyLater(self, [generation, outcome = std::move(outcome), succeeded](PairingFlow& flow) mutable {
      flow.finish(generation, std::move(outcome), succeeded);
    });
  };
  // The directory first, so that a token is never issued that could not be kept.
  if (auto ready = cli::prepareTokenDirectory(tokenFile_); !ready)
    return done("Pairing failed: " + ready.error(), false);
  auto link = connect_();
  if (!link) return done("Pairing failed: " + link.error(), false);
  auto requestID = (*link)->beginPairing();
  if (!requestID) return done("Pairing failed: " + requestID.error(), false);
  applyLater(self, [generation, id = *requestID](PairingFlow& flow) {
    if (generation != flow.generation_) return;
    flow.stage_ = Stage::waiting;
    flow.requestID_ = id;
    emit flow.changed();
  });
  auto token = (*link)->awaitPairing(*requestID, stop);
  if (stop.stop_requested()) return;
  if (!token) return done("Pairing failed: " + token.error(), false);
  if (stop.stop_requested()) {
    // Granted just as the user cancelled: not kept, so not left paired.
    (void)(*link)->unpair(*token);
    return;
  }
  if (!cli::isWellFormedToken(*token)) return done("Pairing failed: the admin helper sent a malformed token", false);
  if (auto written = cli::writeToken(tokenFile_, *token); !written) {
    // A pairing nobody holds the token of would stay on the daemon's books.
    (void)(*link)->unpair(*token);
    return done("Pairing failed: " + written.error() + "; the pairing was withdrawn", false);
  }
  done("Paired with the admin helper", true);
}

void PairingFlow::finish(unsigned generation, std::string outcome, bool succeeded) {
  if (generation != generation_) return;
  stage_ = Stage::idle;
  outcome_ = std::move(outcome);
  emit changed();
  if (succeeded) emit paired();
}

}  // namespace bcn::tray
