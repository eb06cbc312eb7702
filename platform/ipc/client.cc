#include "platform/ipc/client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <condition_variable>

#include "platform/ipc/client_state.h"

namespace bcn::ipc {

std::expected<std::unique_ptr<Client>, PlatformError> Client::connect(const std::filesystem::path& socketPath,
                                                                      Options options) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.native().size() >= sizeof address.sun_path) {
    return std::unexpected(PlatformError::fromErrno(ENAMETOOLONG, "connect " + socketPath.string()));
  }
  socketPath.native().copy(address.sun_path, sizeof address.sun_path - 1);
  auto state = std::make_shared<State>();
  state->options = std::move(options);
  state->fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!state->fd.valid() ||
      ::connect(state->fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return std::unexpected(PlatformError::fromErrno(errno, "connect " + socketPath.string()));
  }
  auto server = readPeerCredentials(state->fd.get());
  if (!server) return std::unexpected(PlatformError::fromErrno(errno, "read credentials of " + socketPath.string()));
  // With nobody listening for the end and nothing called, nobody reads: a
  // refusal sent on accepting is read by the first call, or by isOpen().
  if (state->owedToIoThread()) {
    state->watch();
  } else {
    state->reader = Reader::nobody;
  }
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
  auto [sequence, frame] = state_->frameCall(selector, std::move(arguments));
  std::optional<PlatformError> refused;
  {
    std::lock_guard guard(state_->mutex);
    if (!state_->open) {
      refused = connectionInvalid();
    } else if (!frame) {
      refused = frame.error();
    } else {
      state_->pending.emplace(sequence, std::move(done));
      if (state_->reader == Reader::nobody) state_->handToIoThread();
    }
  }
  if (!refused) {
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
  const auto deadline = Clock::now() + timeout;
  struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> result;
  };
  auto waiter = std::make_shared<Waiter>();
  auto [sequence, frame] = state_->frameCall(selector, std::move(arguments));
  bool reads = false;
  {
    std::lock_guard guard(state_->mutex);
    if (!state_->open) return std::unexpected(connectionInvalid());
    if (!frame) return std::unexpected(frame.error());
    state_->pending.emplace(sequence, [waiter](Result result) {
      {
        std::lock_guard guard(waiter->mutex);
        waiter->result = std::move(result);
      }
      // Told after the lock is let go, so the caller does not wake into it.
      waiter->done.notify_all();
    });
    if (state_->reader == Reader::nobody) {
      state_->reader = Reader::caller;
      reads = true;
    }
  }
  state_->send(std::move(*frame));
  if (reads) {
    if (auto answer = state_->readOwnReply(sequence, deadline)) return std::move(*answer);
  }
  std::unique_lock lock(waiter->mutex);
  if (waiter->done.wait_until(lock, deadline, [&] { return waiter->result.has_value(); })) {
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
    std::lock_guard guard(state_->mutex);
    state_->closing = true;
  }
  asio::post(state_->io, [state = state_] { state->end(connectionInvalid()); });
}

bool Client::isOpen() const {
  std::lock_guard guard(state_->mutex);
  if (!state_->open) return false;
  if (state_->reader != Reader::nobody) return true;
  // Nobody watches the socket between calls: look whether the server has
  // hung up or refused, and let the I/O thread read it to its end if so.
  pollfd descriptor{.fd = state_->fd.get(), .events = POLLRDHUP, .revents = 0};
  if (::poll(&descriptor, 1, 0) == 1 && (descriptor.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
    state_->open = false;  // later calls fail at once, as after end()
    state_->handToIoThread();
    return false;
  }
  return true;
}

}  // namespace bcn::ipc
