#include "platform/ipc/server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ipc/account.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/ipc_errors.h"

namespace bcn::ipc {
namespace {

using Acceptor = asio::local::stream_protocol::acceptor;

// The server's threads, each running a context of its own. A connection
// lives on one context, so reading a call, running it and writing the reply
// all happen on the thread that woke for it. (With one context shared by
// every thread, each wake-up also woke an idle sibling to take over the
// polling: a second thread switch per call on a machine with few cores.)
// The price is that connections do not move between threads; handlers are
// short, so none waits long behind another.
struct ContextPool {
  std::vector<std::shared_ptr<asio::io_context>> contexts;
  std::atomic<std::size_t> next{0};

  // The context for the next connection, in turn.
  const std::shared_ptr<asio::io_context>& pick() {
    return contexts[next.fetch_add(1, std::memory_order_relaxed) % contexts.size()];
  }
};

// One listening socket and its accept loop, on a strand of its own.
class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(std::shared_ptr<ContextPool> pool, std::shared_ptr<const ServiceState> service,
           std::shared_ptr<ConnectionSet> set)
      : pool_(pool), acceptor_(asio::make_strand(*pool->contexts.front())), retry_(acceptor_.get_executor()),
        service_(std::move(service)), set_(std::move(set)) {}

  std::expected<void, PlatformError> assign(int fd) {
    // Tags set here cover bytes a peer sends before it is accepted; a
    // connection with a requirement refuses to start without them.
    (void)tagSenders(fd);
    asio::error_code error;
    acceptor_.assign(asio::local::stream_protocol(), fd, error);
    if (error) {
      ::close(fd);
      return std::unexpected(PlatformError::fromErrno(error.value(), "serve listening socket"));
    }
    return {};
  }

  void start() {
    asio::post(acceptor_.get_executor(), [self = shared_from_this()] { self->acceptNext(); });
  }

  void close() {
    asio::post(acceptor_.get_executor(), [self = shared_from_this()] {
      asio::error_code ignored;
      self->retry_.cancel();
      self->acceptor_.close(ignored);
    });
  }

 private:
  void acceptNext() {
    if (!acceptor_.is_open()) return;
    peerContext_ = pool_->pick();
    acceptor_.async_accept(*peerContext_, [self = shared_from_this()](const asio::error_code& error,
                                                                     Connection::Socket socket) {
      self->accepted(error, std::move(socket));
    });
  }

  void accepted(const asio::error_code& error, Connection::Socket socket) {
    if (error == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (error) {
      // Out of descriptors or memory: wait a moment instead of spinning.
      retry_.expires_after(std::chrono::milliseconds(50));
      retry_.async_wait([self = shared_from_this()](const asio::error_code& e) {
        if (!e) self->acceptNext();
      });
      return;
    }
    const int fd = socket.native_handle();
    auto credentials = readPeerCredentials(fd);
    if (credentials) {
      const int pidfd = readPeerPidfd(fd);
      const std::uint32_t account =
          accountableUID(credentials->pid, pidfd, credentials->uid).value_or(credentials->uid);
      auto connection =
          std::make_shared<Connection>(peerContext_, std::move(socket), service_, set_, *credentials, pidfd, account);
      switch (set_->admit(connection, account)) {
        case ConnectionSet::Admission::admitted:
          connection->start();
          break;
        case ConnectionSet::Admission::overLimit:
          refuse(fd, connectionLimitReached());
          break;
        case ConnectionSet::Admission::busy:
          refuse(fd, serviceBusy());
          break;
        case ConnectionSet::Admission::stopping:
          break;
      }
      // A connection not admitted closes its socket as it goes away here.
    }
    acceptNext();
  }

  // Tells the peer why before closing: a client library can then report the
  // limit instead of a bare disconnection. The socket is fresh, so the small
  // frame fits its send buffer and the write cannot block.
  static void refuse(int fd, PlatformError why) {
    const std::vector<std::uint8_t> frame = replyFrame({0, {{}, std::move(why)}}).value_or(std::vector<std::uint8_t>{});
    if (!frame.empty()) (void)::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  std::shared_ptr<ContextPool> pool_;
  // Where the socket being accepted lives; set by acceptNext().
  std::shared_ptr<asio::io_context> peerContext_;
  Acceptor acceptor_;
  asio::steady_timer retry_;
  std::shared_ptr<const ServiceState> service_;
  std::shared_ptr<ConnectionSet> set_;
};

}  // namespace

struct Server::State {
  std::shared_ptr<ContextPool> pool = std::make_shared<ContextPool>();
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::shared_ptr<ConnectionSet> connections = std::make_shared<ConnectionSet>();
  std::mutex mutex;
  std::vector<std::shared_ptr<Listener>> listeners;  // guarded by mutex
  std::vector<std::thread> threads;
  std::once_flag stopped;
};

std::size_t Server::defaultThreads() {
  return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4);
}

Server::Server(std::size_t threads) : Server(threads, 0) {}

Server::Server(std::size_t threads, std::size_t connectionsPerUID, std::size_t connectionsTotal)
    : state_(std::make_shared<State>()) {
  state_->connections->limitPerUID = connectionsPerUID;
  state_->connections->limitTotal = connectionsTotal;
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
    // One thread per context: the hint tells the context so, and it never
    // looks for another thread to wake.
    auto io = std::make_shared<asio::io_context>(1);
    state_->pool->contexts.push_back(io);
    state_->work.push_back(asio::make_work_guard(*io));
  }
  for (const auto& io : state_->pool->contexts) state_->threads.emplace_back([io] { io->run(); });
}

Server::~Server() { stop(); }

std::expected<void, PlatformError> Server::serve(int listeningFd, Service service) {
  auto state = std::make_shared<ServiceState>();
  state->protocol = service.protocol;
  state->makeSession = std::move(service.makeSession);
  state->ended = std::move(service.ended);
  if (service.requirement) {
    auto requirement = CodeRequirement::parse(service.requirement->text);
    if (!requirement || !service.requirement->identities) {
      ::close(listeningFd);
      if (!requirement) return std::unexpected(requirement.error());
      return std::unexpected(PlatformError::fromErrno(EINVAL, "serve without a code-identity reader"));
    }
    state->requirement = std::move(*requirement);
    state->identities = service.requirement->identities;
  }
  auto listener = std::make_shared<Listener>(state_->pool, std::move(state), state_->connections);
  if (auto assigned = listener->assign(listeningFd); !assigned) return assigned;
  std::lock_guard guard(state_->mutex);
  {
    std::lock_guard setGuard(state_->connections->mutex);
    if (state_->connections->stopping) {
      return std::unexpected(PlatformError::fromErrno(ESHUTDOWN, "serve on a stopped server"));
    }
  }
  state_->listeners.push_back(listener);
  listener->start();
  return {};
}

void Server::stop() {
  std::call_once(state_->stopped, [this] {
    std::vector<std::weak_ptr<Connection>> open;
    {
      std::lock_guard guard(state_->connections->mutex);
      state_->connections->stopping = true;
      for (const auto& [key, connection] : state_->connections->open) open.push_back(connection);
    }
    {
      std::lock_guard guard(state_->mutex);
      for (const auto& listener : state_->listeners) listener->close();
    }
    for (const auto& weak : open) {
      if (auto connection = weak.lock()) connection->close();
    }
    // run() returns once the closes and the operations they cancel are done.
    for (auto& guard : state_->work) guard.reset();
    for (auto& thread : state_->threads) thread.join();
  });
}

}  // namespace bcn::ipc
