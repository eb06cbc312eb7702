#include "admin-app/view_style.h"

#include <QColor>
#include <QPalette>

namespace bcn {
namespace {

QFont scaled(QFont font, double factor) {
  if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * factor);
  return font;
}

}  // namespace

QFont headlineFont(QFont base) {
  base.setBold(true);
  return base;
}

QFont captionFont(QFont base) { return scaled(std::move(base), 0.85); }

QFont calloutFont(QFont base) { return scaled(std::move(base), 0.93); }

void makeSecondary(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
  widget->setPalette(palette);
}

void makeDestructive(QWidget* widget) {
  QPalette palette = widget->palette();
  const QColor red(0xc0, 0x1c, 0x28);
  palette.setColor(QPalette::Active, QPalette::ButtonText, red);
  palette.setColor(QPalette::Inactive, QPalette::ButtonText, red);
  widget->setPalette(palette);
}

}  // namespace bcn
