#include "platform/ipc/client_state.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/ipc/ipc_errors.h"

namespace bcn::ipc {

bool Client::State::attach() {
  if (watcher) return true;
  const int copy = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  watcher.emplace(io, copy);
  return true;
}

void Client::State::detach() {
  asio::error_code ignored;
  if (watcher) watcher->close(ignored);
  watcher.reset();
}

void Client::State::watch() {
  if (!attach()) {
    end(connectionInterrupted());
    return;
  }
  watcher->async_wait(Watcher::wait_read, [self = shared_from_this()](const asio::error_code& error) {
    if (self->ended) return;
    if (error) {
      self->end(connectionInterrupted());
      return;
    }
    auto batch = self->receive();
    for (auto& reply : batch.replies) self->deliver(reply.sequence, std::move(reply.reply));
    if (batch.ending) {
      self->end(*batch.ending);
      return;
    }
    bool stays = true;
    bool idle = false;
    {
      std::lock_guard guard(self->mutex);
      if (!self->owedToIoThread()) {
        self->reader = Reader::nobody;
        stays = false;
        idle = !self->writing;
      }
    }
    if (stays) {
      self->watch();
    } else if (idle) {
      self->detach();
    }
  });
}

ReplyStream::Batch Client::State::receive() {
  const ssize_t n = ::recv(fd.get(), readBuffer.data(), readBuffer.size(), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return {};
  if (n <= 0) return {.replies = {}, .ending = connectionInterrupted()};
  return stream.take(std::span(readBuffer).first(static_cast<std::size_t>(n)));
}

void Client::State::handToIoThread() {
  reader = Reader::ioThread;
  asio::post(io, [self = shared_from_this()] {
    if (!self->ended) self->watch();
  });
}

Client::Completion Client::State::take(std::uint64_t sequence) {
  std::lock_guard guard(mutex);
  auto it = pending.find(sequence);
  if (it == pending.end()) return {};
  Completion done = std::move(it->second);
  pending.erase(it);
  return done;
}

void Client::State::deliver(std::uint64_t sequence, Result result) {
  if (Completion done = take(sequence)) done(std::move(result));
}

std::pair<std::uint64_t, std::expected<std::vector<std::uint8_t>, PlatformError>> Client::State::frameCall(
    std::string_view selector, PlistDictionary arguments) {
  std::uint64_t sequence = 0;
  {
    std::lock_guard guard(mutex);
    sequence = nextSequence++;
  }
  return {sequence, callFrame({sequence, std::string(selector), std::move(arguments)})};
}

void Client::State::send(std::vector<std::uint8_t> frame) {
  {
    std::lock_guard guard(mutex);
    // A call made after close() is failed by end() and never leaves.
    if (socketClosed || writeFailed || closing) return;
    if (!writing && outbox.empty()) {
      const ssize_t n = ::send(fd.get(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n == static_cast<ssize_t>(frame.size())) return;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        failWrites();
        return;
      }
      if (n > 0) frame.erase(frame.begin(), frame.begin() + n);
    }
    outbox.push_back(std::move(frame));
    if (writing) return;
    writing = true;
  }
  asio::post(io, [self = shared_from_this()] { self->writeMore(); });
}

void Client::State::writeMore() {
  bool idle = false;
  {
    std::lock_guard guard(mutex);
    if (outbox.empty() || socketClosed || writeFailed) {
      writing = false;
      idle = reader != Reader::ioThread;
    } else {
      inFlight.assign(std::make_move_iterator(outbox.begin()), std::make_move_iterator(outbox.end()));
      outbox.clear();
    }
  }
  if (idle && !ended) detach();
  if (inFlight.empty()) return;
  if (!attach()) {
    end(connectionInterrupted());
    return;
  }
  std::vector<asio::const_buffer> buffers;
  for (const auto& frame : inFlight) buffers.push_back(asio::buffer(frame));
  asio::async_write(*watcher, buffers, [self = shared_from_this()](const asio::error_code& error, std::size_t) {
    self->inFlight.clear();
    if (error) {
      std::lock_guard guard(self->mutex);
      self->writing = false;
      self->failWrites();
      return;
    }
    self->writeMore();
  });
}

void Client::State::failWrites() {
  if (!socketClosed) ::shutdown(fd.get(), SHUT_WR);
  outbox.clear();
  writeFailed = true;
}

std::optional<Client::Result> Client::State::readOwnReply(std::uint64_t sequence, Clock::time_point deadline) {
  std::optional<ReplyValues> mine;
  bool expired = false;
  for (bool more = true; more && !mine;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      expired = true;
      break;
    }
    const timespec limit{.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000),
                         .tv_nsec = static_cast<long>(left.count() % 1'000'000'000)};
    pollfd descriptor{.fd = fd.get(), .events = POLLIN, .revents = 0};
    const int ready = ::ppoll(&descriptor, 1, &limit, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;  // the I/O thread takes over the wait
    if (ready == 0) continue;
    auto batch = receive();
    for (auto& reply : batch.replies) {
      if (reply.sequence == sequence && !mine) {
        mine = std::move(reply.reply);
        continue;
      }
      // Taken off the table here, so that it is settled before this caller
      // decides whether the I/O thread is still owed anything.
      if (Completion done = take(reply.sequence)) {
        asio::post(io,
                   [done = std::move(done), result = std::move(reply.reply)]() mutable { done(std::move(result)); });
      }
    }
    if (batch.ending) {
      asio::post(io, [self = shared_from_this(), why = std::move(*batch.ending)] { self->end(why); });
      more = false;
    }
  }
  bool stillOurs = false;
  {
    std::lock_guard guard(mutex);
    // Gone when end() failed the call meanwhile: its completion has the answer.
    if (mine || expired) stillOurs = pending.erase(sequence) == 1;
    reader = Reader::nobody;
    if (closeDeferred) {
      asio::post(io, [self = shared_from_this()] {
        std::lock_guard guard(self->mutex);
        self->fd.reset();
      });
    } else if (owedToIoThread()) {
      handToIoThread();
    }
  }
  if (!stillOurs) return std::nullopt;
  if (mine) return Result(std::move(*mine));
  return std::unexpected(timedOut());
}

void Client::State::end(const PlatformError& why) {
  if (ended) return;
  ended = true;
  std::map<std::uint64_t, Completion> waiting;
  {
    std::lock_guard guard(mutex);
    socketClosed = true;
    open = false;
    outbox.clear();
    waiting.swap(pending);
    if (reader == Reader::caller) {
      // Wakes the caller's poll; it closes nothing itself, but hands the
      // descriptor back to be closed here once it has let go.
      ::shutdown(fd.get(), SHUT_RDWR);
      closeDeferred = true;
    } else {
      fd.reset();
    }
  }
  detach();
  for (auto& [sequence, done] : waiting) {
    if (done) done(std::unexpected(why));
  }
  if (options.ended) options.ended(why);
}

}  // namespace bcn::ipc
