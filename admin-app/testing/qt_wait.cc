#include "admin-app/testing/qt_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

namespace bcn::testing {
namespace {

void spin() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QThread::msleep(2);
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > limit.count()) return condition();
    spin();
  }
  return true;
}

void settle(std::chrono::milliseconds period) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < period.count()) spin();
}

}  // namespace bcn::testing
