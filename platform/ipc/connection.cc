#include "platform/ipc/connection.h"

#include <unistd.h>

#include <cerrno>

#include "platform/ipc/ipc_errors.h"

namespace bcn::ipc {

ConnectionSet::Admission ConnectionSet::admit(const std::shared_ptr<Connection>& connection, std::uint32_t account) {
  std::lock_guard guard(mutex);
  if (stopping) return Admission::stopping;
  auto counted = openPerUID.find(account);
  if (limitPerUID != 0 && counted != openPerUID.end() && counted->second >= limitPerUID) return Admission::overLimit;
  if (limitTotal != 0 && open.size() >= limitTotal) return Admission::busy;
  ++openPerUID[account];
  open.emplace(connection.get(), connection);
  return Admission::admitted;
}

void ConnectionSet::release(const Connection* connection, std::uint32_t account) {
  std::lock_guard guard(mutex);
  if (open.erase(connection) == 0) return;
  auto it = openPerUID.find(account);
  if (it != openPerUID.end() && --it->second == 0) openPerUID.erase(it);
}

// Counts as one of its connection's outstanding calls until answered, or
// until the last copy of its Reply is gone unanswered.
struct Reply::State {
  std::weak_ptr<Connection> connection;
  std::uint64_t sequence = 0;
  std::atomic<bool> used{false};

  ~State() {
    if (used.load()) return;
    if (auto owner = connection.lock()) owner->callFinished();
  }
};

void Reply::operator()(ReplyValues reply) const {
  if (!state_ || state_->used.exchange(true)) return;
  auto connection = state_->connection.lock();
  if (!connection) return;
  auto frame = replyFrame({state_->sequence, std::move(reply)});
  // The caller still gets an answer when the values cannot travel.
  if (!frame) frame = replyFrame({state_->sequence, {{}, replyNotEncodable()}});
  if (frame) connection->send(std::move(*frame));
  connection->callFinished();
}

bool Reply::answered() const { return state_ && state_->used.load(); }

bool Reply::abandoned() const {
  if (!state_) return true;
  auto connection = state_->connection.lock();
  return !connection || connection->closed();
}

Connection::Connection(std::shared_ptr<asio::io_context> io, Socket socket, std::shared_ptr<const ServiceState> service,
                       std::shared_ptr<ConnectionSet> set, PeerCredentials credentials, int pidfd,
                       std::uint32_t account)
    : io_(std::move(io)),
      socket_(std::move(socket)),
      service_(std::move(service)),
      set_(std::move(set)),
      peer_{credentials, pidfd, std::nullopt, account} {}

Connection::~Connection() {
  if (peer_.pidfd >= 0) ::close(peer_.pidfd);
}

void Connection::start() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->begin(); });
}

void Connection::close() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->closeNow(); });
}

void Connection::send(std::vector<std::uint8_t> frame) {
  // Frames leave in the order send() was called, whichever threads called:
  // a reply given on the strand must not overtake one a worker gave just
  // before, whose hand-over may still be in the queue.
  const bool onStrand = io_->get_executor().running_in_this_thread();
  bool postHandOver = false;
  {
    std::lock_guard guard(handOverMutex_);
    handedOver_.push_back(std::move(frame));
    if (!onStrand && !handOverPosted_) postHandOver = handOverPosted_ = true;
  }
  if (onStrand) {
    takeHandedOver();
  } else if (postHandOver) {
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->takeHandedOver(); });
  }
}

void Connection::takeHandedOver() {
  std::vector<std::vector<std::uint8_t>> frames;
  {
    std::lock_guard guard(handOverMutex_);
    frames.swap(handedOver_);
    handOverPosted_ = false;
  }
  if (closed_) return;
  for (auto& frame : frames) {
    queuedBytes_ += frame.size();
    outbox_.push_back(std::move(frame));
  }
  writeMore();
}

void Connection::begin() {
  if (closed_) return;
  peer_.identity = readPeerIdentity(peer_.credentials.pid, peer_.pidfd);
  asio::error_code error;
  socket_.non_blocking(true, error);
  if (error) {
    closeNow();
    return;
  }
  session_ = service_->makeSession(peer_);
  if (!session_) {
    closeNow();
    return;
  }
  if (service_->requirement) {
    ExecutableStamp judged;
    auto identity = service_->identities->identityOf(peer_.credentials.pid, peer_.pidfd, peer_.identity, &judged);
    // Without sender tags a process handed the connection could speak for
    // the one judged; the listener asked for them, this makes sure.
    if (!identity || !service_->requirement->isSatisfiedBy(*identity) || !tagSenders(socket_.native_handle())) {
      closeNow();
      return;
    }
    admittedExecutable_ = judged;
  }
  readMore();
}

void Connection::callFinished() {
  asio::dispatch(socket_.get_executor(), [self = shared_from_this()] {
    if (self->callsOutstanding_ > 0) --self->callsOutstanding_;
    // An answer given while a frame is being dispatched lets the loop there
    // go on by itself.
    if (!self->dispatching_) self->pump();
  });
}

bool Connection::speakerStillAdmitted(std::int32_t senderPid) const {
  if (!admittedExecutable_) return true;
  // The bytes must come from the process that was judged, not from another
  // one it handed the connection to (or that connected and then became
  // it). The pid is that process's only while it lives: no call is run
  // before executableUnchanged() has found it alive after every receive
  // that fed the call, which covers these bytes too.
  return senderPid == peer_.credentials.pid;
}

bool Connection::executableUnchanged() const {
  if (!admittedExecutable_) return true;
  return executableStampOf(peer_.credentials.pid, peer_.pidfd, peer_.identity) == admittedExecutable_;
}

void Connection::pump() {
  std::size_t dispatched = 0;
  while (!closed_ && callsOutstanding_ < kMaxCallsOutstanding) {
    if (dispatched == kMaxCallsOutstanding) {
      // Calls a session answers at once leave nothing outstanding, so a
      // peer with a buffer full of them would hold the thread: the rest
      // wait their turn behind the thread's other connections.
      if (!pumpPosted_) {
        pumpPosted_ = true;
        asio::post(socket_.get_executor(), [self = shared_from_this()] {
          self->pumpPosted_ = false;
          self->pump();
        });
      }
      return;
    }
    ++dispatched;
    auto frame = reader_.next();
    if (!frame) {
      closeNow();
      return;
    }
    if (!*frame) break;
    if (!dispatch(**frame)) return;
  }
  readMore();
}

void Connection::readMore() {
  if (closed_ || reading_ || queuedBytes_ >= kPauseReadingAt) return;
  if (callsOutstanding_ >= kMaxCallsOutstanding) {
    // Nothing else may be pending now: the connection holds itself until
    // an answer lets it read again (or it closes).
    keepAlive_ = shared_from_this();
    return;
  }
  keepAlive_.reset();
  reading_ = true;
  // Waits without a buffer, so an idle connection costs none, and without
  // a read that would find nothing: a queued wait re-arms the descriptor,
  // so bytes already there complete it at once.
  socket_.async_wait(Socket::wait_read,
                     [self = shared_from_this()](const asio::error_code& error) { self->onReadable(error); });
}

void Connection::onReadable(const asio::error_code& error) {
  reading_ = false;
  if (closed_) return;
  if (error) {
    closeNow();
    return;
  }
  thread_local std::vector<std::uint8_t> buffer(64 * 1024);
  // Every receive says who sent its bytes, so that a connection with a
  // requirement can refuse bytes its admitted process did not write.
  auto received = receiveTagged(socket_.native_handle(), buffer);
  if (!received && (received.error() == EAGAIN || received.error() == EWOULDBLOCK)) {
    readMore();
    return;
  }
  if (!received || received->length == 0 || !speakerStillAdmitted(received->senderPid)) {
    closeNow();
    return;
  }
  reader_.append(std::span(buffer).first(received->length));
  pump();
}

bool Connection::dispatch(const std::vector<std::uint8_t>& payload) {
  auto call = decodeCall(payload);
  const MethodSpec* method = call ? checkCall(*service_->protocol, *call) : nullptr;
  // A process may exec another program and keep the connection: each call
  // is answered only while the peer still runs what it was admitted with.
  if (method == nullptr || !executableUnchanged()) {
    closeNow();
    return false;
  }
  auto state = std::make_shared<Reply::State>();
  state->connection = weak_from_this();
  state->sequence = call->sequence;
  ++callsOutstanding_;
  dispatching_ = true;
  session_->handleCall(*method, call->arguments, Reply(std::move(state)));
  dispatching_ = false;
  return !closed_;
}

void Connection::writeMore() {
  if (closed_ || writing_ || outbox_.empty()) return;
  writing_ = true;
  // Everything queued goes out in one gathered write.
  inFlight_.assign(std::make_move_iterator(outbox_.begin()), std::make_move_iterator(outbox_.end()));
  outbox_.clear();
  std::vector<asio::const_buffer> buffers;
  buffers.reserve(inFlight_.size());
  for (const auto& frame : inFlight_) buffers.push_back(asio::buffer(frame));
  asio::async_write(socket_, buffers, [self = shared_from_this()](const asio::error_code& error, std::size_t) {
    self->writing_ = false;
    for (const auto& frame : self->inFlight_) self->queuedBytes_ -= frame.size();
    self->inFlight_.clear();
    if (error) {
      self->closeNow();
      return;
    }
    if (self->queuedBytes_ < kResumeReadingAt) self->pump();
    self->writeMore();
  });
}

void Connection::closeNow() {
  if (closed_) return;
  closed_ = true;
  gone_.store(true, std::memory_order_release);
  // Released last, by whoever called: this may be the final reference.
  auto self = std::move(keepAlive_);
  asio::error_code ignored;
  socket_.shutdown(Socket::shutdown_both, ignored);
  socket_.close(ignored);
  outbox_.clear();
  set_->release(this, peer_.accountUID);
  if (auto session = std::move(session_); session && service_->ended) service_->ended(session);
}

}  // namespace bcn::ipc
