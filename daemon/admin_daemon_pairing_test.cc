#include <gtest/gtest.h>

#include <regex>

#include "daemon/testing/daemon_fixture.h"
#include "protocol/admin_error.h"

namespace bcn {
namespace {

using testing::adminError;
using testing::DaemonFixture;
using testing::kConsole;
using testing::ReplyBox;

constexpr std::uint32_t kUser = kConsole.uid;

TEST(PairingHandshake, ApprovalHandsTheWaitingAppAWorkingToken) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
  ReplyBox wait;
  f.daemon->awaitPairing(id, 1, wait.reply());
  EXPECT_EQ(wait.count(), 0u) << "the wait stays open until someone decides";
  EXPECT_EQ(f.pendingIDs(kUser), std::vector<std::string>{id});

  ASSERT_TRUE(f.approve(id));
  auto token = wait.only();
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->size(), 44u);
  EXPECT_TRUE(f.daemon->isPaired(*token, kUser));
  EXPECT_FALSE(f.daemon->isPaired(*token, kUser + 1));
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(f.dir.path())).isPaired(*token, kUser));
  EXPECT_TRUE(f.pendingIDs(kUser).empty());
  EXPECT_EQ(f.log.messages(), (std::vector<std::string>{"pairing requested by uid 501 as " + id,
                                                        "pairing " + id + " approved for uid 501"}));
}

TEST(PairingHandshake, ANewRequestOfTheSameUserSupersedesTheOld) {
  DaemonFixture f;
  const std::string first = f.begin(kUser, 1);
  ReplyBox firstWait;
  f.daemon->awaitPairing(first, 1, firstWait.reply());
  const std::string second = f.begin(kUser, 2);

  EXPECT_EQ(firstWait.onlyError(), AdminError::unknownRequest);
  EXPECT_EQ(firstWait.only().error().code, 3);
  EXPECT_EQ(firstWait.only().error().description, "The pairing request has expired");
  EXPECT_EQ(f.pendingIDs(kUser), std::vector<std::string>{second});
  EXPECT_EQ(adminError(f.approve(first)), AdminError::unknownRequest);
}

TEST(PairingHandshake, EachAdministratorSeesOnlyTheOwnUsersRequests) {
  DaemonFixture f;
  const std::string a = f.begin(501, 1);
  const std::string b = f.begin(502, 2);
  const std::string c = f.begin(4294967295u, 3);
  EXPECT_EQ(f.pendingIDs(501), std::vector<std::string>{a});
  EXPECT_EQ(f.pendingIDs(502), std::vector<std::string>{b});
  EXPECT_EQ(f.pendingIDs(4294967295u), std::vector<std::string>{c});
  EXPECT_TRUE(f.pendingIDs(503).empty());
  EXPECT_EQ(f.log.messages().back(), "pairing requested by uid 4294967295 as " + c);

  auto entry = f.daemon->pendingPairings(502).front();
  ASSERT_TRUE(entry.dictionary());
  EXPECT_EQ(entry.dictionary()->size(), 2u);
  ASSERT_TRUE(entry.dictionary()->find("created") && entry.dictionary()->find("created")->date());
  EXPECT_NEAR(entry.dictionary()->find("created")->date()->secondsSince2001, Date::now().secondsSince2001, 60);
}

TEST(PairingHandshake, AConsoleOfAnotherUserCannotDecide) {
  DaemonFixture f;
  const std::string id = f.begin(502, 1);
  ReplyBox wait;
  f.daemon->awaitPairing(id, 1, wait.reply());
  EXPECT_EQ(adminError(f.approve(id, 501)), AdminError::wrongUser);
  EXPECT_EQ(adminError(f.daemon->denyPairing(id, 501)), AdminError::wrongUser);
  EXPECT_EQ(wait.count(), 0u);
  EXPECT_EQ(f.pendingIDs(502), std::vector<std::string>{id});
  ASSERT_TRUE(f.approve(id, 502));
  EXPECT_TRUE(wait.only().has_value());
}

TEST(PairingHandshake, ARequestIsDecidedOnce) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  ASSERT_TRUE(f.approve(id));
  EXPECT_EQ(adminError(f.approve(id)), AdminError::unknownRequest);
  EXPECT_EQ(adminError(f.daemon->denyPairing(id, kUser)), AdminError::unknownRequest);
  EXPECT_EQ(f.daemon->denyPairing("", kUser).error().description, "The pairing request has expired");
}

TEST(PairingHandshake, DenialTellsTheAppAuthorizationFailed) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  ReplyBox wait;
  f.daemon->awaitPairing(id, 1, wait.reply());
  ASSERT_TRUE(f.daemon->denyPairing(id, kUser));
  EXPECT_EQ(wait.onlyError(), AdminError::authorizationFailed);
  EXPECT_EQ(wait.only().error().description, "Administrator authorization failed");
  EXPECT_TRUE(f.pendingIDs(kUser).empty());
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().empty());
  EXPECT_EQ(f.log.messages().size(), 1u) << "denial is not logged";
}

TEST(PairingHandshake, AnEndedSessionTakesItsRequestsAlong) {
  DaemonFixture f;
  const std::string mine = f.begin(501, 1);
  const std::string other = f.begin(502, 2);
  ReplyBox wait;
  f.daemon->awaitPairing(mine, 1, wait.reply());
  f.daemon->sessionEnded(1);
  EXPECT_TRUE(f.pendingIDs(501).empty());
  EXPECT_EQ(f.pendingIDs(502), std::vector<std::string>{other});
  EXPECT_EQ(adminError(f.approve(mine, 501)), AdminError::unknownRequest);
  EXPECT_EQ(wait.count(), 0u) << "the connection that would carry the answer is gone";
  f.daemon->sessionEnded(99);
  EXPECT_EQ(f.pendingIDs(502), std::vector<std::string>{other});
}

TEST(PairingWait, OnlyTheOpeningSessionMayWait) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  ReplyBox unknown, stranger, owner;
  f.daemon->awaitPairing("7B0E5B8A-0000-4000-8000-000000000000", 1, unknown.reply());
  f.daemon->awaitPairing(id, 2, stranger.reply());  // same user, another app
  EXPECT_EQ(unknown.onlyError(), AdminError::unknownRequest);
  EXPECT_EQ(stranger.onlyError(), AdminError::unknownRequest);
  f.daemon->awaitPairing(id, 1, owner.reply());
  ASSERT_TRUE(f.approve(id));
  EXPECT_TRUE(owner.only().has_value());
  EXPECT_EQ(stranger.count(), 1u);
}

TEST(PairingWait, ASecondWaitReplacesTheFirstWhichIsToldItExpired) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  ReplyBox first, second;
  f.daemon->awaitPairing(id, 1, first.reply());
  f.daemon->awaitPairing(id, 1, second.reply());
  EXPECT_EQ(first.onlyError(), AdminError::unknownRequest);
  ASSERT_TRUE(f.approve(id));
  EXPECT_TRUE(second.only().has_value());
  EXPECT_EQ(first.count(), 1u);
}

TEST(PairingWait, ApprovalBeforeTheWaitRecordsAPairingNobodyReceives) {
  DaemonFixture f;
  const std::string id = f.begin(kUser, 1);
  ASSERT_TRUE(f.approve(id));
  ReplyBox late;
  f.daemon->awaitPairing(id, 1, late.reply());
  EXPECT_EQ(late.onlyError(), AdminError::unknownRequest);
  EXPECT_EQ(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().size(), 1u);
}

TEST(PairingHandshake, AFailedSaveReachesTheConsoleAndTheApp) {
  DaemonFixture f(DaemonFixture::Store::unwritable);
  const std::string id = f.begin(kUser, 1);
  ReplyBox wait;
  f.daemon->awaitPairing(id, 1, wait.reply());

  auto result = f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kUser, kConsole);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ENOTDIR);
  ASSERT_FALSE(wait.only().has_value());
  EXPECT_EQ(wait.only().error(), result.error());
  EXPECT_TRUE(f.pendingIDs(kUser).empty());
  EXPECT_EQ(f.log.messages().size(), 1u) << "failures are not logged";
}

}  // namespace
// Opening requests is open to every user; the lines that record decisions
// must not drown in them, nor be dropped by a journal that limits us.
TEST(PairingLog, RequestsFloodNoMoreThanABurstAndApprovalsAlwaysShow) {
  DaemonFixture f;
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(f.daemon->beginPairing(kConsole.uid, 1));
  const std::string id = f.begin(kConsole.uid, 1);
  ASSERT_TRUE(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole));
  const auto lines = f.log.messages();
  EXPECT_LE(lines.size(), 30u) << "501 requests wrote " << lines.size() << " lines";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "pairing " + id + " approved for uid " + std::to_string(kConsole.uid));

  // Another user's request is still recorded.
  ASSERT_TRUE(f.daemon->beginPairing(kConsole.uid + 1, 2));
  EXPECT_NE(f.log.messages().back().find("requested by uid " + std::to_string(kConsole.uid + 1)), std::string::npos);
}

}  // namespace bcn
