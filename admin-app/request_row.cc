#include "admin-app/request_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "admin-app/view_style.h"

namespace bcn {
namespace {

// The locale's standard time style: hours, minutes and seconds in the
// locale's order, separators and digits. Qt's short style leaves out the
// seconds (requests a few seconds apart would read the same), and its long
// style adds the time-zone name; this is the long style without the zone
// field (and the brackets or spaces that set it off).
QString standardTimeFormat(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString kept;
  bool quoted = false;  // text in single quotes is literal
  for (const QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    kept += c;
  }
  kept.remove(QStringLiteral("()"));
  return kept.trimmed();
}

}  // namespace

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
  const QLocale locale;
  const QString time = locale.toString(request.created.toLocalTime().time(), standardTimeFormat(locale));
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
