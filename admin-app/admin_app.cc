#include "admin-app/admin_app.h"

#include <QGuiApplication>
#include <QVBoxLayout>

namespace bcn {

AdminApp::AdminApp(AuthorizationServices& authorization, AdminModel::Options options)
    : model_(authorization, std::move(options)), window_(std::make_unique<QWidget>()) {
  window_->setObjectName(QStringLiteral("main"));
  window_->setWindowTitle(tr("Beaconbar Admin"));
  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  view_ = new AdminView(model_, window_.get());
  layout->addWidget(view_);

  connect(qGuiApp, &QGuiApplication::applicationStateChanged, &model_, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) model_.refresh();
  });
}

AdminApp::~AdminApp() = default;

void AdminApp::show() { window_->show(); }

}  // namespace bcn
