// The console's text styles, kept in one place so every part of the window
// uses the same scale: a bold headline, a smaller caption and callout, and
// a secondary (dimmed) colour. GUI thread only.
#pragma once

#include <QFont>
#include <QWidget>

namespace bcn {

QFont headlineFont(QFont base);
QFont captionFont(QFont base);
QFont calloutFont(QFont base);
// Dims the widget's text to the palette's placeholder colour.
void makeSecondary(QWidget* widget);
// Red text for a button whose action cannot be undone (grey while disabled).
void makeDestructive(QWidget* widget);

}  // namespace bcn
