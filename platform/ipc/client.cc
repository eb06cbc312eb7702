#include "platform/ipc/client.h"

#include <sys/socket.h>

#include <asio.hpp>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ipc/frame.h"

namespace bcn::ipc {

using Socket = asio::local::stream_protocol::socket;

struct Client::State : std::enable_shared_from_this<Client::State> {
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  Socket socket{io};
  Options options;
  std::thread thread;

  std::mutex mutex;
  bool open = true;                              // guarded by mutex
  std::uint64_t nextSequence = 1;                // guarded by mutex
  std::map<std::uint64_t, Completion> pending;  // guarded by mutex

  // The write side. A caller whose frame has nothing ahead of it writes it
  // from its own thread, sparing the wake-up of the I/O thread that a lone
  // call would otherwise wait for; the I/O thread writes only what a full
  // socket left over. The socket is closed under this lock, so a caller's
  // write never meets a reused descriptor.
  std::mutex writeMutex;
  std::deque<std::vector<std::uint8_t>> outbox;  // guarded by writeMutex
  bool writing = false;                          // guarded by writeMutex: the I/O thread owns the writes
  bool writeFailed = false;                      // guarded by writeMutex
  bool socketClosed = false;                     // guarded by writeMutex
  bool closing = false;                          // guarded by writeMutex: close() asked, end() may not have run

  // I/O thread only.
  FrameReader reader;
  std::vector<std::uint8_t> readBuffer = std::vector<std::uint8_t>(64 * 1024);
  std::vector<std::vector<std::uint8_t>> inFlight;
  bool ended = false;

  void readMore() {
    socket.async_read_some(asio::buffer(readBuffer), [self = shared_from_this()](const asio::error_code& error,
                                                                                std::size_t length) {
      if (error) {
        self->end(connectionInterrupted());
        return;
      }
      self->reader.append(std::span(self->readBuffer).first(length));
      for (;;) {
        auto frame = self->reader.next();
        if (!frame) {
          self->end(replyInvalid());
          return;
        }
        if (!*frame) break;
        auto reply = decodeReply(**frame);
        if (!reply) {
          self->end(replyInvalid());
          return;
        }
        // Calls are numbered from 1: sequence 0 is the server refusing the
        // connection, which it closes next. Every waiting call gets the reason.
        if (reply->sequence == 0 && reply->reply.error) {
          self->end(*reply->reply.error);
          return;
        }
        self->deliver(reply->sequence, std::move(reply->reply));
      }
      self->readMore();
    });
  }

  void deliver(std::uint64_t sequence, Result result) {
    Completion done;
    {
      std::lock_guard guard(mutex);
      auto it = pending.find(sequence);
      if (it == pending.end()) return;  // forgotten after a timeout
      done = std::move(it->second);
      pending.erase(it);
    }
    if (done) done(std::move(result));
  }

  // Any thread.
  void send(std::vector<std::uint8_t> frame) {
    {
      std::lock_guard guard(writeMutex);
      // A call made after close() is failed by end() and never leaves.
      if (socketClosed || writeFailed || closing) return;
      if (!writing && outbox.empty()) {
        const ssize_t n = ::send(socket.native_handle(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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

  // I/O thread, while `writing` is set: writes what is queued, in order,
  // until nothing is.
  void writeMore() {
    {
      std::lock_guard guard(writeMutex);
      if (outbox.empty() || socketClosed || writeFailed) {
        writing = false;
        return;
      }
      inFlight.assign(std::make_move_iterator(outbox.begin()), std::make_move_iterator(outbox.end()));
      outbox.clear();
    }
    std::vector<asio::const_buffer> buffers;
    for (const auto& frame : inFlight) buffers.push_back(asio::buffer(frame));
    asio::async_write(socket, buffers, [self = shared_from_this()](const asio::error_code& error, std::size_t) {
      self->inFlight.clear();
      if (error) {
        std::lock_guard guard(self->writeMutex);
        self->writing = false;
        self->failWrites();
        return;
      }
      self->writeMore();
    });
  }

  // The server closed its end. What it sent before closing (a refusal,
  // replies) is still to be read; the read side ends the connection once it
  // reaches the end of the stream. REQUIRES: writeMutex held.
  void failWrites() {
    if (!socketClosed) ::shutdown(socket.native_handle(), SHUT_WR);
    outbox.clear();
    writeFailed = true;
  }

  // Runs on the I/O thread: closes the socket and fails what still waits.
  void end(const PlatformError& why) {
    if (ended) return;
    ended = true;
    {
      std::lock_guard guard(writeMutex);
      socketClosed = true;
      outbox.clear();
      asio::error_code ignored;
      socket.shutdown(Socket::shutdown_both, ignored);
      socket.close(ignored);
    }
    std::map<std::uint64_t, Completion> waiting;
    {
      std::lock_guard guard(mutex);
      open = false;
      waiting.swap(pending);
    }
    for (auto& [sequence, done] : waiting) {
      if (done) done(std::unexpected(why));
    }
    if (options.ended) options.ended(why);
  }
};

std::expected<std::unique_ptr<Client>, PlatformError> Client::connect(const std::filesystem::path& socketPath,
                                                                      Options options) {
  auto state = std::make_shared<State>();
  state->options = std::move(options);
  asio::error_code error;
  state->socket.connect(asio::local::stream_protocol::endpoint(socketPath.native()), error);
  if (error) return std::unexpected(PlatformError::fromErrno(error.value(), "connect " + socketPath.string()));
  auto server = readPeerCredentials(state->socket.native_handle());
  if (!server) return std::unexpected(PlatformError::fromErrno(errno, "read credentials of " + socketPath.string()));
  state->readMore();
  state->thread = std::thread([state = state.get()] { state->io.run(); });
  return std::unique_ptr<Client>(new Client(std::move(state), *server));
}

Client::~Client() {
  close();
  state_->work.reset();
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    // Destroyed from a completion: the thread finishes on its own and the
    // state lives on in its handlers until then.
    state_->thread.detach();
    asio::post(state_->io, [keep = state_] {});
    return;
  }
  state_->thread.join();
}

std::uint64_t Client::call(std::string_view selector, PlistDictionary arguments, Completion done) {
  std::uint64_t sequence = 0;
  std::optional<PlatformError> refused;
  std::optional<std::vector<std::uint8_t>> frame;
  {
    std::lock_guard guard(state_->mutex);
    sequence = state_->nextSequence++;
    auto encoded = callFrame({sequence, std::string(selector), std::move(arguments)});
    if (!state_->open) {
      refused = connectionInvalid();
    } else if (!encoded) {
      refused = encoded.error();
    } else {
      state_->pending.emplace(sequence, std::move(done));
      frame = std::move(*encoded);
    }
  }
  if (frame) {
    state_->send(std::move(*frame));
  } else {
    asio::post(state_->io, [done = std::move(done), why = *refused] {
      if (done) done(std::unexpected(why));
    });
  }
  return sequence;
}

Client::Result Client::callSync(std::string_view selector, PlistDictionary arguments,
                                std::chrono::milliseconds timeout) {
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    return std::unexpected(PlatformError::fromErrno(EDEADLK, "wait for IPC reply inside a completion"));
  }
  struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> result;
  };
  auto waiter = std::make_shared<Waiter>();
  const std::uint64_t sequence = call(selector, std::move(arguments), [waiter](Result result) {
    {
      std::lock_guard guard(waiter->mutex);
      waiter->result = std::move(result);
    }
    // Told after the lock is let go, so the caller does not wake into it.
    waiter->done.notify_all();
  });
  std::unique_lock lock(waiter->mutex);
  if (waiter->done.wait_for(lock, timeout, [&] { return waiter->result.has_value(); })) {
    return std::move(*waiter->result);
  }
  lock.unlock();
  {
    std::lock_guard guard(state_->mutex);
    state_->pending.erase(sequence);
  }
  return std::unexpected(timedOut());
}

void Client::close() {
  {
    std::lock_guard guard(state_->writeMutex);
    state_->closing = true;
  }
  asio::post(state_->io, [state = state_] { state->end(connectionInvalid()); });
}

bool Client::isOpen() const {
  std::lock_guard guard(state_->mutex);
  return state_->open;
}

}  // namespace bcn::ipc
