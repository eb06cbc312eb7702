// PreferencesDialog: the tray's Preferences window over a TrayPreferences:
// the pins in menu order (move up, move down, unpin), the live interfaces
// not pinned yet (pin), the rate unit, the public-address provider and
// "Start at login". Save writes through TrayPreferences and closes; a
// failure stays in the window with the files as they were. A damaged pins
// or settings file is shown with a button that lets the save replace it.
//
// Thread: GUI thread only. Lifetimes: `preferences` must outlive the dialog.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <vector>

#include "tray-app/tray_preferences.h"

namespace bcn::tray {

class PreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  // `live` are the fingerprints of the interfaces there are now.
  PreferencesDialog(TrayPreferences& preferences, std::vector<InterfaceFingerprint> live, QWidget* parent = nullptr);

  // Saves, as the Save button does; true when everything was written.
  bool save();

  QListWidget& pinList() { return *pins_; }
  QComboBox& unpinnedBox() { return *unpinned_; }
  QComboBox& unitBox() { return *unit_; }
  QComboBox& providerBox() { return *provider_; }
  QCheckBox& startAtLogin() { return *startAtLogin_; }
  QLabel& problem() { return *problem_; }
  QPushButton& replaceButton() { return *replace_; }

 signals:
  // The files now hold what the dialog shows.
  void saved();

 private:
  void refill(int selectedPin);
  void showProblem(const std::string& text);

  TrayPreferences& preferences_;
  std::vector<InterfaceFingerprint> live_;
  QListWidget* pins_;
  QComboBox* unpinned_;
  QComboBox* unit_;
  QComboBox* provider_;
  QCheckBox* startAtLogin_;
  QLabel* problem_;
  QPushButton* replace_;
};

}  // namespace bcn::tray
