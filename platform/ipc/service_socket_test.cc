#include "platform/ipc/service_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/ipc/testing/raw_peer.h"
#include "platform/testing/test_support.h"

namespace bcn::ipc {
namespace {

using bcn::testing::TempDir;
using testing::RawPeer;

mode_t modeOf(const std::filesystem::path& p) {
  struct stat s {};
  ::lstat(p.c_str(), &s);
  return s.st_mode & 07777;
}

TEST(ServiceSocket, BindsWithTheModesEveryUserNeeds) {
  TempDir dir;
  const auto path = dir / "run" / "beaconbar" / "svc";
  auto fd = bindServiceSocket(path);
  ASSERT_TRUE(fd) << fd.error().description;
  EXPECT_EQ(modeOf(path.parent_path()), 0755u);
  EXPECT_EQ(modeOf(path), 0666u);
  RawPeer peer(path);
  EXPECT_TRUE(peer.connected());
  // Nothing but the socket is left in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);
  ::close(*fd);
}

TEST(ServiceSocket, ReplacesAStaleSocketButNotALiveOne) {
  TempDir dir;
  const auto path = dir / "svc";
  auto first = bindServiceSocket(path);
  ASSERT_TRUE(first);
  auto taken = bindServiceSocket(path);
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().code, EADDRINUSE);
  EXPECT_TRUE(RawPeer(path).connected()) << "the live service keeps its socket";

  ::close(*first);  // the socket file stays behind, with no one listening
  auto second = bindServiceSocket(path);
  ASSERT_TRUE(second) << second.error().description;
  EXPECT_TRUE(RawPeer(path).connected());
  ::close(*second);
}

TEST(ServiceSocket, LeavesOtherFilesAlone) {
  TempDir dir;
  const auto path = dir / "svc";
  bcn::testing::writeText(path, "keep me");
  auto fd = bindServiceSocket(path);
  ASSERT_FALSE(fd);
  EXPECT_EQ(fd.error().code, EEXIST);
  EXPECT_EQ(bcn::testing::readText(path), "keep me");

  auto tooLong = bindServiceSocket(dir / std::string(200, 'x'));
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error().code, ENAMETOOLONG);
}

TEST(ServiceSocket, FindsItsSocketAmongThoseSystemdPassed) {
  TempDir dir;
  auto a = bindServiceSocket(dir / "a");
  auto b = bindServiceSocket(dir / "b");
  ASSERT_TRUE(a && b);
  // In a child, as systemd would start us: the sockets at 3 and 4, named.
  int status = bcn::testing::runInChild([&] {
    if (::dup2(*a, 3) != 3 || ::dup2(*b, 4) != 4) return 10;
    ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
    ::setenv("LISTEN_FDS", "2", 1);
    ::setenv("LISTEN_FDNAMES", "svc.admin:svc.admin-control", 1);
    if (activatedSocket("svc.admin-control") != 4) return 11;
    if (activatedSocket("svc.admin") != 3) return 12;
    if (activatedSocket("svc.other")) return 13;
    auto opened = openServiceSocket("svc.admin");
    if (!opened || *opened != 3) return 14;
    return 0;
  });
  EXPECT_EQ(status, 0);
  ::close(*a);
  ::close(*b);
}

TEST(ServiceSocket, RuntimeDirectoryComesFromSystemd) {
  int status = bcn::testing::runInChild([] {
    ::unsetenv("RUNTIME_DIRECTORY");
    if (servicePath("x") != "/run/beaconbar/x") return 1;
    ::setenv("RUNTIME_DIRECTORY", "/tmp/rt1:/tmp/rt2", 1);
    if (servicePath("x") != "/tmp/rt1/x") return 2;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace bcn::ipc
