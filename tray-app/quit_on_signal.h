// Ends the Qt event loop on SIGTERM, SIGINT or SIGHUP, so the tray leaves
// the way Quit does (saving the traffic history) when the session ends or
// the user stops it from a terminal. The signal handler only writes a byte
// to a pipe; the quit happens on the GUI thread.
//
// REQUIRES: one instance, made on the GUI thread after the application
// object; signals that arrive after it is gone take their default action.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace bcn::tray {

class QuitOnSignal : public QObject {
  Q_OBJECT

 public:
  explicit QuitOnSignal(QObject* parent = nullptr);
  ~QuitOnSignal() override;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace bcn::tray
