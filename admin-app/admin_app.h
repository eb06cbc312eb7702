// AdminApp: the console's application shell. It creates the one model and
// the one window, "Beaconbar Admin", whose size follows its content, and
// refreshes the model each time the application becomes active, so a
// request made meanwhile shows up without a manual reload. There is no
// software updater on this platform, hence no update command.
//
// GUI thread only; a QApplication must exist for its whole life. The
// authorization service must outlive the shell.
#pragma once

#include <QObject>
#include <QWidget>
#include <memory>

#include "admin-app/admin_model.h"
#include "admin-app/admin_view.h"

namespace bcn {

class AdminApp : public QObject {
  Q_OBJECT

 public:
  explicit AdminApp(AuthorizationServices& authorization, AdminModel::Options options = {});
  ~AdminApp() override;

  void show();

  AdminModel& model() { return model_; }
  QWidget& window() { return *window_; }
  AdminView& view() { return *view_; }

 private:
  AdminModel model_;
  // Declared after the model, so the window goes first.
  std::unique_ptr<QWidget> window_;
  AdminView* view_;  // owned by the window
};

}  // namespace bcn
