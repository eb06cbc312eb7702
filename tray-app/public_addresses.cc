#include "tray-app/public_addresses.h"

#include <QPointer>

#include "tray-app/gui_thread.h"

namespace bcn::tray {

PublicAddresses::PublicAddresses(PublicLookupFunction lookup, std::function<Date()> now, QObject* parent)
    : QObject(parent), lookup_(std::move(lookup)), now_(std::move(now)) {}

PublicAddresses::~PublicAddresses() = default;  // the jthread asks for a stop and joins

void PublicAddresses::menuOpened() {
  const double now = now_().secondsSince2001;
  if (lastStarted_ && now >= *lastStarted_ && now - *lastStarted_ < kRefreshSeconds) return;
  start();
}

void PublicAddresses::refresh() { start(); }

void PublicAddresses::start() {
  if (lookingUp_) return;
  lookingUp_ = true;
  lastStarted_ = now_().secondsSince2001;
  // The previous worker has posted its result; joining it is immediate.
  worker_ = std::jthread(
      [lookup = lookup_, provider = provider_, self = QPointer<PublicAddresses>(this)](std::stop_token stop) mutable {
        auto report = lookup(provider, stop);
        applyLater(std::move(self),
                   [report = std::move(report)](PublicAddresses& owner) mutable { owner.finish(std::move(report)); });
      });
  emit changed();
}

void PublicAddresses::finish(cli::PublicAddressReport report) {
  lookingUp_ = false;
  report_ = std::move(report);
  emit changed();
}

}  // namespace bcn::tray
