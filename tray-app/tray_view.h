// The tray's widgets over a TrayModel: the icon, drawn at run time with the
// current in and out rate of the interface the model picks, its tooltip,
// and the menu, rebuilt when it opens and while it is open whenever the
// model changes.
//
// Thread: GUI thread only. Lifetimes: the model must outlive the view.
#pragma once

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "tray-app/tray_model.h"

namespace bcn::tray {

// The icon's picture: the two rates of `row` (or a dash without one) in
// two lines, in on top, at `size` pixels square.
QImage drawRateIcon(const InterfaceRow* row, RateUnit unit, int size);

// "1.2M", "12k", "950": a rate in at most four characters for the icon,
// binary prefixes for bytes, decimal ones for bits.
std::string compactRate(double bytesPerSecond, RateUnit unit);

// What the menu's entries do beyond the model's own work.
struct MenuActions {
  std::function<void()> quit;
  std::function<void(const QString&)> copy;  // puts the text on the clipboard
  std::function<void()> history;
  std::function<void()> preferences;
};

// The menu's entries for the model as it is now: the interfaces (pinned
// ones first, a separator after them), the primary interfaces, the pins
// file's problem when there is one, the public addresses (each with a
// Copy entry) and Refresh, the tunnel owners, the network services (a
// checkable entry each, usable once paired; else the pairing entries),
// then History…, Preferences… and Quit.
void fillMenu(QMenu& menu, TrayModel& model, const MenuActions& actions);

class TrayView : public QObject {
  Q_OBJECT

 public:
  // `quit` ends the program; Copy uses the application's clipboard.
  TrayView(TrayModel& model, std::function<void()> quit, QObject* parent = nullptr);

  void show() { icon_.show(); }
  QMenu& menu() { return menu_; }
  const QSystemTrayIcon& trayIcon() const { return icon_; }

 signals:
  // "History…" was chosen; whoever shows the history window listens.
  void historyRequested();
  // "Preferences…" was chosen.
  void preferencesRequested();

 private:
  void update();

  TrayModel& model_;
  MenuActions actions_;
  QMenu menu_;
  QSystemTrayIcon icon_;
};

}  // namespace bcn::tray
