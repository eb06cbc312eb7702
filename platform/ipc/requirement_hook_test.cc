// The code requirement on a service, end to end: a real peer process whose
// executable is (or is not) recorded in a registry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/codesign/code_identity_registry.h"
#include "platform/ipc/testing/child_peer.h"
#include "platform/ipc/testing/test_service.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_methods.h"

namespace bcn::ipc {
namespace {

using testing::ChildPeer;
using testing::Record;
using testing::TestService;

constexpr const char* kTeam = "QBTEST1234";

class RequirementHook : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: the registry and peers must be root-owned";
  }

  void record(std::string identifier, CertificateKind kind) {
    std::filesystem::path peer = std::filesystem::canonical(BCN_IPC_TEST_PEER);
    int fd = ::open(peer.c_str(), O_RDONLY | O_CLOEXEC);
    auto digest = sha256OfDescriptor(fd);
    ::close(fd);
    ASSERT_TRUE(digest);
    CodeIdentityRegistry registry;
    registry.record({peer.string(), *digest, {std::move(identifier), kTeam, kind}});
    ASSERT_TRUE(saveRegistry(registryPath, registry));
  }

  // Runs the peer's status call against a service demanding `requirement`.
  std::string statusFromChild(const std::string& requirement, std::shared_ptr<Record>* recordOut = nullptr) {
    TestService service(adminAppProtocol(), ServiceRequirement{requirement, identities});
    ChildPeer child(BCN_IPC_TEST_PEER, {service.path.string(), "status"});
    std::string output = child.readUntil("\n");
    child.wait();
    service.record->waitFor([](Record& r) { return r.ended == 1; });
    if (recordOut) *recordOut = service.record;
    return output;
  }

  bcn::testing::TempDir dir;
  std::filesystem::path registryPath = dir / "etc" / CodeIdentityRegistry::kFileName;
  std::shared_ptr<const CodeIdentityReader> identities = std::make_shared<CodeIdentityReader>(registryPath);
};

TEST_F(RequirementHook, RecordedPeerIsServed) {
  record(std::string(AdminConstants::appBundleID), CertificateKind::developerID);
  EXPECT_NE(statusFromChild(AdminConstants::appRequirement(kTeam)).find("paired=0"), std::string::npos);
  // The store-signed branch of the app requirement too.
  record(std::string(AdminConstants::appBundleID), CertificateKind::appStore);
  EXPECT_NE(statusFromChild(AdminConstants::appRequirement(kTeam)).find("paired=0"), std::string::npos);
}

TEST_F(RequirementHook, PeerWithTheWrongIdentityIsDisconnectedBeforeAnyCall) {
  record(std::string(AdminConstants::appBundleID), CertificateKind::appStore);
  std::shared_ptr<Record> seen;
  // The console's requirement admits Developer ID programs only.
  auto output = statusFromChild(AdminConstants::adminAppRequirement(kTeam), &seen);
  EXPECT_NE(output.find("error"), std::string::npos) << output;
  std::lock_guard guard(seen->mutex);
  EXPECT_TRUE(seen->calls.empty());
  EXPECT_EQ(seen->ended, 1);
}

TEST_F(RequirementHook, UnrecordedPeerIsDisconnected) {
  record("com.example.other", CertificateKind::developerID);
  std::shared_ptr<Record> seen;
  EXPECT_NE(statusFromChild(AdminConstants::appRequirement(kTeam), &seen).find("error"), std::string::npos);
  std::lock_guard guard(seen->mutex);
  EXPECT_TRUE(seen->calls.empty());
}

TEST_F(RequirementHook, RegistryOthersCanWriteIsNotTrusted) {
  record(std::string(AdminConstants::appBundleID), CertificateKind::developerID);
  ASSERT_EQ(::chmod(registryPath.c_str(), 0666), 0);
  EXPECT_NE(statusFromChild(AdminConstants::appRequirement(kTeam)).find("error"), std::string::npos);
}

TEST_F(RequirementHook, UnparsableRequirementIsRefusedAtStart) {
  Server server(1);
  auto fd = bindServiceSocket(dir / "svc");
  ASSERT_TRUE(fd);
  Service service;
  service.protocol = &adminAppProtocol();
  service.requirement = ServiceRequirement{"(identifier \"x\"", identities};
  service.makeSession = [](const Peer&) { return std::shared_ptr<Session>(); };
  EXPECT_FALSE(server.serve(*fd, std::move(service)));
}

}  // namespace
}  // namespace bcn::ipc
