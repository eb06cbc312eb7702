#include "bench/unix_echo_floor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bcn::bench {
namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kMaxFrameBytes = 1u << 20;

std::size_t frameLength(const std::uint8_t* header) {
  return (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) | (std::size_t{header[2]} << 8) |
         std::size_t{header[3]};
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Appends at least `want` more bytes to `buffer` (more if they are there).
bool readAtLeast(int fd, std::vector<std::uint8_t>& buffer, std::size_t want) {
  const std::size_t target = buffer.size() + want;
  std::uint8_t chunk[16 * 1024];
  while (buffer.size() < target) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer.insert(buffer.end(), chunk, chunk + n);
  }
  return true;
}

// Reads one whole frame into `buffer` (header included).
bool readFrame(int fd, std::vector<std::uint8_t>& buffer) {
  buffer.clear();
  if (!readAtLeast(fd, buffer, kHeaderBytes)) return false;
  const std::size_t length = frameLength(buffer.data());
  if (length == 0 || length > kMaxFrameBytes) return false;
  if (buffer.size() < kHeaderBytes + length && !readAtLeast(fd, buffer, kHeaderBytes + length - buffer.size())) {
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<UnixEchoFloor> UnixEchoFloor::start(const std::string& socketPath, std::size_t threads,
                                                    std::vector<std::uint8_t> replyFrame, Answer answer) {
  std::unique_ptr<UnixEchoFloor> floor(new UnixEchoFloor(socketPath, std::move(replyFrame), std::move(answer)));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return nullptr;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  // Non-blocking: a wake-up on it may find the connection taken by another
  // thread, and a thread blocked in accept would never see stop().
  floor->listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  floor->epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  floor->stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (floor->listenFd_ < 0 || floor->epollFd_ < 0 || floor->stopFd_ < 0 ||
      ::bind(floor->listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(floor->listenFd_, 128) != 0) {
    return nullptr;
  }
  epoll_event listening{};
  listening.events = EPOLLIN | EPOLLEXCLUSIVE;
  listening.data.fd = floor->listenFd_;
  epoll_event stopping{};
  stopping.events = EPOLLIN;
  stopping.data.fd = floor->stopFd_;
  if (::epoll_ctl(floor->epollFd_, EPOLL_CTL_ADD, floor->listenFd_, &listening) != 0 ||
      ::epoll_ctl(floor->epollFd_, EPOLL_CTL_ADD, floor->stopFd_, &stopping) != 0) {
    return nullptr;
  }
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
    floor->threads_.emplace_back([f = floor.get()] { f->serve(); });
  }
  return floor;
}

UnixEchoFloor::~UnixEchoFloor() {
  stop();
  for (int fd : {listenFd_, epollFd_, stopFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

void UnixEchoFloor::stop() {
  if (stopping_.exchange(true)) return;
  if (stopFd_ >= 0) (void)::eventfd_write(stopFd_, 1);
  for (auto& thread : threads_) thread.join();
  std::lock_guard guard(mutex_);
  for (int fd : served_) ::close(fd);
  served_.clear();
  ::unlink(path_.c_str());
}

void UnixEchoFloor::serve() {
  while (!stopping_.load(std::memory_order_relaxed)) {
    epoll_event event{};
    const int n = ::epoll_wait(epollFd_, &event, 1, -1);
    if (n <= 0) continue;
    const int fd = event.data.fd;
    if (fd == stopFd_) return;  // level-triggered: every thread sees it
    if (fd == listenFd_) {
      const int accepted = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      epoll_event armed{};
      armed.events = EPOLLIN | EPOLLONESHOT;
      armed.data.fd = accepted;
      std::lock_guard guard(mutex_);
      served_.push_back(accepted);
      (void)::epoll_ctl(epollFd_, EPOLL_CTL_ADD, accepted, &armed);
      continue;
    }
    if (!answer(fd)) {
      // Left for stop() to close; only removed from the set here.
      (void)::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
      continue;
    }
    epoll_event armed{};
    armed.events = EPOLLIN | EPOLLONESHOT;
    armed.data.fd = fd;
    (void)::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &armed);
  }
}

bool UnixEchoFloor::answer(int fd) {
  thread_local std::vector<std::uint8_t> buffer;
  if (!readFrame(fd, buffer)) return false;
  // A strict request/reply client never has a second frame in flight.
  if (!answer_) return writeAll(fd, reply_.data(), reply_.size());
  thread_local std::vector<std::uint8_t> reply;
  reply.clear();
  const auto request = std::span(buffer).subspan(kHeaderBytes, frameLength(buffer.data()));
  return answer_(request, reply) && writeAll(fd, reply.data(), reply.size());
}

int UnixEchoFloor::connect() const {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool UnixEchoFloor::roundTrip(int fd, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& scratch) {
  return writeAll(fd, request.data(), request.size()) && readFrame(fd, scratch);
}

}  // namespace bcn::bench
