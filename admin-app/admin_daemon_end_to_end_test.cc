// The console against the real pairing broker: a control service in this
// process hands each call to an AdminDaemon, as the daemon's own sessions
// do, and the model approves a request that an app is waiting on.
#include <gtest/gtest.h>
#include <unistd.h>

#include "admin-app/admin_model.h"
#include "admin-app/testing/qt_wait.h"
#include "daemon/admin_daemon.h"
#include "daemon/testing/daemon_fixture.h"
#include "platform/ipc/server.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_methods.h"

namespace bcn {
namespace {

using testing::ReplyBox;
using testing::waitUntil;

std::vector<std::uint8_t> bytesOf(const PlistDictionary& arguments) {
  const PlistData* data = arguments.find("authorization")->data();
  return {data->begin(), data->end()};
}

class BrokerSession final : public ipc::Session {
 public:
  BrokerSession(AdminDaemon& daemon, const ipc::Peer& peer) : daemon_(daemon), peer_(peer) {}

  void handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) override {
    const std::string_view selector = method.selector;
    const std::uint32_t uid = peer_.credentials.uid;
    const std::string* id = arguments.find("requestID") ? arguments.find("requestID")->text() : nullptr;
    std::expected<void, PlatformError> done;
    if (selector == ControlSelector::status) {
      return reply(PlistDictionary{
          {"status", PlistDictionary{{"version", daemonVersion()}, {"protocol", AdminConstants::protocolVersion}}}});
    } else if (selector == ControlSelector::pendingPairings) {
      return reply(PlistDictionary{{"items", daemon_.pendingPairings(uid)}});
    } else if (selector == ControlSelector::approvePairing) {
      done = daemon_.approvePairing(*id, bytesOf(arguments), uid, *peer_.identity);
    } else if (selector == ControlSelector::denyPairing) {
      done = daemon_.denyPairing(*id, uid);
    } else if (selector == ControlSelector::unpairAll) {
      done = daemon_.unpairAll(bytesOf(arguments), *peer_.identity, uid);
    }
    if (done) return reply(PlistDictionary{});
    reply.fail(done.error());
  }

 private:
  AdminDaemon& daemon_;
  ipc::Peer peer_;
};

class ConsoleAgainstBroker : public ::testing::Test {
 protected:
  ConsoleAgainstBroker() {
    daemonAuthorization.grant(self, AdminConstants::pairRight);
    consoleAuthorization.grant(self, AdminConstants::pairRight);
    auto fd = ipc::bindServiceSocket(socket);
    EXPECT_TRUE(fd);
    ipc::Service service{&adminControlProtocol(),
                         std::nullopt,
                         [this](const ipc::Peer& peer) { return std::make_shared<BrokerSession>(daemon, peer); },
                         {}};
    EXPECT_TRUE(server.serve(*fd, std::move(service)));
    model = std::make_unique<AdminModel>(
        consoleAuthorization, AdminModel::Options{[path = socket](ipc::Client::Options options) {
                                                    return AdminControlClient::connect(path, std::move(options));
                                                  },
                                                  {{"true"}}});
  }
  ~ConsoleAgainstBroker() override {
    model.reset();
    server.stop();
  }

  void refreshAndWait() {
    bool applied = false;
    auto c = QObject::connect(model.get(), &AdminModel::pendingChanged, [&] { applied = true; });
    model->refresh();
    ASSERT_TRUE(waitUntil([&] { return applied; }));
    QObject::disconnect(c);
  }

  const ProcessIdentity self = *ProcessIdentity::ofSelf();
  const std::uint32_t uid = ::geteuid();
  bcn::testing::TempDir dir;
  std::filesystem::path socket = dir / "control";
  FakeAuthorizationServices daemonAuthorization{self};
  FakeAuthorizationServices consoleAuthorization{self};
  RecordingLog log;
  AdminDaemon daemon{PairingStore::load(bcn::testing::storeOptionsFor(dir.path())), daemonAuthorization, log,
                     netprefs::PreferencesLocation::inDirectory(dir / "netprefs")};
  ipc::Server server{2};
  std::unique_ptr<AdminModel> model;
};

TEST_F(ConsoleAgainstBroker, ApprovingHandsTheWaitingAppItsToken) {
  const std::string id = *daemon.beginPairing(uid, 1);
  ReplyBox app;
  daemon.awaitPairing(id, 1, app.reply());

  refreshAndWait();
  EXPECT_EQ(model->helperVersion(), QString::fromStdString(daemonVersion()));
  ASSERT_EQ(model->pending().size(), 1);
  EXPECT_EQ(model->pending()[0].id.toStdString(), id);

  model->approve(model->pending()[0].id);
  ASSERT_TRUE(waitUntil([&] { return model->message() == QString("Beaconbar is paired."); }));
  ASSERT_TRUE(waitUntil([&] { return model->pending().isEmpty(); }));
  auto token = app.only();
  ASSERT_TRUE(token) << token.error().description;
  EXPECT_EQ(token->size(), 44u);
  EXPECT_TRUE(daemon.isPaired(*token, uid));

  // Approving it again: the request is gone.
  model->approve(QString::fromStdString(id));
  ASSERT_TRUE(waitUntil([&] { return model->message() == QString("The pairing request has expired"); }));

  model->unpairAll();
  ASSERT_TRUE(waitUntil([&] { return model->message() == QString("All pairings removed."); }));
  EXPECT_FALSE(daemon.isPaired(*token, uid));
}

TEST_F(ConsoleAgainstBroker, DenyingAnswersTheAppAndEmptiesTheList) {
  const std::string id = *daemon.beginPairing(uid, 1);
  ReplyBox app;
  daemon.awaitPairing(id, 1, app.reply());
  refreshAndWait();
  ASSERT_EQ(model->pending().size(), 1);
  model->deny(model->pending()[0].id);
  ASSERT_TRUE(waitUntil([&] { return model->pending().isEmpty(); }));
  EXPECT_EQ(app.onlyError(), AdminError::authorizationFailed);
  EXPECT_FALSE(model->message());
}

}  // namespace
}  // namespace bcn
