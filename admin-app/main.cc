// beaconbar-admin: the administrator's console for Beaconbar's admin
// daemon. Lists the pairing requests of the current user and approves or
// denies them, revokes every pairing, or uninstalls the daemon.
#include <QApplication>

#include "admin-app/admin_app.h"
#include "platform/authorization/polkit_authorization.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("beaconbar-admin"));
  QApplication::setOrganizationDomain(QStringLiteral("quillbank.com"));
  bcn::PolkitAuthorizationServices authorization;
  bcn::AdminApp shell(authorization);
  shell.show();
  return application.exec();
}
