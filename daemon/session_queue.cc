#include "daemon/session_queue.h"

#include <algorithm>

namespace bcn {

// guarded by the scheduler's mutex
struct WorkScheduler::Lane {
  std::uint32_t account = 0;
  std::deque<std::function<void()>> work;
  bool running = false;  // one item at a time, in order
  bool ready = false;    // listed in its account's ready lanes
};

WorkScheduler::WorkScheduler(std::size_t threads, std::size_t perAccount)
    : perAccount_(std::max<std::size_t>(perAccount, 1)) {
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) threads_.emplace_back([this] { workerLoop(); });
}

WorkScheduler::~WorkScheduler() {
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
  // Dropped outside the lock: the items' captures may post again. An item
  // may hold the session whose queue holds its lane, so the lanes' items
  // are let go, not just the lanes.
  std::unordered_map<std::uint32_t, Account> left;
  {
    std::lock_guard guard(mutex_);
    left.swap(accounts_);
  }
  for (auto& [account, waiting] : left) {
    for (const auto& lane : waiting.ready) {
      std::deque<std::function<void()>> dropped;
      {
        std::lock_guard guard(mutex_);
        dropped.swap(lane->work);
      }
    }
  }
}

void WorkScheduler::post(const std::shared_ptr<Lane>& lane, std::function<void()> work) {
  {
    std::lock_guard guard(mutex_);
    lane->work.push_back(std::move(work));
    if (lane->running || lane->ready) return;
    lane->ready = true;
    Account& account = accounts_[lane->account];
    account.ready.push_back(lane);
    if (account.inTurn || account.running >= perAccount_) return;
    account.inTurn = true;
    turns_.push_back(lane->account);
  }
  wake_.notify_one();
}

std::size_t WorkScheduler::cancel(const std::shared_ptr<Lane>& lane) {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard guard(mutex_);
    dropped.swap(lane->work);
    if (lane->ready) {
      lane->ready = false;
      auto found = accounts_.find(lane->account);
      if (found != accounts_.end()) std::erase(found->second.ready, lane);
    }
  }
  // The items' captures (arguments, replies) are released here, outside
  // the lock, since releasing a reply may call back into the IPC layer.
  return dropped.size();
}

bool WorkScheduler::idle(const std::shared_ptr<Lane>& lane) {
  std::lock_guard guard(mutex_);
  return lane->work.empty() && !lane->running;
}

std::shared_ptr<WorkScheduler::Lane> WorkScheduler::takeNext() {
  while (!turns_.empty()) {
    const std::uint32_t id = turns_.front();
    turns_.pop_front();
    auto found = accounts_.find(id);
    if (found == accounts_.end()) continue;
    Account& account = found->second;
    account.inTurn = false;
    if (account.ready.empty() || account.running >= perAccount_) {
      if (account.ready.empty() && account.running == 0) accounts_.erase(found);
      continue;
    }
    auto lane = std::move(account.ready.front());
    account.ready.pop_front();
    lane->ready = false;
    lane->running = true;
    ++account.running;
    // Back to the end of the line, behind every other account waiting.
    if (!account.ready.empty() && account.running < perAccount_) {
      account.inTurn = true;
      turns_.push_back(id);
    }
    return lane;
  }
  return nullptr;
}

void WorkScheduler::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Lane> lane;
    wake_.wait(lock, [&] { return stopping_ || (lane = takeNext()) != nullptr; });
    if (!lane) return;
    std::function<void()> item = std::move(lane->work.front());
    lane->work.pop_front();
    lock.unlock();
    item();
    item = nullptr;  // its captures go before the lock is taken again
    lock.lock();
    lane->running = false;
    Account& account = accounts_[lane->account];
    --account.running;
    if (!lane->work.empty()) {
      lane->ready = true;
      account.ready.push_back(lane);
    }
    if (!account.ready.empty() && !account.inTurn && account.running < perAccount_) {
      account.inTurn = true;
      turns_.push_back(lane->account);
      wake_.notify_one();
    } else if (account.ready.empty() && account.running == 0 && !account.inTurn) {
      accounts_.erase(lane->account);
    }
  }
}

SessionQueue::SessionQueue(WorkScheduler& scheduler, std::uint32_t account)
    : scheduler_(scheduler), lane_(std::make_shared<WorkScheduler::Lane>()) {
  lane_->account = account;
}

void SessionQueue::post(std::function<void()> work) { scheduler_.post(lane_, std::move(work)); }

std::size_t SessionQueue::cancel() { return scheduler_.cancel(lane_); }

bool SessionQueue::idle() const { return scheduler_.idle(lane_); }

}  // namespace bcn
