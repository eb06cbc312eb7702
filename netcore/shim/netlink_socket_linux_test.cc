// The kept rtnetlink socket against a local process that knows its port
// and forges a dump answer: the forgery must be refused, never parsed.
#include "netcore/shim/netlink_socket_linux.h"

#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bcn::shim::LinkRecord;
using bcn::shim::NetlinkSocket;

// An RTM_NEWLINK for a link named `name` and the end of dump `sequence`.
std::vector<std::uint8_t> forgedAnswer(std::uint32_t sequence, const char* name) {
  const std::size_t nameLength = std::strlen(name) + 1;
  const std::size_t attribute = RTA_LENGTH(nameLength);
  const std::size_t link = NLMSG_LENGTH(sizeof(ifinfomsg) + RTA_ALIGN(attribute));
  std::vector<std::uint8_t> bytes(NLMSG_ALIGN(link) + NLMSG_LENGTH(sizeof(int)), 0);
  auto* header = reinterpret_cast<nlmsghdr*>(bytes.data());
  header->nlmsg_len = static_cast<std::uint32_t>(link);
  header->nlmsg_type = RTM_NEWLINK;
  header->nlmsg_flags = NLM_F_MULTI;
  header->nlmsg_seq = sequence;
  auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(header));
  info->ifi_index = 4242;
  auto* rta = reinterpret_cast<rtattr*>(reinterpret_cast<std::uint8_t*>(info) + sizeof(ifinfomsg));
  rta->rta_type = IFLA_IFNAME;
  rta->rta_len = static_cast<unsigned short>(attribute);
  std::memcpy(RTA_DATA(rta), name, nameLength);
  auto* done = reinterpret_cast<nlmsghdr*>(bytes.data() + NLMSG_ALIGN(link));
  done->nlmsg_len = NLMSG_LENGTH(sizeof(int));
  done->nlmsg_type = NLMSG_DONE;
  done->nlmsg_flags = NLM_F_MULTI;
  done->nlmsg_seq = sequence;
  return bytes;
}

TEST(NetlinkSocket, DumpAnswersComeOnlyFromTheKernel) {
  NetlinkSocket socket;
  ASSERT_TRUE(socket.valid());
  std::vector<LinkRecord> links;
  auto parse = [&](std::span<const std::uint8_t> d, std::uint32_t sequence) {
    return bcn::shim::parseLinkDump(d, sequence, links);
  };
  ASSERT_TRUE(socket.dump(RTM_GETLINK, AF_UNSPEC, parse));  // sequence 1; the socket has its port now
  sockaddr_nl self{};
  socklen_t length = sizeof self;
  ASSERT_EQ(getsockname(socket.descriptor(), reinterpret_cast<sockaddr*>(&self), &length), 0);
  ASSERT_NE(self.nl_pid, 0u);

  const int forger = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  ASSERT_GE(forger, 0);
  // Every sequence number the next few dumps could use.
  bool refused = true;
  for (std::uint32_t sequence = 2; sequence <= 5; ++sequence) {
    const auto forged = forgedAnswer(sequence, "forged0");
    if (sendto(forger, forged.data(), forged.size(), 0, reinterpret_cast<sockaddr*>(&self), sizeof self) >= 0 ||
        errno != ECONNREFUSED) {
      refused = false;
    }
  }
  close(forger);
  EXPECT_TRUE(refused) << "a datagram from another socket was accepted";

  links.clear();
  ASSERT_TRUE(socket.dump(RTM_GETLINK, AF_UNSPEC, parse));
  bool sawLoopback = false;
  for (const LinkRecord& l : links) {
    EXPECT_NE(l.name, "forged0");
    sawLoopback = sawLoopback || l.name == "lo";
  }
  EXPECT_TRUE(sawLoopback);
}

}  // namespace
