#include <gtest/gtest.h>

#include "daemon/testing/daemon_fixture.h"

namespace bcn {
namespace {

using testing::adminError;
using testing::DaemonFixture;
using testing::kConsole;

std::vector<std::uint8_t> bytes(std::size_t n) { return std::vector<std::uint8_t>(n, 0x42); }

TEST(PairRight, FormsOfTheWrongSizeAreRefusedWithoutAskingTheSystem) {
  DaemonFixture f;
  const std::string id = f.begin(kConsole.uid, 1);
  for (std::size_t size : {0u, 31u, 33u}) {
    EXPECT_EQ(adminError(f.daemon->approvePairing(id, bytes(size), kConsole.uid, kConsole)),
              AdminError::authorizationFailed)
        << size << " bytes";
  }
  EXPECT_EQ(adminError(f.daemon->unpairAll(bytes(31), kConsole, kConsole.uid)), AdminError::authorizationFailed);
  EXPECT_TRUE(f.authorization.copyRightsCalls().empty());
  EXPECT_EQ(f.pendingIDs(kConsole.uid), std::vector<std::string>{id}) << "the request stays";
}

TEST(PairRight, ZeroBytesAreNotAnAuthorization) {
  DaemonFixture f;
  const std::string id = f.begin(kConsole.uid, 1);
  EXPECT_EQ(adminError(f.daemon->approvePairing(id, std::vector<std::uint8_t>(32, 0), kConsole.uid, kConsole)),
            AdminError::authorizationFailed);
  EXPECT_TRUE(f.authorization.copyRightsCalls().empty());
}

TEST(PairRight, IsCheckedWithoutInteractionAndTheAuthorizationFreed) {
  DaemonFixture f;
  const std::string id = f.begin(kConsole.uid, 1);
  ASSERT_TRUE(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole));
  auto calls = f.authorization.copyRightsCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].right, "com.quillbank.Beaconbar.admin.pair");
  EXPECT_EQ(calls[0].flags, AuthorizationFlags::extendRights) << "the daemon never shows a dialog";
  EXPECT_EQ(calls[0].subject, kConsole);
  EXPECT_EQ(f.authorization.freeFlags(), std::vector<std::uint32_t>{AuthorizationFlags::defaults});
  EXPECT_EQ(f.authorization.liveAuthorizations(), 0);
}

TEST(PairRight, AnAuthorizationWithoutTheRightIsRefused) {
  DaemonFixture f;
  f.authorization.setRule([](const ProcessIdentity&, std::string_view, std::uint32_t) {
    return AuthorizationStatus::interactionNotAllowed;
  });
  const std::string id = f.begin(kConsole.uid, 1);
  EXPECT_EQ(adminError(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole)),
            AdminError::authorizationFailed);
  EXPECT_EQ(f.authorization.copyRightsCalls().size(), 1u);
  EXPECT_EQ(f.authorization.liveAuthorizations(), 0) << "freed whatever the answer";
  EXPECT_EQ(f.pendingIDs(kConsole.uid), std::vector<std::string>{id});
}

TEST(PairRight, AFormMustNameTheCallingProcess) {
  DaemonFixture f;
  const std::string id = f.begin(kConsole.uid, 1);
  // A genuine, granted form, replayed by another process of the same user.
  ProcessIdentity replayer = kConsole;
  replayer.pid += 1;
  EXPECT_EQ(adminError(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, replayer)),
            AdminError::authorizationFailed);
  EXPECT_EQ(adminError(f.daemon->unpairAll(DaemonFixture::formFor(kConsole), replayer, replayer.uid)),
            AdminError::authorizationFailed);
  EXPECT_TRUE(f.authorization.copyRightsCalls().empty());
  EXPECT_EQ(f.authorization.liveAuthorizations(), 0);
}

TEST(PairRight, AFormOfAProcessThatExitedIsRefused) {
  DaemonFixture f;
  const std::string id = f.begin(kConsole.uid, 1);
  f.authorization.markExited(kConsole);
  EXPECT_EQ(adminError(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole)),
            AdminError::authorizationFailed);
  EXPECT_EQ(f.pendingIDs(kConsole.uid), std::vector<std::string>{id});
}

TEST(UnpairAll, RevokesEveryPairingButKeepsOpenRequests) {
  DaemonFixture f;
  ASSERT_TRUE(f.approve(f.begin(501, 1), 501));
  ASSERT_TRUE(f.approve(f.begin(502, 2), 502));
  const std::string open = f.begin(501, 3);
  ASSERT_EQ(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().size(), 2u);

  ASSERT_TRUE(f.daemon->unpairAll(DaemonFixture::formFor(kConsole), kConsole, kConsole.uid));
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().empty());
  EXPECT_EQ(f.log.messages().back(), "all pairings removed");

  testing::ReplyBox wait;
  f.daemon->awaitPairing(open, 3, wait.reply());
  ASSERT_TRUE(f.approve(open, 501));
  ASSERT_TRUE(wait.only().has_value());
  EXPECT_TRUE(f.daemon->isPaired(*wait.only(), 501));
}

TEST(UnpairAll, OnAnEmptyStoreStillWritesTheFile) {
  DaemonFixture f;
  const auto file = PairingStore::load(testing::storeOptionsFor(f.dir.path())).fileURL();
  ASSERT_FALSE(std::filesystem::exists(file));
  ASSERT_TRUE(f.daemon->unpairAll(DaemonFixture::formFor(kConsole), kConsole, kConsole.uid));
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(f.log.messages(), std::vector<std::string>{"all pairings removed"});
}

TEST(UnpairAll, ARefusedAuthorizationChangesNothing) {
  DaemonFixture f;
  ASSERT_TRUE(f.approve(f.begin(501, 1), 501));
  f.authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::denied; });
  EXPECT_EQ(adminError(f.daemon->unpairAll(DaemonFixture::formFor(kConsole), kConsole, kConsole.uid)),
            AdminError::authorizationFailed);
  EXPECT_EQ(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().size(), 1u);
}

TEST(UnpairAll, ASaveFailureIsReportedAndNotLogged) {
  DaemonFixture f(DaemonFixture::Store::unwritable);
  auto result = f.daemon->unpairAll(DaemonFixture::formFor(kConsole), kConsole, kConsole.uid);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ENOTDIR);
  EXPECT_TRUE(f.log.messages().empty());
}

}  // namespace
// Every ask of polkit starts a process; a caller must not be able to have
// one started when the answer could not matter.
TEST(PairRight, ARequestThatCannotBeApprovedIsRefusedWithoutAskingTheSystem) {
  DaemonFixture f;
  const std::string theirs = f.begin(kConsole.uid + 1, 1);
  EXPECT_EQ(adminError(f.daemon->approvePairing("00000000-0000-0000-0000-000000000000",
                                                DaemonFixture::formFor(kConsole), kConsole.uid, kConsole)),
            AdminError::unknownRequest);
  EXPECT_EQ(adminError(f.daemon->approvePairing(theirs, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole)),
            AdminError::wrongUser);
  EXPECT_TRUE(f.authorization.copyRightsCalls().empty());
  EXPECT_EQ(f.pendingIDs(kConsole.uid + 1), std::vector<std::string>{theirs});
}

TEST(PairRight, OneUserCannotHaveTheSystemAskedAtWillButOthersStillCan) {
  DaemonFixture f;
  f.authorization.setRule([](const ProcessIdentity&, std::string_view, std::uint32_t) {
    return AuthorizationStatus::denied;
  });
  const std::string id = f.begin(kConsole.uid, 1);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(adminError(f.daemon->approvePairing(id, DaemonFixture::formFor(kConsole), kConsole.uid, kConsole)),
              AdminError::authorizationFailed);
    EXPECT_EQ(adminError(f.daemon->unpairAll(DaemonFixture::formFor(kConsole), kConsole, kConsole.uid)),
              AdminError::authorizationFailed);
  }
  const auto asked = f.authorization.copyRightsCalls().size();
  EXPECT_GE(asked, 10u) << "a few checks in a row must still be asked";
  EXPECT_LE(asked, 15u) << "100 calls in a burst asked polkit " << asked << " times";

  ProcessIdentity other = kConsole;
  other.uid = kConsole.uid + 1;
  other.pid = kConsole.pid + 1;
  EXPECT_EQ(adminError(f.daemon->unpairAll(DaemonFixture::formFor(other), other, other.uid)),
            AdminError::authorizationFailed);
  EXPECT_EQ(f.authorization.copyRightsCalls().size(), asked + 1) << "another user's check was not asked";
}

}  // namespace bcn
