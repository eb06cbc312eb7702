#include "admin-app/request_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "admin-app/view_style.h"

namespace bcn {

RequestRow::RequestRow(const PendingRequest& request, AdminModel& model, QWidget* parent)
    : QWidget(parent), requestID_(request.id) {
  setObjectName(QStringLiteral("requestRow"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* what = new QLabel(tr("Beaconbar wants to turn network services on and off"));
  what->setObjectName(QStringLiteral("requestTitle"));
  // The window has a fixed width; the sentence wraps beside the buttons.
  what->setWordWrap(true);
  const QString time = QLocale().toString(request.created.toLocalTime().time(), QLocale::ShortFormat);
  auto* when = new QLabel(tr("Requested %1").arg(time));
  when->setObjectName(QStringLiteral("requestTime"));
  when->setFont(captionFont(when->font()));
  makeSecondary(when);
  texts->addWidget(what);
  texts->addWidget(when);
  row->addLayout(texts, 1);

  deny_ = new QPushButton(tr("Deny"));
  deny_->setObjectName(QStringLiteral("deny"));
  authorize_ = new QPushButton(tr("Authorize…"));
  authorize_->setObjectName(QStringLiteral("authorize"));
  row->addWidget(deny_);
  row->addWidget(authorize_);

  // The id is copied into each connection: the row may be rebuilt while a
  // click is being handled, the request it stood for may not change.
  connect(deny_, &QPushButton::clicked, &model, [&model, id = request.id] { model.deny(id); });
  connect(authorize_, &QPushButton::clicked, &model, [&model, id = request.id] { model.approve(id); });
}

}  // namespace bcn
