#include "admin-app/admin_view.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QStyle>

#include "admin-app/view_style.h"

namespace bcn {
namespace {

constexpr int kIconSize = 20;

// The themed icon when the desktop has one, else the style's own.
QIcon themedIcon(const QWidget* widget, const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), widget->style()->standardIcon(fallback));
}

}  // namespace

AdminView::AdminView(AdminModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setSpacing(kSpacing);
  column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

  auto* header = new QHBoxLayout;
  headerIcon_ = new QLabel;
  headerIcon_->setObjectName(QStringLiteral("headerIcon"));
  headerText_ = new QLabel;
  headerText_->setObjectName(QStringLiteral("header"));
  headerText_->setTextFormat(Qt::PlainText);
  headerText_->setFont(headlineFont(headerText_->font()));
  header->addWidget(headerIcon_);
  header->addWidget(headerText_, 1);
  column->addLayout(header);

  requests_ = new QGroupBox(tr("Pairing requests"));
  requests_->setObjectName(QStringLiteral("requests"));
  requestsLayout_ = new QVBoxLayout(requests_);
  emptyText_ = new QLabel(tr("No pending requests. Start pairing from Beaconbar's settings."));
  emptyText_->setObjectName(QStringLiteral("emptyText"));
  emptyText_->setWordWrap(true);
  emptyText_->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
  emptyText_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  makeSecondary(emptyText_);
  requestsLayout_->addWidget(emptyText_);
  column->addWidget(requests_);

  message_ = new QLabel;
  message_->setObjectName(QStringLiteral("message"));
  // The daemon's and the tools' texts are shown as they are, never as markup.
  message_->setTextFormat(Qt::PlainText);
  message_->setWordWrap(true);
  message_->setFont(calloutFont(message_->font()));
  column->addWidget(message_);

  maintenance_ = new QWidget;
  maintenance_->setObjectName(QStringLiteral("maintenance"));
  auto* bottom = new QHBoxLayout(maintenance_);
  bottom->setContentsMargins(0, 0, 0, 0);
  unpairAll_ = new QPushButton(tr("Unpair All…"));
  unpairAll_->setObjectName(QStringLiteral("unpairAll"));
  unpairAll_->setToolTip(tr("Revoke every app's pairing; requires an administrator"));
  uninstall_ = new QPushButton(tr("Uninstall Helper…"));
  uninstall_->setObjectName(QStringLiteral("uninstallHelper"));
  makeDestructive(uninstall_);
  bottom->addWidget(unpairAll_);
  bottom->addStretch(1);
  bottom->addWidget(uninstall_);
  column->addWidget(maintenance_);

  connect(unpairAll_, &QPushButton::clicked, &model_, &AdminModel::unpairAll);
  connect(uninstall_, &QPushButton::clicked, &model_, &AdminModel::uninstallHelper);
  connect(&model_, &AdminModel::helperVersionChanged, this, &AdminView::showHelperState);
  connect(&model_, &AdminModel::pendingChanged, this, &AdminView::showRequests);
  connect(&model_, &AdminModel::messageChanged, this, &AdminView::showMessage);
  showHelperState();
  showRequests();
  showMessage();
}

void AdminView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  model_.refresh();
}

void AdminView::keyPressEvent(QKeyEvent* event) {
  const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (returnKey && event->modifiers() == Qt::NoModifier && !rows_.isEmpty()) {
    rows_.front()->authorizeButton()->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void AdminView::showHelperState() {
  const auto& version = model_.helperVersion();
  const QIcon icon = version ? themedIcon(this, "security-high", QStyle::SP_DialogApplyButton)
                             : themedIcon(this, "dialog-warning", QStyle::SP_MessageBoxWarning);
  headerIcon_->setPixmap(icon.pixmap(kIconSize, kIconSize));
  // The version is shown verbatim; only the sentence around it is translated.
  headerText_->setText(version ? tr("Admin helper %1 is running").arg(*version) : tr("The admin helper isn't running"));
  maintenance_->setEnabled(version.has_value());
}

void AdminView::showRequests() {
  for (RequestRow* row : rows_) {
    // Detached at once so the list holds only current rows; deleted later
    // in case a click on it is still on the stack.
    row->hide();
    row->setParent(nullptr);
    row->deleteLater();
  }
  rows_.clear();
  const auto& pending = model_.pending();
  emptyText_->setVisible(pending.isEmpty());
  for (const PendingRequest& request : pending) {
    auto* row = new RequestRow(request, model_, requests_);
    requestsLayout_->addWidget(row);
    row->show();  // now, rather than when the layout gets round to it
    rows_.push_back(row);
  }
  if (!rows_.isEmpty()) rows_.front()->authorizeButton()->setDefault(true);
}

void AdminView::showMessage() {
  const auto& message = model_.message();
  message_->setVisible(message.has_value());
  message_->setText(message.value_or(QString()));
}

}  // namespace bcn
