// AdminModel: the console's single state object. It holds what the window
// shows — the daemon's version, the pending pairing requests of the
// console's user, the last result message — and carries out the
// administrator's five actions: refresh, approve, deny, unpair all and
// uninstall. Results arrive later as field changes, each announced by its
// signal; a write equal to the current value stays silent, except that
// every write of the pending list is announced.
//
// The connection to the daemon's control service is made on first use and
// dropped when it ends, so the next action connects afresh. Every reply and
// every delivery failure is applied on the model's thread through a queued
// call that holds the model weakly: one that arrives after the model is
// gone does nothing.
//
// Thread: a QObject of the GUI thread; all methods run there. Authorization
// dialogs and the uninstall script run synchronously on that thread.
// REQUIRES: a QCoreApplication exists and the model lives on its thread
// (the queued calls travel through the application object). Lifetimes: the authorization
// service must outlive the model. Links QtCore only, so headless tools can
// drive it.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "admin-app/console_replies.h"
#include "admin-app/helper_uninstaller.h"
#include "admin-app/pair_authorizer.h"
#include "client/admin_control_client.h"
#include "platform/authorization/authorization.h"

namespace bcn {

// Opens a connection to the control service; the options (which say how
// to learn that it ended) must be passed on to the IPC client.
using ControlClientFactory = std::function<std::expected<AdminControlClient, PlatformError>(ipc::Client::Options)>;

struct AdminModelOptions {
  // Empty: the control service's socket in the runtime directory.
  ControlClientFactory connect;
  UninstallCommand uninstall = defaultUninstallCommand();
};

// How one refresh or action ended. The window has no use for it (it shows
// the fields); a driver without a window, such as beaconbar-adminctl,
// learns from it when to stop waiting and whether the action worked.
struct ModelOutcome {
  enum class Kind {
    succeeded,
    cancelled,      // the administrator dismissed the dialog; nothing was sent
    notAuthorized,  // the right was refused or could not be obtained; nothing was sent
    failed,         // not delivered, or answered with the daemon's error
  };
  Kind kind = Kind::succeeded;
  // failed: the delivery failure or the daemon's error.
  std::optional<PlatformError> error;
  // cancelled and notAuthorized: the authorization service's status.
  std::int32_t authorizationStatus = 0;

  bool operator==(const ModelOutcome&) const = default;
};

class AdminModel : public QObject {
  Q_OBJECT

 public:
  using ClientFactory = ControlClientFactory;
  using Options = AdminModelOptions;

  explicit AdminModel(AuthorizationServices& authorization, Options options = {}, QObject* parent = nullptr);
  ~AdminModel() override;

  // Absent while the daemon cannot be reached or reports no text version.
  const std::optional<QString>& helperVersion() const { return helperVersion_; }
  // In the daemon's order.
  const QList<PendingRequest>& pending() const { return pending_; }
  // Once set, only ever replaced by a later one.
  const std::optional<QString>& message() const { return message_; }
  bool isConnected() const { return connection_ != nullptr; }
  const Authorization* lastAuthorization() const { return authorizer_.lastAuthorization(); }

 public slots:
  // Re-reads the version and the pending list; the two requests are
  // independent and may be answered in either order.
  void refresh();
  // Asks the administrator for the pair right, then approves the request.
  void approve(const QString& requestID);
  // Refuses the request; the daemon's answer only triggers a refresh.
  void deny(const QString& requestID);
  // Asks for the pair right, then revokes every pairing.
  void unpairAll();
  // Runs the uninstall script as an administrator, then refreshes.
  void uninstallHelper();

 signals:
  void helperVersionChanged();
  void pendingChanged();
  void messageChanged();
  void connectionChanged();
  // Once per refresh, after both of its replies have been applied: failed
  // with the first failure (daemon unreachable, or its error) if any.
  void refreshFinished(const bcn::ModelOutcome& outcome);
  // Once per approve, deny and unpair all: when its reply has been applied
  // (approve's follow-up refresh is sent by then), or at once when the
  // authorization ended it. Deny reports the daemon's error, which the
  // window does not show.
  void actionFinished(const bcn::ModelOutcome& outcome);

 private:
  using ErrorHandler = std::function<void(AdminModel&, const PlatformError&)>;
  struct RefreshRound;
  using ReplyHandler = std::function<void(AdminModel&, const ipc::ReplyValues&)>;

  // Sends one call. `onError` gets a failure to deliver it or to get a
  // well-formed reply; `onReply` gets the reply, which may carry the
  // daemon's own error. Both run on the GUI thread while the model lives.
  void send(std::string_view selector, PlistDictionary arguments, ErrorHandler onError, ReplyHandler onReply);
  ipc::Client::Options connectionOptions();
  // A form for the pair right, or nothing (with the message set when the
  // administrator should be told, and the action reported finished).
  std::optional<std::vector<std::uint8_t>> authorizePairRight();

  static void refreshFailed(AdminModel& model, const PlatformError&);
  static void actionFailed(AdminModel& model, const PlatformError& error);
  // Reports the action finished: failed with `error`, else succeeded.
  void finishAction(const std::optional<PlatformError>& error);
  void finishRefreshPart(RefreshRound& round, const std::optional<PlatformError>& failure);

  void setHelperVersion(std::optional<QString> version);
  void setPending(QList<PendingRequest> pending);
  void setMessage(QString message);
  void setConnection(std::unique_ptr<AdminControlClient> connection);

  Options options_;
  PairAuthorizer authorizer_;
  std::optional<QString> helperVersion_;
  QList<PendingRequest> pending_;
  std::optional<QString> message_;
  std::unique_ptr<AdminControlClient> connection_;
};

}  // namespace bcn
