#include <gtest/gtest.h>

#include <future>

#include "client/admin_app_client.h"
#include "client/admin_control_client.h"
#include "platform/ipc/testing/test_service.h"
#include "protocol/admin_error.h"

namespace bcn {
namespace {

using ipc::testing::Record;
using ipc::testing::TestService;
using namespace std::chrono_literals;

TEST(AdminAppClient, SpeaksTheAppService) {
  TestService service;
  auto client = AdminAppClient::connect(service.path);
  ASSERT_TRUE(client) << client.error().description;
  EXPECT_EQ(client->status(std::nullopt), (AdminStatus{"test", 1, false}));
  EXPECT_EQ(client->status("TOKEN"), (AdminStatus{"test", 1, true}));
  EXPECT_EQ(client->beginPairing(), "REQUEST");
  EXPECT_TRUE(client->setServiceEnabled("S", true, "TOKEN"));
  EXPECT_TRUE(client->unpair("TOKEN"));
  EXPECT_EQ(client->tunnelOwners(), std::vector<TunnelOwnerEntry>{});

  std::promise<std::expected<std::string, PlatformError>> first, second;
  client->awaitPairing("R1", [&](auto r) { first.set_value(std::move(r)); });
  client->awaitPairing("R2", [&](auto r) { second.set_value(std::move(r)); });
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.held.size() == 2; }));
  service.record->held[1].fail(toPlatformError(AdminError::unknownRequest));
  service.record->held[0](PlistDictionary{{"value", "SECRET"}});
  EXPECT_EQ(first.get_future().get(), "SECRET");
  auto refused = second.get_future().get();
  ASSERT_FALSE(refused);
  EXPECT_EQ(adminErrorFromPlatformError(refused.error()), AdminError::unknownRequest);

  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->calls.size(), 8u);
}

TEST(AdminControlClient, SpeaksTheControlServiceAndRefusesMisshapenReplies) {
  // The test sessions answer control methods with no values at all, which
  // is right for deny and wrong for status and the pending list.
  TestService service(adminControlProtocol());
  auto client = AdminControlClient::connect(service.path);
  ASSERT_TRUE(client) << client.error().description;
  EXPECT_TRUE(client->denyPairing("R"));
  EXPECT_TRUE(client->approvePairing("R", std::vector<std::uint8_t>(32, 1)));
  EXPECT_TRUE(client->unpairAll(std::vector<std::uint8_t>(32, 1)));
  EXPECT_EQ(client->status().error(), ipc::replyInvalid());
  EXPECT_EQ(client->pendingPairings().error(), ipc::replyInvalid());
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->calls,
            (std::vector<std::string>{"denyPairingWithRequestID:reply:",
                                      "approvePairingWithRequestID:authorization:reply:",
                                      "unpairAllWithAuthorization:reply:", "statusWithReply:",
                                      "pendingPairingsWithReply:"}));
}

TEST(AdminClients, ConnectingWhereNoDaemonListensFails) {
  bcn::testing::TempDir dir;
  EXPECT_FALSE(AdminAppClient::connect(dir / "none"));
  EXPECT_FALSE(AdminControlClient::connect(dir / "none"));
}

}  // namespace
}  // namespace bcn
