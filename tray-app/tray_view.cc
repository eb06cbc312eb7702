#include "tray-app/tray_view.h"

#include <QAction>
#include <QFont>
#include <QPainter>
#include <QPixmap>
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

void fillMenu(QMenu& menu, const TrayModel& model, const std::function<void()>& quit) {
  menu.clear();
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
  QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &menu, [quit] { quit(); });
}

TrayView::TrayView(TrayModel& model, std::function<void()> quit, QObject* parent)
    : QObject(parent), model_(model), quit_(std::move(quit)) {
  icon_.setContextMenu(&menu_);
  connect(&menu_, &QMenu::aboutToShow, this, [this] {
    // Opening the menu reads configuration and pins afresh, in case a
    // change slipped by.
    model_.reload();
    fillMenu(menu_, model_, quit_);
  });
  connect(&model_, &TrayModel::changed, this, &TrayView::update);
  update();
}

void TrayView::update() {
  const InterfaceRow* row = model_.iconRow();
  icon_.setIcon(QIcon(QPixmap::fromImage(drawRateIcon(row, model_.rateUnit(), 22))));
  icon_.setToolTip(model_.toolTip());
  if (menu_.isVisible()) fillMenu(menu_, model_, quit_);
}

}  // namespace bcn::tray
