#include "platform/codesign/code_identity_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/plist.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using bcn::testing::TempDir;

crypto::Sha256Digest digestOf(std::uint8_t fill) {
  crypto::Sha256Digest d;
  d.fill(fill);
  return d;
}

CodeIdentityRegistry sample() {
  CodeIdentityRegistry registry;
  registry.record({"/usr/bin/beaconbar", digestOf(1), {"com.quillbank.Beaconbar", "T1", CertificateKind::appStore}});
  registry.record({"/usr/bin/beaconbar-admin", digestOf(2),
                   {"com.quillbank.Beaconbar.Admin", "T1", CertificateKind::developerID}});
  return registry;
}

TEST(CodeIdentityRegistry, RoundTripsAndLooksUpByPathAndContent) {
  auto bytes = encodeRegistry(sample());
  ASSERT_TRUE(bytes);
  auto back = decodeRegistry(*bytes);
  ASSERT_TRUE(back) << back.error().description;
  EXPECT_EQ(*back, sample());
  EXPECT_EQ(back->lookup("/usr/bin/beaconbar", digestOf(1))->identifier, "com.quillbank.Beaconbar");
  EXPECT_FALSE(back->lookup("/usr/bin/beaconbar", digestOf(2)));        // other content
  EXPECT_FALSE(back->lookup("/tmp/beaconbar", digestOf(1)));            // moved elsewhere
}

TEST(CodeIdentityRegistry, RecordingAPathAgainReplacesIt) {
  auto registry = sample();
  registry.record({"/usr/bin/beaconbar", digestOf(9), {"com.quillbank.Beaconbar", "T1", CertificateKind::appStore}});
  EXPECT_EQ(registry.executables.size(), 2u);
  EXPECT_FALSE(registry.lookup("/usr/bin/beaconbar", digestOf(1)));
  EXPECT_TRUE(registry.lookup("/usr/bin/beaconbar", digestOf(9)));
}

TEST(CodeIdentityRegistry, MalformedFilesAreRefusedWhole) {
  PlistDictionary good{{"path", "/x"}, {"sha256", PlistData(32, 1)}, {"identifier", "i"}, {"teamID", "t"},
                       {"certificate", "developer-id"}};
  auto variant = [&](std::string key, PlistValue value) {
    PlistDictionary d = good;
    d.set(std::move(key), std::move(value));
    return PlistValue(PlistDictionary{{"executables", PlistArray{good, d}}});
  };
  const std::vector<PlistValue> bad = {
      PlistArray{},
      PlistDictionary{{"executables", "no"}},
      variant("sha256", PlistData(31, 1)),
      variant("sha256", "digest"),
      variant("certificate", "self-signed"),
      variant("path", "relative/path"),
      variant("identifier", 5),
      PlistDictionary{{"executables", PlistArray{good, 3}}},
  };
  for (const auto& value : bad) EXPECT_FALSE(decodeRegistry(*encodeBinaryPlist(value)));
  EXPECT_TRUE(decodeRegistry(*encodeBinaryPlist(PlistDictionary{{"executables", PlistArray{good}}})));
  const std::string junk = "bplist00 truncated";
  EXPECT_FALSE(decodeRegistry(std::span(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size())));
}

TEST(CodeIdentityRegistry, PathComesFromSystemdConfigurationDirectory) {
  int status = bcn::testing::runInChild([] {
    ::unsetenv("CONFIGURATION_DIRECTORY");
    if (defaultRegistryPath() != "/etc/beaconbar/code-identities.plist") return 1;
    ::setenv("CONFIGURATION_DIRECTORY", "/tmp/c1:/tmp/c2", 1);
    if (defaultRegistryPath() != "/tmp/c1/code-identities.plist") return 2;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

class RegistryTrust : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: files must be owned by root";
    ASSERT_TRUE(saveRegistry(path, sample()));
  }
  TempDir dir;
  std::filesystem::path path = dir / "etc" / CodeIdentityRegistry::kFileName;
};

TEST_F(RegistryTrust, RootControlledFileIsLoaded) {
  auto loaded = loadRegistry(path);
  ASSERT_TRUE(loaded) << loaded.error().description;
  EXPECT_EQ(*loaded, sample());
  struct stat s {};
  ::stat(path.c_str(), &s);
  EXPECT_EQ(s.st_mode & 0777, 0644u);
}

TEST_F(RegistryTrust, FileOthersCouldChangeIsRefused) {
  ASSERT_EQ(::chmod(path.c_str(), 0646), 0);
  EXPECT_EQ(loadRegistry(path).error().code, EPERM);
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  ASSERT_EQ(::chown(path.c_str(), 0, 100), 0);  // a group other than root's may write
  EXPECT_EQ(loadRegistry(path).error().code, EPERM);
  ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);
  EXPECT_TRUE(loadRegistry(path));
  ASSERT_EQ(::chown(path.c_str(), 65534, 0), 0);
  EXPECT_EQ(loadRegistry(path).error().code, EPERM);
}

TEST_F(RegistryTrust, DirectoryOthersCouldChangeIsRefused) {
  ASSERT_EQ(::chmod(path.parent_path().c_str(), 0777), 0);
  EXPECT_EQ(loadRegistry(path).error().code, EPERM);
}

TEST_F(RegistryTrust, SymlinkIsNotFollowed) {
  const auto link = path.parent_path() / "link.plist";
  std::filesystem::create_symlink(path, link);
  EXPECT_FALSE(loadRegistry(link));
}

}  // namespace
}  // namespace bcn
