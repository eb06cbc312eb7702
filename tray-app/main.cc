// beaconbar-tray: the network's status in the desktop's tray (through
// StatusNotifierItem where the desktop offers it).
#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstring>

#include "tray-app/history_window.h"
#include "tray-app/quit_on_signal.h"
#include "tray-app/tray_model.h"
#include "tray-app/tray_sources.h"
#include "tray-app/tray_view.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("beaconbar-tray"));
  QApplication::setApplicationDisplayName(QStringLiteral("Beaconbar"));
  QApplication::setDesktopFileName(QStringLiteral("com.quillbank.Beaconbar.Tray"));
  // `beaconbar-tray --history`: the history window alone, e.g. from the
  // menu entry's "History" action.
  if (argc == 2 && std::strcmp(argv[1], "--history") == 0) {
    bcn::tray::HistoryWindow history(bcn::tray::defaultHistoryPath());
    history.present();
    return QApplication::exec();
  }
  // The menu and the icon are all there is: closing a dialog must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  // Started at login, the tray may come up before the desktop's tray host:
  // a warning, and the icon shows once there is one.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    std::fprintf(stderr,
                 "beaconbar-tray: this desktop shows no tray icons (yet); on GNOME, install the AppIndicator and "
                 "KStatusNotifierItem Support extension\n");
  }
  bcn::tray::QuitOnSignal quitOnSignal;
  // Records the traffic history while no `beaconbar watch` or `record` does.
  bcn::tray::TrayModel model(bcn::tray::liveTraySources(bcn::tray::defaultPinsPath(), bcn::tray::defaultHistoryPath()));
  if (!model.recordingProblem().empty()) {
    std::fprintf(stderr, "beaconbar-tray: not recording the traffic history: %s\n", model.recordingProblem().c_str());
  }
  bcn::tray::TrayView view(model, [] { QApplication::quit(); });
  view.show();
  model.start(1000);
  return QApplication::exec();
}
