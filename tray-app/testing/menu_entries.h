// Test-only: finding a menu's entries by their text. GUI thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <string>

namespace bcn::tray::testing {

// The entry of `menu` or of its submenus reading exactly `text`, or null.
inline QAction* findEntry(const QMenu& menu, const std::string& text) {
  for (QAction* action : menu.actions()) {
    if (action->text().toStdString() == text) return action;
    if (action->menu()) {
      if (QAction* inner = findEntry(*action->menu(), text)) return inner;
    }
  }
  return nullptr;
}

}  // namespace bcn::tray::testing
