// SessionQueue: the serial queue of one connection's session, and the
// WorkScheduler that shares the daemon's worker threads among them fairly.
//
// The IPC layer runs a connection's calls in order on a small I/O pool
// that must not be held up; several of the daemon's operations block for a
// long time (polkit's check, the machine-wide preferences lock, a /proc
// walk). Each session therefore hands its calls to its own SessionQueue:
// work posted to one queue runs one item at a time in posting order, work
// of different queues runs concurrently on the workers.
//
// Fairness: queues belong to accounts (the peer's user, or the owner of
// its user namespace). When a worker comes free, the scheduler takes the
// next account in turn (round robin over accounts with work waiting), and
// within the account the next of its queues in turn; no account runs more
// than `perAccount` items at once. So one user's backlog, however long and
// however many connections it spreads over, delays another user's next call
// by at most the items already running, never by its own queue.
//
// Thread-safe. The scheduler must outlive every queue made from it and
// every item it runs; destroying it drops what has not started.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace bcn {

class WorkScheduler {
 public:
  WorkScheduler(std::size_t threads, std::size_t perAccount);
  ~WorkScheduler();
  WorkScheduler(const WorkScheduler&) = delete;
  WorkScheduler& operator=(const WorkScheduler&) = delete;

  struct Lane;

 private:
  friend class SessionQueue;
  void post(const std::shared_ptr<Lane>& lane, std::function<void()> work);
  // Drops what `lane` has not started; returns how many items that was.
  std::size_t cancel(const std::shared_ptr<Lane>& lane);
  bool idle(const std::shared_ptr<Lane>& lane);
  void workerLoop();
  // The next item to run, or nothing when none may start. REQUIRES: mutex_.
  std::shared_ptr<Lane> takeNext();

  struct Account {
    std::deque<std::shared_ptr<Lane>> ready;  // lanes with work, not running
    std::size_t running = 0;
    bool inTurn = false;  // listed in turns_
  };

  const std::size_t perAccount_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;                                // guarded by mutex_
  std::unordered_map<std::uint32_t, Account> accounts_;  // guarded by mutex_
  std::deque<std::uint32_t> turns_;                      // guarded by mutex_
  std::vector<std::thread> threads_;
};

class SessionQueue {
 public:
  SessionQueue(WorkScheduler& scheduler, std::uint32_t account);

  void post(std::function<void()> work);
  // Drops every item not yet started (and what it holds); items posted
  // afterwards run as usual. Returns how many were dropped.
  std::size_t cancel();
  // Whether no item is waiting or running. Only post() makes it false, so
  // the one thread that posts may, seeing true, do a short piece of work
  // in the queue's place without breaking its order.
  bool idle() const;

 private:
  WorkScheduler& scheduler_;
  std::shared_ptr<WorkScheduler::Lane> lane_;
};

}  // namespace bcn
