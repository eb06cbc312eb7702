// SessionQueue: the serial queue of one connection's session on the
// daemon's shared pool of worker threads.
//
// The IPC layer runs a connection's calls in order on a small I/O pool
// that must not be held up; several of the daemon's operations block for a
// long time (polkit's check, the machine-wide preferences lock, a /proc
// walk). Each session therefore hands its calls to its own SessionQueue:
// work posted to one queue runs one item at a time in posting order, work
// of different queues runs concurrently on the pool.
//
// Thread-safe. The pool must outlive every queue made from it.
#pragma once

#include <asio/strand.hpp>
#include <asio/thread_pool.hpp>
#include <functional>

namespace bcn {

class SessionQueue {
 public:
  explicit SessionQueue(asio::thread_pool& pool) : strand_(asio::make_strand(pool)) {}

  void post(std::function<void()> work);

 private:
  asio::strand<asio::thread_pool::executor_type> strand_;
};

}  // namespace bcn
