#include "tray-app/tray_view.h"

#include <QAction>
#include <QClipboard>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/beaconbar/units.h"

namespace bcn::tray {

std::string compactRate(double bytesPerSecond, RateUnit unit) {
  if (unit == RateUnit::bytes) return cli::formatCompactRate(bytesPerSecond);
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) return "-";
  static constexpr const char* kPrefixes = "kMGT";
  double value = bytesPerSecond * 8;
  if (value < 999.5) return std::to_string(std::llround(value));
  int prefix = -1;
  while (value >= 999.5 && prefix < 3) {
    value /= 1000;
    ++prefix;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, value < 9.95 ? "%.1f%c" : "%.0f%c", value, kPrefixes[prefix]);
  return buffer;
}

QImage drawRateIcon(const InterfaceRow* row, RateUnit unit, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  QFont font = painter.font();
  font.setPixelSize(std::max(6, size * 8 / 22));
  font.setStretch(QFont::SemiCondensed);
  font.setBold(true);
  painter.setFont(font);
  const QRect top(0, 0, size, size / 2);
  const QRect bottom(0, size / 2, size, size - size / 2);
  if (!row || !row->rate) {
    painter.setPen(QColor(0x88, 0x88, 0x88));
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("–"));
    return image;
  }
  // In green on top, out blue below, as the menu lists them.
  painter.setPen(QColor(0x2e, 0x9d, 0x4f));
  painter.drawText(top, Qt::AlignCenter, QString::fromStdString(compactRate(row->rate->rateIn(), unit)));
  painter.setPen(QColor(0x2f, 0x6f, 0xd0));
  painter.drawText(bottom, Qt::AlignCenter, QString::fromStdString(compactRate(row->rate->rateOut(), unit)));
  return image;
}

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

void addPublicAddresses(QMenu& menu, TrayModel& model, const MenuActions& actions) {
  PublicAddresses& lookup = model.publicAddresses();
  const auto& report = lookup.report();
  if (report && report->failed()) {
    menu.addAction(text("Public addresses unavailable: " + report->result.error.value_or("no answer")))
        ->setEnabled(false);
  } else if (report) {
    const auto address = [&](const char* family, const std::optional<std::string>& value) {
      if (!value) {
        menu.addAction(QStringLiteral("Public %1: unavailable").arg(family))->setEnabled(false);
        return;
      }
      QMenu* sub = menu.addMenu(QStringLiteral("Public %1: %2").arg(family, text(*value)));
      QObject::connect(sub->addAction(QStringLiteral("Copy")), &QAction::triggered, &menu,
                       [copy = actions.copy, value = text(*value)] {
                         if (copy) copy(value);
                       });
    };
    address("IPv4", report->result.ipv4);
    address("IPv6", report->result.ipv6);
  }
  if (lookup.lookingUp()) {
    menu.addAction(QStringLiteral("Looking up the public addresses…"))->setEnabled(false);
  } else {
    QObject::connect(menu.addAction(QStringLiteral("Refresh public addresses")), &QAction::triggered, &model,
                     [&lookup] { lookup.refresh(); });
  }
}

void addTunnelOwners(QMenu& menu, const TrayModel& model) {
  const TunnelOwnerList& tunnels = model.tunnelOwners();
  const auto line = [&](const std::string& s) { menu.addAction(text(s))->setEnabled(false); };
  if (!tunnels.owners() && !tunnels.asking()) return;
  menu.addSeparator();
  if (!tunnels.owners()) {
    if (tunnels.asking()) line("Tunnels: asking the admin helper…");
    return;
  }
  const auto& owners = *tunnels.owners();
  if (!owners) {
    line("Tunnel owners unavailable: " + owners.error());
  } else if (owners->empty()) {
    line("No tunnel interfaces are open");
  } else {
    for (const auto& [name, owner] : *owners) line(tunnelOwnerLabel(name, owner));
  }
}

void addServices(QMenu& menu, TrayModel& model) {
  const auto& services = model.configuration().services;
  if (std::none_of(services.begin(), services.end(), [](const NetworkService& s) { return !s.hidden; })) return;
  ServiceSwitches& switches = model.serviceSwitches();
  PairingFlow& pairing = model.pairing();
  const auto line = [&](const std::string& s) { menu.addAction(text(s))->setEnabled(false); };
  menu.addSeparator();
  for (const NetworkService& service : services) {
    if (service.hidden) continue;
    const bool busy = switches.switching() == service.id;
    QAction* action = menu.addAction(text(service.name + (busy ? "  switching…" : "")));
    action->setCheckable(true);
    action->setChecked(service.enabled);
    action->setEnabled(switches.paired() && switches.switching().empty());
    // Bound to the service as listed now; the menu is rebuilt when it changes.
    QObject::connect(action, &QAction::triggered, &model,
                     [&switches, service] { switches.setEnabled(service, !service.enabled); });
  }
  if (!switches.problem().empty()) line(switches.problem());
  if (!switches.paired()) {
    switch (pairing.stage()) {
      case PairingFlow::Stage::idle:
        QObject::connect(menu.addAction(QStringLiteral("Pair with the admin helper…")), &QAction::triggered, &model,
                         [&pairing] { pairing.start(); });
        break;
      case PairingFlow::Stage::requesting:
        line("Asking the admin helper for a pairing…");
        break;
      case PairingFlow::Stage::waiting:
        line("Pairing request " + pairing.requestID() + " is waiting for an administrator");
        break;
    }
    if (pairing.stage() != PairingFlow::Stage::idle) {
      QObject::connect(menu.addAction(QStringLiteral("Cancel pairing")), &QAction::triggered, &model,
                       [&pairing] { pairing.cancel(); });
    }
    if (!switches.tokenProblem().empty()) line("Pairing token not usable: " + switches.tokenProblem());
  }
  if (!pairing.outcome().empty()) line(pairing.outcome());
}

}  // namespace

void fillMenu(QMenu& menu, TrayModel& model, const MenuActions& actions) {
  menu.clear();
  // clear() leaves the submenus (the addresses' Copy) to their parent; a
  // menu refilled every second while open must not gather them.
  for (QMenu* sub : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) sub->deleteLater();
  bool pinnedBefore = false;
  for (const InterfaceRow& row : model.rows()) {
    if (pinnedBefore && !row.pinned) menu.addSeparator();
    pinnedBefore = row.pinned;
    QAction* action = menu.addAction(QString::fromStdString(row.label(model.rateUnit())));
    action->setEnabled(row.present);
  }
  if (model.rows().empty()) menu.addAction(QStringLiteral("No network interfaces"))->setEnabled(false);
  menu.addSeparator();
  const auto primary = [](const char* family, const std::optional<std::string>& name) {
    return QStringLiteral("Primary %1: %2").arg(family, name ? QString::fromStdString(*name) : QStringLiteral("none"));
  };
  menu.addAction(primary("IPv4", model.primaryIPv4()))->setEnabled(false);
  menu.addAction(primary("IPv6", model.primaryIPv6()))->setEnabled(false);
  if (!model.pinsProblem().empty()) {
    menu.addSeparator();
    menu.addAction(QString::fromStdString("Pins not used: " + model.pinsProblem()))->setEnabled(false);
  }
  menu.addSeparator();
  addPublicAddresses(menu, model, actions);
  addTunnelOwners(menu, model);
  addServices(menu, model);
  menu.addSeparator();
  QObject::connect(menu.addAction(QStringLiteral("History…")), &QAction::triggered, &menu, [history = actions.history] {
    if (history) history();
  });
  QObject::connect(menu.addAction(QStringLiteral("Preferences…")), &QAction::triggered, &menu,
                   [preferences = actions.preferences] {
                     if (preferences) preferences();
                   });
  QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &menu, [quit = actions.quit] {
    if (quit) quit();
  });
}

TrayView::TrayView(TrayModel& model, std::function<void()> quit, QObject* parent) : QObject(parent), model_(model) {
  actions_.quit = std::move(quit);
  actions_.copy = [](const QString& value) { QGuiApplication::clipboard()->setText(value); };
  actions_.history = [this] { emit historyRequested(); };
  actions_.preferences = [this] { emit preferencesRequested(); };
  icon_.setContextMenu(&menu_);
  connect(&menu_, &QMenu::aboutToShow, this, [this] {
    // Opening the menu reads configuration and pins afresh, in case a
    // change slipped by, and asks what the network is slow to tell.
    model_.menuOpened();
    fillMenu(menu_, model_, actions_);
  });
  connect(&model_, &TrayModel::changed, this, &TrayView::update);
  update();
}

void TrayView::update() {
  const InterfaceRow* row = model_.iconRow();
  icon_.setIcon(QIcon(QPixmap::fromImage(drawRateIcon(row, model_.rateUnit(), 22))));
  icon_.setToolTip(model_.toolTip());
  if (menu_.isVisible()) fillMenu(menu_, model_, actions_);
}

}  // namespace bcn::tray
