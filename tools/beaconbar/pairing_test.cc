// The app-service client's pure parts: where and how the pairing token is
// kept, the one-line texts for daemon failures, and `status` output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/ipc/ipc_errors.h"
#include "platform/testing/test_support.h"
#include "protocol/admin_error.h"
#include "tools/beaconbar/daemon_errors.h"
#include "tools/beaconbar/pairing_status.h"
#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/token_file.h"

namespace bcn::cli {
namespace {

using bcn::testing::readText;
using bcn::testing::TempDir;
using bcn::testing::writeText;
using testing::keysOf;
using Strings = std::vector<std::string>;

const std::string kToken = "q83vEjRWeJq83vEjRWeJq83vEjRWeJq83vEjRWeJq80=";

std::uint32_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(TokenPathTest, ConfigHomeThenHomeThenError) {
  EXPECT_EQ(defaultTokenPath("/conf", "/home/u"), std::filesystem::path("/conf/beaconbar/token"));
  EXPECT_EQ(defaultTokenPath(nullptr, "/home/u"), std::filesystem::path("/home/u/.config/beaconbar/token"));
  EXPECT_EQ(defaultTokenPath("", "/home/u"), std::filesystem::path("/home/u/.config/beaconbar/token"));
  EXPECT_EQ(defaultTokenPath("conf", "/home/u"), std::filesystem::path("/home/u/.config/beaconbar/token"));
  EXPECT_FALSE(defaultTokenPath(nullptr, nullptr));
  EXPECT_FALSE(defaultTokenPath("a", "b"));
}

TEST(TokenFormTest, OnlyWhatTheDaemonIssues) {
  EXPECT_TRUE(isWellFormedToken(kToken));
  EXPECT_FALSE(isWellFormedToken(""));
  EXPECT_FALSE(isWellFormedToken(kToken.substr(0, 43)));
  EXPECT_FALSE(isWellFormedToken(kToken + "="));
  std::string unpadded = kToken;
  unpadded.back() = 'A';
  EXPECT_FALSE(isWellFormedToken(unpadded));
  std::string spaced = kToken;
  spaced[10] = ' ';
  EXPECT_FALSE(isWellFormedToken(spaced));
  std::string control = kToken;
  control[0] = '\n';
  EXPECT_FALSE(isWellFormedToken(control));
}

TEST(TokenFileTest, WrittenPrivatelyAndReadBack) {
  TempDir dir;
  const auto path = dir / "conf/beaconbar/token";
  auto none = readToken(path);
  ASSERT_TRUE(none) << none.error();
  EXPECT_FALSE(none->has_value());

  ASSERT_TRUE(writeToken(path, kToken));
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(modeOf(path.parent_path()), 0700u);
  EXPECT_EQ(readText(path), kToken + "\n");
  auto read = readToken(path);
  ASSERT_TRUE(read && read->has_value());
  EXPECT_EQ(**read, kToken);

  // A second pairing replaces the token whole.
  const std::string other = "A" + kToken.substr(1);
  ASSERT_TRUE(writeToken(path, other));
  EXPECT_EQ(readText(path), other + "\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1)
      << "no temporary file is left beside the token";

  ASSERT_TRUE(removeToken(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(removeToken(path)) << "removing what is not there is fine";
}

TEST(TokenFileTest, DamagedOrHostileFilesAreErrorsNamingTheFile) {
  TempDir dir;
  const auto path = dir / "token";
  for (const std::string& content : {std::string(""), kToken.substr(0, 20), kToken + "\n" + kToken + "\n",
                                     std::string("\0\0\0", 3), kToken + "\r\n"}) {
    writeText(path, content);
    auto read = readToken(path);
    ASSERT_FALSE(read) << "accepted [" << content << "]";
    EXPECT_NE(read.error().find(path.string()), std::string::npos) << read.error();
  }
  writeText(path, std::string(kMaxTokenFileBytes + 1, 'A'));
  EXPECT_FALSE(readToken(path));
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_FALSE(readToken(path)) << "a directory is not a token file";
}

TEST(TokenFileTest, DirectoryInTheWayFailsBeforeAnythingIsAsked) {
  TempDir dir;
  writeText(dir / "beaconbar", "a file where the directory belongs");
  auto prepared = prepareTokenDirectory(dir / "beaconbar/token");
  ASSERT_FALSE(prepared);
  EXPECT_NE(prepared.error().find("cannot create"), std::string::npos) << prepared.error();
  EXPECT_FALSE(writeToken(dir / "beaconbar/token", kToken));
}

TEST(DaemonErrorTextTest, EveryAdminErrorReadsAsAnInstruction) {
  const auto text = [](AdminError e, DaemonCall call) { return describeDaemonError(toPlatformError(e), call); };
  EXPECT_EQ(text(AdminError::notPaired, DaemonCall::setService),
            "not paired with the admin daemon; run: beaconbar pair");
  EXPECT_NE(text(AdminError::unknownService, DaemonCall::setService).find("beaconbar services"), std::string::npos);
  EXPECT_EQ(text(AdminError::unknownRequest, DaemonCall::awaitPairing),
            "the pairing request has expired (a newer request replaced it); run: beaconbar pair");
  EXPECT_NE(text(AdminError::unknownRequest, DaemonCall::approve).find("beaconbar-adminctl pending"),
            std::string::npos);
  // Code 4 to a waiting app is the administrator's denial; to an approval,
  // a refused authorization.
  EXPECT_EQ(text(AdminError::authorizationFailed, DaemonCall::awaitPairing),
            "the pairing request was denied by the administrator");
  EXPECT_EQ(text(AdminError::authorizationFailed, DaemonCall::approve),
            "administrator authorization failed: the admin daemon did not accept it");
  EXPECT_NE(text(AdminError::wrongUser, DaemonCall::approve).find("another user"), std::string::npos);
  EXPECT_EQ(text(AdminError::configurationFailed, DaemonCall::setService).find("macOS"), std::string::npos);
  EXPECT_NE(text(AdminError::alreadyPending, DaemonCall::beginPairing).find("already waiting"), std::string::npos);
  for (std::int64_t code = 1; code <= 7; ++code) {
    const std::string line = text(*adminErrorFromRawValue(code), DaemonCall::status);
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), std::string::npos);
  }
}

TEST(DaemonErrorTextTest, ConnectionAndTransportFailures) {
  const std::filesystem::path socket = "/run/beaconbar/T.com.quillbank.Beaconbar.admin";
  for (int code : {ENOENT, ECONNREFUSED}) {
    const std::string line = describeConnectError(PlatformError::fromErrno(code, "connect"), socket);
    EXPECT_EQ(line.rfind("the admin daemon is not running (nothing listens at " + socket.string() + ")", 0), 0u)
        << line;
  }
  EXPECT_EQ(describeConnectError(PlatformError::fromErrno(EACCES, "connect"), socket),
            "no permission to reach the admin daemon at " + socket.string());
  EXPECT_NE(describeDaemonError(ipc::connectionInterrupted(), DaemonCall::status).find("code-identity registry"),
            std::string::npos);
  EXPECT_EQ(describeDaemonError(ipc::connectionInterrupted(), DaemonCall::awaitPairing),
            "the admin daemon stopped while the request was waiting; run: beaconbar pair");
  EXPECT_EQ(describeDaemonError(ipc::timedOut(), DaemonCall::setService), "the admin daemon did not answer in time");
  EXPECT_NE(describeDaemonError(ipc::replyInvalid(), DaemonCall::pending).find("not understood"), std::string::npos);
  // An AdminError code in a foreign domain is not an AdminError.
  EXPECT_EQ(describeDaemonError({"other.domain", 1, "boom"}, DaemonCall::status), "the admin daemon failed: boom");
}

TEST(PairingStatusTest, TextForEachPairingState) {
  PairingStatusReport r{{"0.1.0", 1, true}, "/home/u/.config/beaconbar/token", true};
  EXPECT_EQ(formatPairingStatus(r),
            "Admin daemon  running, version 0.1.0, protocol 1\n"
            "Paired        yes (token in /home/u/.config/beaconbar/token)\n");
  r.status.paired = false;
  EXPECT_EQ(formatPairingStatus(r),
            "Admin daemon  running, version 0.1.0, protocol 1\n"
            "Paired        no (the token in /home/u/.config/beaconbar/token is no longer accepted; run: beaconbar "
            "pair)\n");
  r.tokenStored = false;
  r.status.version = "";
  EXPECT_EQ(formatPairingStatus(r),
            "Admin daemon  running, version unknown, protocol 1\n"
            "Paired        no (run: beaconbar pair)\n");
}

TEST(PairingStatusTest, JsonSchema) {
  PairingStatusReport r{{"0.1.0", 1, true}, "/t", true};
  auto json = pairingStatusJson(r);
  EXPECT_EQ(keysOf(json), (Strings{"version", "protocol", "paired", "tokenFile"}));
  EXPECT_EQ(json["paired"], true);
  EXPECT_EQ(json["tokenFile"], "/t");
  r.tokenStored = false;
  r.status.paired.reset();
  json = pairingStatusJson(r);
  EXPECT_EQ(json["paired"], false);
  EXPECT_TRUE(json["tokenFile"].is_null());
}

}  // namespace
}  // namespace bcn::cli
