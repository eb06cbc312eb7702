// AdminView: the content of the console's window, top to bottom — a header
// telling whether the daemon runs (and its version), the "Pairing requests"
// group with one row per pending request (or a hint how to start one), the
// last message verbatim, and the maintenance row ("Unpair All…",
// "Uninstall Helper…"), which stays disabled while no version is known.
//
// It redraws whenever the model announces a change and asks the model to
// refresh each time it is shown. Return activates the first request's
// "Authorize…". GUI thread only; the model must outlive the view.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "admin-app/admin_model.h"
#include "admin-app/request_row.h"

namespace bcn {

class AdminView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 480;
  static constexpr int kSpacing = 14;
  static constexpr int kMargin = 20;

  explicit AdminView(AdminModel& model, QWidget* parent = nullptr);

  // For tests and screenshots: the parts whose state the model drives.
  QLabel* headerText() const { return headerText_; }
  QLabel* emptyText() const { return emptyText_; }
  QLabel* messageText() const { return message_; }
  QWidget* maintenanceRow() const { return maintenance_; }
  QPushButton* unpairAllButton() const { return unpairAll_; }
  QPushButton* uninstallButton() const { return uninstall_; }
  const QList<RequestRow*>& rows() const { return rows_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showHelperState();
  void showRequests();
  void showMessage();

  AdminModel& model_;
  QLabel* headerIcon_;
  QLabel* headerText_;
  QGroupBox* requests_;
  QVBoxLayout* requestsLayout_;
  QLabel* emptyText_;
  QList<RequestRow*> rows_;
  QLabel* message_;
  QWidget* maintenance_;
  QPushButton* unpairAll_;
  QPushButton* uninstall_;
};

}  // namespace bcn
