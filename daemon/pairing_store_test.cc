#include "daemon/pairing_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "daemon/testing/store_options.h"
#include "platform/files.h"
#include "platform/plist.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using testing::TempDir;

std::string bytesToString(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

PlistValue pairingElement(PlistValue digest, PlistValue uid, std::optional<PlistValue> created) {
  PlistDictionary d{{"digest", std::move(digest)}, {"uid", std::move(uid)}};
  if (created) d.set("created", *created);
  return d;
}

void writePlist(const std::filesystem::path& file, const PlistValue& value) {
  testing::writeText(file, bytesToString(*encodeBinaryPlist(value)));
}

TEST(PairingStoreLoad, MissingFileGivesAnEmptyStore) {
  TempDir dir;
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir / "absent")).pairings().empty());
}

// Every malformed file loads as an empty store, and its bytes are kept
// under another name so the next save cannot destroy them.
TEST(PairingStoreLoad, MalformedFilesGiveAnEmptyStoreAndAreKeptAside) {
  const PlistValue good = pairingElement(PlistData(32, 1), 501, PlistValue(Date{10}));
  const std::pair<std::string, std::string> cases[] = {
      {"not a plist", "this is not a property list"},
      {"empty", ""},
      {"truncated", bytesToString(*encodeBinaryPlist(PlistArray{good})).substr(0, 40)},
      {"root is a dictionary", bytesToString(*encodeBinaryPlist(PlistDictionary{{"a", 1}}))},
      {"element not a dictionary", bytesToString(*encodeBinaryPlist(PlistArray{good, 5}))},
      {"negative uid",
       bytesToString(*encodeBinaryPlist(PlistArray{good, pairingElement(PlistData(32, 2), -1, PlistValue(Date{1}))}))},
      {"uid beyond 32 bits", bytesToString(*encodeBinaryPlist(PlistArray{
                                 good, pairingElement(PlistData(32, 2), std::int64_t{1} << 32, PlistValue(Date{1}))}))},
      {"uid as text",
       bytesToString(*encodeBinaryPlist(PlistArray{pairingElement(PlistData(32, 2), "501", PlistValue(Date{1}))}))},
      {"digest as text",
       bytesToString(*encodeBinaryPlist(PlistArray{pairingElement("abc", 501, PlistValue(Date{1}))}))},
      {"created missing",
       bytesToString(*encodeBinaryPlist(PlistArray{good, pairingElement(PlistData(32, 2), 501, std::nullopt)}))},
      {"created as real",
       bytesToString(*encodeBinaryPlist(PlistArray{pairingElement(PlistData(32, 2), 501, PlistValue(1.5))}))},
      {"xml with wrong type",
       "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict>"
       "<key>digest</key><string>x</string><key>uid</key><integer>1</integer>"
       "<key>created</key><date>2020-01-01T00:00:00Z</date></dict></array></plist>"},
  };
  for (const auto& [name, content] : cases) {
    TempDir dir;
    testing::writeText(dir / "pairings.plist", content);
    const auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
    EXPECT_TRUE(store.pairings().empty()) << name;
    EXPECT_EQ(testing::readText(dir / "pairings.plist.unreadable"), content) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "pairings.plist")) << name;
    ASSERT_TRUE(store.loadProblem()) << name;
    EXPECT_NE(store.loadProblem()->find("moved to " + (dir / "pairings.plist.unreadable").string()), std::string::npos)
        << *store.loadProblem();
  }
}

TEST(PairingStoreLoad, AGoodOrMissingFileReportsNoProblem) {
  TempDir dir;
  auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_FALSE(store.loadProblem());
  ASSERT_TRUE(store.pair(501));
  EXPECT_FALSE(PairingStore::load(testing::storeOptionsFor(dir.path())).loadProblem());
}

// A second damaged file (after a later crash, say) must not replace the
// first one kept aside; a pairing made in between survives as well.
TEST(PairingStoreLoad, EachDamagedFileGetsItsOwnName) {
  TempDir dir;
  testing::writeText(dir / "pairings.plist", "first damage");
  auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  auto token = store.pair(501);
  ASSERT_TRUE(token);
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir.path())).isPaired(*token, 501));
  testing::writeText(dir / "pairings.plist", "second damage");
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir.path())).pairings().empty());
  EXPECT_EQ(testing::readText(dir / "pairings.plist.unreadable"), "first damage");
  EXPECT_EQ(testing::readText(dir / "pairings.plist.unreadable-2"), "second damage");
}

TEST(PairingStoreLoad, AnUnreadableFileIsKeptAsideWithTheReason) {
  TempDir dir;
  testing::writeText(dir / "pairings.plist", std::string(PairingStore::kMaxFileBytes + 1, 'x'));
  const auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_TRUE(store.pairings().empty());
  ASSERT_TRUE(store.loadProblem());
  EXPECT_NE(store.loadProblem()->find("File too large"), std::string::npos) << *store.loadProblem();
  EXPECT_EQ(std::filesystem::file_size(dir / "pairings.plist.unreadable"), PairingStore::kMaxFileBytes + 1);
}

// Anything but a regular file is not someone's data: it stays where it is.
TEST(PairingStoreLoad, ASymbolicLinkIsNeitherFollowedNorMoved) {
  TempDir dir;
  const PlistValue good = pairingElement(PlistData(32, 1), 501, PlistValue(Date{10}));
  writePlist(dir / "elsewhere.plist", PlistArray{good});
  std::filesystem::create_symlink(dir / "elsewhere.plist", dir / "pairings.plist");
  const auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_TRUE(store.pairings().empty());
  EXPECT_FALSE(store.loadProblem());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "pairings.plist"));
}

// Found by fuzzing: a creation date the file format cannot hold (here the
// year 1000) used to load, and then every save failed, so the daemon could
// pair no one until the file was removed by hand.
TEST(PairingStoreLoad, DateThatCannotBeWrittenBackMakesTheFileMalformed) {
  TempDir dir;
  const std::string content = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
  <dict><key>digest</key><data>AQID</data><key>uid</key><integer>501</integer>
        <key>created</key><date>2025-06-01T12:00:00Z</date></dict>
  <dict><key>digest</key><data>BAUG</data><key>uid</key><integer>502</integer>
        <key>created</key><date>1000-01-01T00:00:01Z</date></dict>
</array></plist>)";
  testing::writeText(dir / "pairings.plist", content);
  auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_TRUE(store.pairings().empty());
  EXPECT_EQ(testing::readText(dir / "pairings.plist.unreadable"), content);

  auto token = store.pair(501);
  ASSERT_TRUE(token) << token.error().description;
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir.path())).isPaired(*token, 501));
}

TEST(PairingStoreLoad, UidLimitsAreInclusive) {
  TempDir dir;
  writePlist(dir / "pairings.plist",
             PlistArray{pairingElement(PlistData(32, 1), 0, PlistValue(Date{1})),
                        pairingElement(PlistData(32, 2), std::uint32_t{0xFFFFFFFF}, PlistValue(Date{2}))});
  const auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  ASSERT_EQ(store.pairings().size(), 2u);
  EXPECT_EQ(store.pairings()[1].uid, 0xFFFFFFFFu);
}

TEST(PairingStoreLoad, XmlLoadsAndIsWrittenBackBinary) {
  TempDir dir;
  testing::writeText(dir / "pairings.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<array>
  <dict>
    <key>digest</key><data>AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=</data>
    <key>uid</key><integer>501</integer>
    <key>created</key><date>2025-06-01T12:00:00Z</date>
    <key>comment</key><string>other keys are ignored</string>
  </dict>
</array>
</plist>)");
  auto store = PairingStore::load(testing::storeOptionsFor(dir.path()));
  ASSERT_EQ(store.pairings().size(), 1u);
  EXPECT_EQ(store.pairings()[0].uid, 501u);
  EXPECT_EQ(store.pairings()[0].digest.size(), 32u);
  EXPECT_EQ(store.pairings()[0].digest[0], 1);

  const std::string token = store.pair(502).value();
  const std::string written = testing::readText(dir / "pairings.plist");
  EXPECT_EQ(written.substr(0, 8), "bplist00");
  const auto reloaded = PairingStore::load(testing::storeOptionsFor(dir.path()));
  ASSERT_EQ(reloaded.pairings().size(), 2u);
  EXPECT_EQ(reloaded.pairings()[0], store.pairings()[0]);
  EXPECT_TRUE(reloaded.isPaired(token, 502));
}

TEST(PairingStorePair, TokenIs44CharactersOf32RandomBytes) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  auto token = store.pair(501);
  ASSERT_TRUE(token) << token.error().description;
  EXPECT_EQ(token->size(), 44u);
  EXPECT_EQ(token->back(), '=');
  auto raw = crypto::base64Decode(*token);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size(), 32u);
}

TEST(PairingStorePair, TokenPairsOnlyItsUser) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const std::string first = *store.pair(501);
  const std::string second = *store.pair(501);
  const std::string other = *store.pair(502);
  EXPECT_NE(first, second);
  EXPECT_TRUE(store.isPaired(first, 501));
  EXPECT_TRUE(store.isPaired(second, 501));
  EXPECT_FALSE(store.isPaired(first, 502));
  EXPECT_TRUE(store.isPaired(other, 502));
  EXPECT_FALSE(store.isPaired("", 501));
  EXPECT_FALSE(PairingStore(testing::storeOptionsFor(dir.path())).isPaired(first, 501))
      << "an empty store pairs nobody";
}

TEST(PairingStorePair, FileHoldsDigestsNotTokensInTheDocumentedShape) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const Date before = Date::now();
  const std::string token = *store.pair(501);
  const std::string file = testing::readText(dir / "pairings.plist");
  EXPECT_EQ(file.find(token), std::string::npos);
  const auto raw = *crypto::base64Decode(token);
  EXPECT_EQ(file.find(bytesToString(raw)), std::string::npos);

  auto root = decodePlist(file);
  ASSERT_TRUE(root && root->array());
  ASSERT_EQ(root->array()->size(), 1u);
  const PlistDictionary& element = *(*root->array())[0].dictionary();
  std::vector<std::string> keys;
  for (const auto& [key, value] : element) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"digest", "uid", "created"}));
  const auto digest = PairingStore::digest(token);
  EXPECT_EQ(*element.find("digest")->data(), PlistData(digest.begin(), digest.end()));
  EXPECT_EQ(element.find("uid")->int64(), 501);
  EXPECT_GE(element.find("created")->date()->secondsSince2001, before.secondsSince2001 - 1);
  EXPECT_LE(element.find("created")->date()->secondsSince2001, Date::now().secondsSince2001 + 1);
}

TEST(PairingStorePair, CreatesTheDirectoryChainPrivately) {
  TempDir dir;
  const auto stateDir = dir / "var" / "lib" / "beaconbar-admin";
  PairingStore store(testing::storeOptionsFor(stateDir));
  ASSERT_TRUE(store.pair(501));
  struct stat st {};
  ASSERT_EQ(::stat(stateDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat((dir / "var").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat((stateDir / "pairings.plist").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST(PairingStorePair, RootOwnsTheFileWhateverTheUmask) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root to hand the file to uid 0 from another owner";
  TempDir dir;
  // A directory owned by someone else, with a permissive mode, stays as it is.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chown(dir.path().c_str(), 4321, 4321), 0);
  const mode_t oldMask = ::umask(0);
  PairingStore store({.directory = dir.path()});  // default owner: root
  auto token = store.pair(501);
  ::umask(oldMask);
  ASSERT_TRUE(token) << token.error().description;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "pairings.plist").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(st.st_uid, 4321u);
}

TEST(PairingStorePair, RandomFailureIsCocoa512AndChangesNothing) {
  TempDir dir;
  auto options = testing::storeOptionsFor(dir / "state");
  options.random = [](std::size_t) -> std::expected<std::vector<std::uint8_t>, PlatformError> {
    return std::unexpected(PlatformError{"OpenSSL", 1, "entropy exhausted"});
  };
  PairingStore store(options);
  auto token = store.pair(501);
  ASSERT_FALSE(token);
  EXPECT_EQ(token.error(), PlatformError::fileWriteUnknown());
  EXPECT_EQ(token.error().domain, "NSCocoaErrorDomain");
  EXPECT_EQ(token.error().code, 512);
  EXPECT_TRUE(store.pairings().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "state"));
}

TEST(PairingStoreSave, DirectoryThatIsAFileFailsAndKeepsThePairingInMemory) {
  TempDir dir;
  testing::writeText(dir / "state", "a file where the directory should be");
  PairingStore store(testing::storeOptionsFor(dir / "state"));
  auto token = store.pair(501);
  ASSERT_FALSE(token);
  EXPECT_EQ(token.error().domain, PlatformError::kPosixDomain);
  EXPECT_EQ(token.error().code, ENOTDIR);
  EXPECT_EQ(store.pairings().size(), 1u) << "kept in memory for the next successful save";
  EXPECT_EQ(testing::readText(dir / "state"), "a file where the directory should be");

  std::filesystem::remove(dir / "state");
  ASSERT_TRUE(store.pair(502));
  EXPECT_EQ(PairingStore::load(testing::storeOptionsFor(dir / "state")).pairings().size(), 2u);
}

TEST(PairingStoreSave, ReadOnlyDirectoryFailsAndKeepsThePreviousFile) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const std::string token = *store.pair(501);
  const std::string before = testing::readText(dir / "pairings.plist");
  const int outcome = testing::withReadOnlyDirectory(dir.path(), [&] {
    auto again = store.pair(502);
    if (again) return 1;
    if (testing::readText(dir / "pairings.plist") != before) return 2;
    return 0;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(testing::readText(dir / "pairings.plist"), before);
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir.path())).isPaired(token, 501));
}

// Any user may send any token at will: one that pairs nothing must cost no
// write, or a stream of them keeps the disk and the daemon's lock busy.
TEST(PairingStoreUnpair, UnknownTokenSucceedsAndWritesNothing) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const std::string token = *store.pair(501);
  std::filesystem::remove(dir / "pairings.plist");
  auto unknown = store.unpair("unknown", 501);
  ASSERT_TRUE(unknown);
  EXPECT_FALSE(*unknown);
  auto foreign = store.unpair(token, 502);
  ASSERT_TRUE(foreign) << "another user's token is not an error";
  EXPECT_FALSE(*foreign);
  EXPECT_FALSE(std::filesystem::exists(dir / "pairings.plist")) << "an unpair that removed nothing wrote the file";
  EXPECT_TRUE(store.isPaired(token, 501));
}

TEST(PairingStoreUnpair, AfterAFailedSaveEvenAnUnknownTokenWritesWhatWasMissed) {
  TempDir dir;
  testing::writeText(dir / "state", "not a directory");
  PairingStore store(testing::storeOptionsFor(dir / "state"));
  ASSERT_FALSE(store.pair(501));
  ASSERT_EQ(store.pairings().size(), 1u);
  std::filesystem::remove(dir / "state");
  auto unknown = store.unpair("unknown", 501);
  ASSERT_TRUE(unknown) << unknown.error().description;
  EXPECT_FALSE(*unknown);
  const auto reloaded = PairingStore::load(testing::storeOptionsFor(dir / "state"));
  ASSERT_EQ(reloaded.pairings().size(), 1u) << "the pairing the failed save missed was not written";
  EXPECT_EQ(reloaded.pairings()[0].digest, store.pairings()[0].digest);
}

TEST(PairingStoreUnpair, RemovingOneKeepsTheOthersInOrder) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const std::string a = *store.pair(501);
  const std::string b = *store.pair(501);
  const std::string c = *store.pair(502);
  ASSERT_TRUE(store.unpair(a, 501));
  ASSERT_EQ(store.pairings().size(), 2u);
  EXPECT_EQ(store.pairings()[0].uid, 501u);
  EXPECT_EQ(store.pairings()[1].uid, 502u);
  const auto reloaded = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_FALSE(reloaded.isPaired(a, 501));
  EXPECT_TRUE(reloaded.isPaired(b, 501));
  EXPECT_TRUE(reloaded.isPaired(c, 502));
}

TEST(PairingStoreUnpair, RemoveAllLeavesAnEmptyArrayOnDisk) {
  TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  ASSERT_TRUE(store.pair(501));
  ASSERT_TRUE(store.removeAll());
  auto root = decodePlist(testing::readText(dir / "pairings.plist"));
  ASSERT_TRUE(root);
  EXPECT_EQ(*root, PlistValue(PlistArray{}));
}

TEST(PairingStoreLocation, HonoursSystemdStateDirectory) {
  EXPECT_EQ(testing::runInChild([] {
              ::unsetenv("STATE_DIRECTORY");
              if (PairingStore::defaultDirectory() != "/var/lib/beaconbar-admin") return 1;
              ::setenv("STATE_DIRECTORY", "/run/state/beaconbar-admin", 1);
              if (PairingStore::defaultDirectory() != "/run/state/beaconbar-admin") return 2;
              ::setenv("STATE_DIRECTORY", "/first:/second", 1);
              if (PairingStore::defaultDirectory() != "/first") return 3;
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace bcn
