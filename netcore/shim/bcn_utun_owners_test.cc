#include "netcore/shim/bcn_utun_owners.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "netcore/shim/testing/fake_proc_tree.h"

namespace bcn {
namespace {

using ::bcn::testing::FakeProcTree;
using ::bcn::testing::tunFdinfo;

using Finding = std::tuple<int, unsigned, std::string>;

std::vector<Finding> scan(const FakeProcTree& tree, int capacity = 64) {
  std::vector<bcn_utun_owner_t> records(static_cast<std::size_t>(std::max(capacity, 1)));
  const int count = bcn_utun_owners_at(tree.root().c_str(), records.data(), capacity);
  EXPECT_GE(count, 0);
  EXPECT_LE(count, std::max(capacity, 0));
  std::vector<Finding> findings;
  for (int i = 0; i < count; ++i) {
    const auto& r = records[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.name[sizeof r.name - 1], '\0');
    findings.emplace_back(r.pid, r.unit, std::string(r.name));
  }
  std::sort(findings.begin(), findings.end());
  return findings;
}

TEST(UtunOwners, ReportsEveryAttachedQueueWithItsNameAndUnit) {
  FakeProcTree tree;
  tree.addProcess(100, "/usr/bin/a");
  tree.addDescriptor(100, 0, "/dev/null", "pos:\t0\n");
  tree.addTunnel(100, 3, "utun7");
  tree.addTunnel(100, 4, "tun42");
  tree.addProcess(200, "/usr/bin/b");
  tree.addTunnel(200, 9, "utun7");  // the same queue, inherited across a fork
  tree.addTunnel(200, 10, "tailscale0");
  EXPECT_EQ(scan(tree), (std::vector<Finding>{{100, 0, "tun42"},
                                              {100, 8, "utun7"},
                                              {200, 0, "tailscale0"},
                                              {200, 8, "utun7"}}));
}

TEST(UtunOwners, IgnoresEverythingThatIsNotAnAttachedTunQueue) {
  FakeProcTree tree;
  tree.addProcess(100);
  tree.addDescriptor(100, 0, "socket:[1234]", "pos:\t0\n");
  tree.addDescriptor(100, 1, "/dev/net/tun2", tunFdinfo("utun1"));
  tree.addDescriptor(100, 2, "/dev/net/tun (deleted)", tunFdinfo("utun2"));
  tree.addDescriptor(100, 3, "/dev/net/tu", tunFdinfo("utun3"));
  tree.addDescriptor(100, 4, "/dev/net/tun", "pos:\t0\nflags:\t02\n");  // opened, never attached
  tree.addDescriptor(100, 5, "/dev/net/tun", "");                       // fdinfo gone
  tree.addDescriptor(100, 6, "/dev/net/tun", tunFdinfo("bad/name"));
  std::filesystem::create_symlink("/dev/net/tun", tree.root() / "100" / "fd" / "cwd");
  EXPECT_TRUE(scan(tree).empty());
}

TEST(UtunOwners, SkipsEntriesThatAreNotProcessesAndProcessesThatVanished) {
  FakeProcTree tree;
  std::filesystem::create_directories(tree.root() / "self" / "fd");
  tree.addProcess(0);
  tree.addProcess(1);
  std::filesystem::create_directories(tree.root() / "2147483648" / "fd");
  std::filesystem::create_directories(tree.root() / "12345");  // exited: fd/ is gone
  for (const char* name : {"self", "0", "2147483648"}) {
    const auto dir = tree.root() / name;
    std::filesystem::create_directories(dir / "fdinfo");
    std::filesystem::create_symlink("/dev/net/tun", dir / "fd" / "3");
    testing::writeText(dir / "fdinfo" / "3", tunFdinfo("utun0"));
  }
  tree.addTunnel(1, 3, "utun1");
  EXPECT_EQ(scan(tree), (std::vector<Finding>{{1, 2, "utun1"}}));
}

TEST(UtunOwners, FindsAQueueBehindThousandsOfOtherDescriptors) {
  FakeProcTree tree;
  tree.addProcess(7);
  for (int fd = 0; fd < 5000; ++fd) tree.addDescriptor(7, fd, "pipe:[42]", "");
  tree.addTunnel(7, 5000, "wg0");
  EXPECT_EQ(scan(tree), (std::vector<Finding>{{7, 0, "wg0"}}));
}

TEST(UtunOwners, AFifoInPlaceOfFdinfoDoesNotStallTheWalk) {
  FakeProcTree tree;
  tree.addProcess(5);
  tree.addDescriptor(5, 3, "/dev/net/tun", "");
  ASSERT_EQ(::mkfifo((tree.root() / "5" / "fdinfo" / "3").c_str(), 0600), 0);
  tree.addTunnel(5, 4, "utun2");
  EXPECT_EQ(scan(tree), (std::vector<Finding>{{5, 3, "utun2"}}));
}

TEST(UtunOwners, StopsAtCapacityAndNeverWritesBeyondIt) {
  FakeProcTree tree;
  for (int pid = 1; pid <= 3; ++pid) {
    tree.addProcess(pid);
    for (int fd = 0; fd < 4; ++fd) tree.addTunnel(pid, fd, "utun" + std::to_string(pid * 10 + fd));
  }
  EXPECT_EQ(scan(tree).size(), 12u);
  for (const int capacity : {1, 3, 4, 5, 11, 12}) {
    std::vector<bcn_utun_owner_t> records(13);
    records[static_cast<std::size_t>(capacity)].pid = -77;
    EXPECT_EQ(bcn_utun_owners_at(tree.root().c_str(), records.data(), capacity), capacity);
    EXPECT_EQ(records[static_cast<std::size_t>(capacity)].pid, -77) << capacity;
    std::set<std::string> names;
    for (int i = 0; i < capacity; ++i) names.insert(records[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(capacity)) << "each finding once";
  }
}

TEST(UtunOwners, ReturnsZeroWithoutCapacityOrProcessTable) {
  FakeProcTree tree;
  tree.addProcess(1);
  tree.addTunnel(1, 3, "utun0");
  bcn_utun_owner_t record{.pid = -5, .unit = 9, .name = "x"};
  EXPECT_EQ(bcn_utun_owners_at(tree.root().c_str(), &record, 0), 0);
  EXPECT_EQ(bcn_utun_owners_at(tree.root().c_str(), &record, -1), 0);
  EXPECT_EQ(bcn_utun_owners_at(tree.root().c_str(), nullptr, 4), 0);
  EXPECT_EQ(bcn_utun_owners_at(nullptr, &record, 1), 0);
  EXPECT_EQ(bcn_utun_owners_at((tree.root() / "missing").c_str(), &record, 1), 0);
  EXPECT_EQ(record.pid, -5);
  EXPECT_EQ(record.unit, 9u);
}

TEST(ProcessPath, ReadsTheExecutableLink) {
  char path[4096];
  ASSERT_TRUE(bcn_get_process_path(static_cast<int>(::getpid()), path, sizeof path));
  EXPECT_EQ(std::string(path), std::filesystem::read_symlink("/proc/self/exe").string());

  FakeProcTree tree;
  tree.addProcess(42, "/opt/VPN Client.app/Contents/MacOS/vpnd");
  ASSERT_TRUE(bcn_get_process_path_at(tree.root().c_str(), 42, path, sizeof path));
  EXPECT_STREQ(path, "/opt/VPN Client.app/Contents/MacOS/vpnd");
}

TEST(ProcessPath, LeavesTheBufferAloneOnFailure) {
  FakeProcTree tree;
  tree.addProcess(42, "/usr/sbin/tunneld");
  tree.addProcess(43);  // a kernel thread has no executable
  char path[32];
  std::memset(path, '#', sizeof path);
  const std::string untouched(path, sizeof path);
  const char* root = tree.root().c_str();
  EXPECT_FALSE(bcn_get_process_path_at(root, 43, path, sizeof path));
  EXPECT_FALSE(bcn_get_process_path_at(root, 44, path, sizeof path));
  EXPECT_FALSE(bcn_get_process_path_at(root, 0, path, sizeof path));
  EXPECT_FALSE(bcn_get_process_path_at(root, -42, path, sizeof path));
  EXPECT_FALSE(bcn_get_process_path_at(root, 42, path, 17));  // 17 bytes + terminator needed
  EXPECT_EQ(std::string(path, sizeof path), untouched);
  EXPECT_TRUE(bcn_get_process_path_at(root, 42, path, 18));
  EXPECT_STREQ(path, "/usr/sbin/tunneld");
}

}  // namespace
}  // namespace bcn
