// RequestRow: one pending pairing request in the console's list — what is
// asked and when, with "Deny" and "Authorize…" buttons that act on this
// row's request only.
//
// GUI thread only. The model must outlive the row.
#pragma once

#include <QPushButton>
#include <QWidget>

#include "admin-app/admin_model.h"

namespace bcn {

class RequestRow : public QWidget {
  Q_OBJECT

 public:
  RequestRow(const PendingRequest& request, AdminModel& model, QWidget* parent = nullptr);

  const QString& requestID() const { return requestID_; }
  QPushButton* denyButton() const { return deny_; }
  QPushButton* authorizeButton() const { return authorize_; }

 private:
  QString requestID_;
  QPushButton* deny_;
  QPushButton* authorize_;
};

}  // namespace bcn
