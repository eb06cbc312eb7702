#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/codesign/code_identity_registry.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

class CodesignRegister : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: the registry must be root-owned";
    bcn::testing::writeText(program, "#!/bin/sh\n");
    ::chmod(program.c_str(), 0755);
  }

  ProcessResult run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {BCN_CODESIGN_REGISTER, "--registry", registry.string()});
    auto result = runProcess(arguments);
    EXPECT_TRUE(result);
    return result.value_or(ProcessResult{});
  }

  bcn::testing::TempDir dir;
  std::filesystem::path program = dir / "beaconbar";
  std::filesystem::path registry = dir / "etc" / CodeIdentityRegistry::kFileName;
};

TEST_F(CodesignRegister, RecordsAndReRecordsAnExecutable) {
  auto first = run({"--identifier", "com.quillbank.Beaconbar", "--team-id", "T1", "--certificate", "app-store",
                    program.string()});
  EXPECT_EQ(first.exitCode, 0) << first.standardError;
  auto loaded = loadRegistry(registry);
  ASSERT_TRUE(loaded) << loaded.error().description;
  ASSERT_EQ(loaded->executables.size(), 1u);
  EXPECT_EQ(loaded->executables[0].path, std::filesystem::canonical(program).string());
  EXPECT_EQ(loaded->executables[0].identity,
            (CodeIdentity{"com.quillbank.Beaconbar", "T1", CertificateKind::appStore}));
  const crypto::Sha256Digest firstDigest = loaded->executables[0].sha256;

  // An upgrade: new content under the same path replaces the old entry.
  bcn::testing::writeText(program, "#!/bin/sh\necho 2\n");
  EXPECT_EQ(run({"--identifier", "com.quillbank.Beaconbar", "--team-id", "T1", program.string()}).exitCode, 0);
  loaded = loadRegistry(registry);
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->executables.size(), 1u);
  EXPECT_EQ(loaded->executables[0].identity.kind, CertificateKind::developerID);
  EXPECT_NE(loaded->executables[0].sha256, firstDigest);
}

TEST_F(CodesignRegister, RefusesBadInputAndKeepsAnUnreadableRegistry) {
  EXPECT_NE(run({"--identifier", "x", "--team-id", "T1", "--certificate", "self-signed", program.string()}).exitCode, 0);
  EXPECT_NE(run({"--identifier", "x", "--team-id", "T1", (dir / "missing").string()}).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(registry));

  std::filesystem::create_directories(registry.parent_path());
  bcn::testing::writeText(registry, "not a registry");
  auto refused = run({"--identifier", "x", "--team-id", "T1", program.string()});
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.standardError.find("cannot use"), std::string::npos) << refused.standardError;
  EXPECT_EQ(bcn::testing::readText(registry), "not a registry");
}

}  // namespace
}  // namespace bcn
