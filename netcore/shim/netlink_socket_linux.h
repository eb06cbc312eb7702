// A NETLINK_ROUTE socket that runs dump requests and hands every datagram
// of the answer to a parser (see netlink_parse.h), with its receive buffer
// allocated once for the socket's lifetime.
//
// Thread safety: none. The kernel runs one dump per socket at a time and
// delivers its datagrams to whoever reads the socket next, so two dumps on
// one socket must never overlap; the owner serialises them.
//
// The socket belongs to the network namespace of the thread that opened it,
// for its whole life.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "netcore/shim/netlink_parse.h"

namespace bcn::shim {

class NetlinkSocket {
 public:
  NetlinkSocket();
  ~NetlinkSocket();
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;

  bool valid() const { return fd_ >= 0; }
  // The descriptor, for tests that address the socket from outside.
  int descriptor() const { return fd_; }

  // Sends one dump request of `type` for `family` under a fresh sequence
  // number and feeds each datagram of the answer to
  // parse(datagram, sequence) until it reports the end. False when the
  // request cannot be sent, the kernel reports an error, a datagram is
  // truncated or the answer never ends; a dump cut short is drained, so the
  // next request starts clean.
  template <typename Parse>
  bool dump(std::uint16_t type, std::uint8_t family, Parse&& parse) {
    const std::uint32_t sequence = ++sequence_;
    if (!request(type, family, sequence)) return false;
    for (int i = 0; i < kMaxDatagrams; ++i) {
      const std::span<const std::uint8_t> datagram = receive();
      if (datagram.data() == nullptr) break;
      switch (parse(datagram, sequence)) {
        case DumpStatus::kDone: return true;
        case DumpStatus::kError: drain(); return false;
        case DumpStatus::kMore: break;
      }
    }
    drain();
    return false;
  }

 private:
  // A dump that never ends (a kernel or peer gone wrong) must not hang a
  // reading; no real namespace needs this many datagrams.
  static constexpr int kMaxDatagrams = 1 << 16;

  bool request(std::uint16_t type, std::uint8_t family, std::uint32_t sequence);
  // The next datagram from the kernel; null data on failure or truncation.
  std::span<const std::uint8_t> receive();
  // Reads without waiting until nothing is left, which also runs the rest
  // of an abandoned dump to its end.
  void drain();

  int fd_;
  std::uint32_t sequence_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace bcn::shim
