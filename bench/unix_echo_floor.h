// UnixEchoFloor: the least any request/reply service over a Unix stream
// socket can cost, measured beside our IPC layer. A server answers each
// request frame (4-byte big-endian length, then the payload) with a fixed
// reply frame; nothing is decoded, encoded or dispatched. The bytes are
// whatever the caller hands in, so the benchmark passes the real frames of
// the call it measures. A caller may instead hand in an `Answer` that makes
// each reply from its request, to price one piece of work on top of the
// bare exchange.
//
// Threads: the server runs `threads` threads over one epoll set, as our
// server runs its pool; each connection is armed one-shot, so one thread
// at a time serves it. A client connection is used by one thread, blocking.
//
// Lifetimes: stop() (or destruction) closes the listening socket and every
// served connection and joins the threads; client connections the caller
// still holds then see the end of the stream. An `Answer` runs on the
// server's threads, several at once, until stop() returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace bcn::bench {

class UnixEchoFloor {
 public:
  // Makes the whole reply frame (header included) for one request payload
  // (header stripped); false ends that connection.
  using Answer = std::function<bool(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& replyFrame)>;

  // Listens on `socketPath` (which must not exist) and answers every
  // request with `replyFrame`, or with what `answer` makes when it is set.
  // Null when the socket cannot be set up.
  static std::unique_ptr<UnixEchoFloor> start(const std::string& socketPath, std::size_t threads,
                                              std::vector<std::uint8_t> replyFrame, Answer answer = nullptr);
  ~UnixEchoFloor();
  UnixEchoFloor(const UnixEchoFloor&) = delete;
  UnixEchoFloor& operator=(const UnixEchoFloor&) = delete;

  void stop();

  // One blocking client connection; -1 on failure.
  int connect() const;
  // Writes `request` (a whole frame) on `fd` and reads one whole reply
  // frame. False when the connection failed or the reply was not a frame.
  static bool roundTrip(int fd, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& scratch);

 private:
  UnixEchoFloor(std::string path, std::vector<std::uint8_t> reply, Answer answer)
      : path_(std::move(path)), reply_(std::move(reply)), answer_(std::move(answer)) {}
  void serve();
  // Reads what `fd` has and answers every whole frame; false once the peer
  // is gone or broke the framing.
  bool answer(int fd);

  const std::string path_;
  const std::vector<std::uint8_t> reply_;
  const Answer answer_;
  int listenFd_ = -1;
  int epollFd_ = -1;
  int stopFd_ = -1;  // an eventfd that wakes every thread for stop()
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<int> served_;  // guarded by mutex_
  std::vector<std::thread> threads_;
};

}  // namespace bcn::bench
