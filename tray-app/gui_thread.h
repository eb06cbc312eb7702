// Handing a result from a worker thread back to the GUI thread, where the
// object it is for may already be gone.
//
// Callable from any thread. The application object, not the target,
// carries the queued call, and the pointer is only dereferenced on the GUI
// thread, so a result arriving after the target was destroyed is dropped.
// REQUIRES: the QPointer was made on the GUI thread.
#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <utility>

namespace bcn::tray {

template <typename Target, typename Apply>
void applyLater(QPointer<Target> target, Apply apply) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [target = std::move(target), apply = std::move(apply)]() mutable {
        if (target) apply(*target);
      },
      Qt::QueuedConnection);
}

}  // namespace bcn::tray
