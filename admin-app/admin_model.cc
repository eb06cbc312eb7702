#include "admin-app/admin_model.h"

#include <QCoreApplication>
#include <QPointer>
#include <utility>

#include "protocol/admin_methods.h"

namespace bcn {
namespace {

// Runs `apply` on the GUI thread if the model still exists then. Callable
// from any thread: the pointer is only dereferenced on the GUI thread, and
// the application object, not the model, carries the queued call, so a
// model being destroyed meanwhile is never touched.
template <typename Apply>
void applyLater(QPointer<AdminModel> model, Apply apply) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [model = std::move(model), apply = std::move(apply)]() mutable {
        if (model) apply(*model);
      },
      Qt::QueuedConnection);
}

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// The two replies of one refresh, counted down as they are applied.
struct AdminModel::RefreshRound {
  int remaining = 2;
  std::optional<PlatformError> failure;
};

AdminModel::AdminModel(AuthorizationServices& authorization, Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), authorizer_(authorization) {
  if (!options_.connect) {
    options_.connect = [](ipc::Client::Options clientOptions) {
      return AdminControlClient::connect(std::nullopt, std::move(clientOptions));
    };
  }
}

// The connection goes first (it is declared last); its waiting calls then
// fail, and their queued handlers find the model gone.
AdminModel::~AdminModel() = default;

void AdminModel::refresh() {
  auto round = std::make_shared<RefreshRound>();
  const ErrorHandler failed = [round](AdminModel& model, const PlatformError& error) {
    refreshFailed(model, error);
    model.finishRefreshPart(*round, error);
  };
  send(ControlSelector::status, {}, failed, [failed, round](AdminModel& model, const ipc::ReplyValues& reply) {
    if (reply.error) return failed(model, *reply.error);
    model.setHelperVersion(helperVersionFromStatus(reply.values));
    model.finishRefreshPart(*round, std::nullopt);
  });
  send(ControlSelector::pendingPairings, {}, failed, [failed, round](AdminModel& model, const ipc::ReplyValues& reply) {
    if (reply.error) return failed(model, *reply.error);
    model.setPending(pendingRequestsFromReply(reply.values));
    model.finishRefreshPart(*round, std::nullopt);
  });
}

void AdminModel::approve(const QString& requestID) {
  auto form = authorizePairRight();
  if (!form) return;
  PlistDictionary arguments{{"requestID", requestID.toStdString()}, {"authorization", PlistData(std::move(*form))}};
  send(ControlSelector::approvePairing, std::move(arguments), &AdminModel::actionFailed,
       [](AdminModel& model, const ipc::ReplyValues& reply) {
         model.setMessage(reply.error ? fromUtf8(reply.error->description) : QStringLiteral("Beaconbar is paired."));
         model.refresh();
         model.finishAction(reply.error);
       });
}

void AdminModel::deny(const QString& requestID) {
  // An expired request is no news to the administrator: it simply
  // disappears from the list on the refresh.
  send(ControlSelector::denyPairing, {{"requestID", requestID.toStdString()}}, &AdminModel::actionFailed,
       [](AdminModel& model, const ipc::ReplyValues& reply) {
         model.refresh();
         model.finishAction(reply.error);
       });
}

void AdminModel::unpairAll() {
  auto form = authorizePairRight();
  if (!form) return;
  send(ControlSelector::unpairAll, {{"authorization", PlistData(std::move(*form))}}, &AdminModel::actionFailed,
       [](AdminModel& model, const ipc::ReplyValues& reply) {
         model.setMessage(reply.error ? fromUtf8(reply.error->description) : QStringLiteral("All pairings removed."));
         model.finishAction(reply.error);
       });
}

void AdminModel::uninstallHelper() {
  auto removed = runUninstall(options_.uninstall);
  if (removed) {
    setMessage(QStringLiteral("The admin helper was removed."));
  } else {
    const QString why = removed.error().empty() ? QStringLiteral("unknown error") : fromUtf8(removed.error());
    setMessage(QStringLiteral("Uninstall failed: ") + why);
  }
  refresh();
}

void AdminModel::send(std::string_view selector, PlistDictionary arguments, ErrorHandler onError,
                      ReplyHandler onReply) {
  QPointer<AdminModel> self(this);
  if (!connection_) {
    auto opened = options_.connect(connectionOptions());
    if (!opened) {
      // Reported like a message that could not be delivered: later, from
      // the event loop, never in the middle of the action.
      applyLater(self, [onError, error = opened.error()](AdminModel& model) { onError(model, error); });
      return;
    }
    setConnection(std::make_unique<AdminControlClient>(std::move(*opened)));
  }
  const MethodSpec* method = adminControlProtocol().find(selector);
  connection_->connection().call(
      selector, std::move(arguments),
      [self, method, onError, onReply = std::move(onReply)](ipc::Client::Result result) mutable {
        if (result && (method == nullptr || !ipc::replyFits(*method, *result))) {
          result = std::unexpected(ipc::replyInvalid());
        }
        applyLater(std::move(self),
                   [result = std::move(result), onError, onReply = std::move(onReply)](AdminModel& model) {
                     if (result) {
                       onReply(model, *result);
                     } else {
                       onError(model, result.error());
                     }
                   });
      });
}

ipc::Client::Options AdminModel::connectionOptions() {
  QPointer<AdminModel> self(this);
  return {.ended = [self](const PlatformError&) {
    applyLater(self, [](AdminModel& model) {
      // Only the stored connection can have ended: a new one is made only
      // after this handler has dropped the old.
      if (model.connection_) model.setConnection(nullptr);
    });
  }};
}

std::optional<std::vector<std::uint8_t>> AdminModel::authorizePairRight() {
  auto form = authorizer_.authorize();
  if (form) return std::move(*form);
  const PairAuthorizer::Failure failure = form.error();
  if (failure.kind == PairAuthorizer::Failure::Kind::refused) {
    setMessage(QStringLiteral("Authorization failed (%1).").arg(failure.status));
  }
  const auto kind = failure.kind == PairAuthorizer::Failure::Kind::cancelled ? ModelOutcome::Kind::cancelled
                                                                             : ModelOutcome::Kind::notAuthorized;
  emit actionFinished(ModelOutcome{kind, std::nullopt, failure.status});
  return std::nullopt;
}

void AdminModel::refreshFailed(AdminModel& model, const PlatformError&) {
  model.setHelperVersion(std::nullopt);
  model.setPending({});
}

void AdminModel::actionFailed(AdminModel& model, const PlatformError& error) {
  model.setMessage(fromUtf8(error.description));
  model.finishAction(error);
}

void AdminModel::finishAction(const std::optional<PlatformError>& error) {
  emit actionFinished(error ? ModelOutcome{ModelOutcome::Kind::failed, error, 0} : ModelOutcome{});
}

void AdminModel::finishRefreshPart(RefreshRound& round, const std::optional<PlatformError>& failure) {
  if (failure && !round.failure) round.failure = failure;
  if (--round.remaining > 0) return;
  emit refreshFinished(round.failure ? ModelOutcome{ModelOutcome::Kind::failed, round.failure, 0} : ModelOutcome{});
}

void AdminModel::setHelperVersion(std::optional<QString> version) {
  if (version == helperVersion_) return;
  helperVersion_ = std::move(version);
  emit helperVersionChanged();
}

void AdminModel::setPending(QList<PendingRequest> pending) {
  pending_ = std::move(pending);
  emit pendingChanged();
}

void AdminModel::setMessage(QString message) {
  if (message_ == message) return;
  message_ = std::move(message);
  emit messageChanged();
}

void AdminModel::setConnection(std::unique_ptr<AdminControlClient> connection) {
  if (connection == connection_) return;
  connection_ = std::move(connection);
  emit connectionChanged();
}

}  // namespace bcn
