#include "platform/codesign/code_identity_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/codesign/code_identity_registry.h"
#include "platform/testing/test_support.h"

extern char** environ;

namespace bcn {
namespace {

// A running copy of sleep(1) at a path of our choosing.
class Sleeper {
 public:
  explicit Sleeper(const std::filesystem::path& program) {
    char arg0[] = "sleeper";
    char arg1[] = "60";
    char* argv[] = {arg0, arg1, nullptr};
    if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    pidfd_ = openPidfd(pid_);
  }
  ~Sleeper() {
    stop();
    if (pidfd_ >= 0) ::close(pidfd_);
  }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    stopped_ = pid_;
    pid_ = -1;
  }
  pid_t pid() const { return pid_ > 0 ? pid_ : stopped_; }
  int pidfd() const { return pidfd_; }

 private:
  pid_t pid_ = -1;
  pid_t stopped_ = -1;
  int pidfd_ = -1;
};

class CodeIdentityReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: executables and registry must be root-owned";
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::copy_file("/bin/sleep", program);
    ::chmod(program.c_str(), 0755);
  }

  crypto::Sha256Digest digest() {
    int fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
    auto d = sha256OfDescriptor(fd);
    ::close(fd);
    return *d;
  }

  void record(const crypto::Sha256Digest& sha256) {
    CodeIdentityRegistry registry;
    registry.record({program.string(), sha256, identity});
    ASSERT_TRUE(saveRegistry(registryPath, registry));
  }

  bcn::testing::TempDir dir;
  std::filesystem::path program = dir / "bin" / "beaconbar";
  std::filesystem::path registryPath = dir / "etc" / CodeIdentityRegistry::kFileName;
  CodeIdentity identity{"com.quillbank.Beaconbar", "QB4TEAM123", CertificateKind::developerID};
  CodeIdentityReader reader{registryPath};
};

TEST_F(CodeIdentityReaderTest, RecordedProgramHasItsIdentity) {
  record(digest());
  Sleeper sleeper(program);
  EXPECT_EQ(reader.identityOf(sleeper.pid(), sleeper.pidfd()), identity);
  EXPECT_EQ(reader.identityOf(sleeper.pid(), -1, ProcessIdentity::of(sleeper.pid())), identity);
}

TEST_F(CodeIdentityReaderTest, UnrecordedOrChangedProgramIsUnsigned) {
  Sleeper unrecorded(program);
  EXPECT_FALSE(reader.identityOf(unrecorded.pid(), unrecorded.pidfd())) << "no registry at all";
  auto other = digest();
  other[0] ^= 1;
  record(other);
  EXPECT_FALSE(reader.identityOf(unrecorded.pid(), unrecorded.pidfd()));
}

TEST_F(CodeIdentityReaderTest, ProgramOthersCanWriteIsUnsigned) {
  record(digest());
  ASSERT_EQ(::chmod(program.c_str(), 0757), 0);
  Sleeper sleeper(program);
  EXPECT_FALSE(reader.identityOf(sleeper.pid(), sleeper.pidfd()));
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  EXPECT_EQ(reader.identityOf(sleeper.pid(), sleeper.pidfd()), identity);
}

TEST_F(CodeIdentityReaderTest, ProcessThatIsGoneHasNoIdentity) {
  record(digest());
  Sleeper sleeper(program);
  auto before = ProcessIdentity::of(sleeper.pid());
  ASSERT_TRUE(before);
  sleeper.stop();
  EXPECT_FALSE(reader.identityOf(sleeper.pid(), sleeper.pidfd()));
  EXPECT_FALSE(reader.identityOf(sleeper.pid(), -1, before));
  EXPECT_FALSE(reader.identityOf(0, -1));
}

TEST_F(CodeIdentityReaderTest, IdentityOfAnotherProcessIsNotBorrowed) {
  record(digest());
  Sleeper sleeper(program);
  // What the caller knew about the peer does not match the process now
  // under that pid: refused.
  auto self = ProcessIdentity::ofSelf();
  EXPECT_FALSE(reader.identityOf(sleeper.pid(), -1, self));
}

}  // namespace
}  // namespace bcn
