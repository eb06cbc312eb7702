#include "platform/ipc/connection.h"

#include <unistd.h>

#include <cerrno>

#include "platform/ipc/ipc_errors.h"

namespace bcn::ipc {

ConnectionSet::Admission ConnectionSet::admit(const std::shared_ptr<Connection>& connection, std::uint32_t uid) {
  std::lock_guard guard(mutex);
  if (stopping) return Admission::stopping;
  auto counted = openPerUID.find(uid);
  if (limitPerUID != 0 && counted != openPerUID.end() && counted->second >= limitPerUID) return Admission::overLimit;
  ++openPerUID[uid];
  open.emplace(connection.get(), connection);
  return Admission::admitted;
}

void ConnectionSet::release(const Connection* connection, std::uint32_t uid) {
  std::lock_guard guard(mutex);
  if (open.erase(connection) == 0) return;
  auto it = openPerUID.find(uid);
  if (it != openPerUID.end() && --it->second == 0) openPerUID.erase(it);
}

struct Reply::State {
  std::weak_ptr<Connection> connection;
  std::uint64_t sequence = 0;
  std::atomic<bool> used{false};
};

void Reply::operator()(ReplyValues reply) const {
  if (!state_ || state_->used.exchange(true)) return;
  auto connection = state_->connection.lock();
  if (!connection) return;
  auto frame = replyFrame({state_->sequence, std::move(reply)});
  // The caller still gets an answer when the values cannot travel.
  if (!frame) frame = replyFrame({state_->sequence, {{}, replyNotEncodable()}});
  if (frame) connection->send(std::move(*frame));
}

bool Reply::answered() const { return state_ && state_->used.load(); }

Connection::Connection(std::shared_ptr<asio::io_context> io, Socket socket,
                       std::shared_ptr<const ServiceState> service, std::shared_ptr<ConnectionSet> set,
                       PeerCredentials credentials, int pidfd)
    : io_(std::move(io)),
      socket_(std::move(socket)),
      service_(std::move(service)),
      set_(std::move(set)),
      peer_{credentials, pidfd, std::nullopt},
      readBuffer_(64 * 1024) {}

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
  // Runs at once when the reply comes from the connection's own strand (the
  // common case), saving a trip through the queue.
  asio::dispatch(socket_.get_executor(), [self = shared_from_this(), frame = std::move(frame)]() mutable {
    if (self->closed_) return;
    self->queuedBytes_ += frame.size();
    self->outbox_.push_back(std::move(frame));
    self->writeMore();
  });
}

void Connection::begin() {
  if (closed_) return;
  peer_.identity = readPeerIdentity(peer_.credentials.pid, peer_.pidfd);
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

void Connection::readMore() {
  if (closed_ || reading_ || queuedBytes_ >= kPauseReadingAt) return;
  reading_ = true;
  if (admittedExecutable_) {
    socket_.async_wait(Socket::wait_read,
                       [self = shared_from_this()](const asio::error_code& error) { self->onReadable(error); });
    return;
  }
  socket_.async_read_some(asio::buffer(readBuffer_),
                          [self = shared_from_this()](const asio::error_code& error, std::size_t length) {
                            self->onRead(error, length);
                          });
}

void Connection::onReadable(const asio::error_code& error) {
  reading_ = false;
  if (closed_) return;
  if (error) {
    closeNow();
    return;
  }
  auto received = receiveTagged(socket_.native_handle(), readBuffer_);
  if (!received && (received.error() == EAGAIN || received.error() == EWOULDBLOCK)) {
    readMore();
    return;
  }
  if (!received || received->length == 0 || !speakerStillAdmitted(received->senderPid)) {
    closeNow();
    return;
  }
  consume(received->length);
}

bool Connection::speakerStillAdmitted(std::int32_t senderPid) const {
  if (!admittedExecutable_) return true;
  // The bytes must come from the process that was judged, not from another
  // one it handed the connection to (or that connected and then became
  // it). The pid is that process's only while it lives, hence the check
  // after the receive.
  if (senderPid != peer_.credentials.pid) return false;
  return peer_.pidfd < 0 || !pidfdExited(peer_.pidfd);
}

bool Connection::executableUnchanged() const {
  if (!admittedExecutable_) return true;
  return executableStampOf(peer_.credentials.pid, peer_.pidfd, peer_.identity) == admittedExecutable_;
}

void Connection::onRead(const asio::error_code& error, std::size_t length) {
  reading_ = false;
  if (closed_) return;
  if (error) {
    closeNow();
    return;
  }
  consume(length);
}

void Connection::consume(std::size_t length) {
  reader_.append(std::span(readBuffer_).first(length));
  for (;;) {
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
  session_->handleCall(*method, call->arguments, Reply(std::move(state)));
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
    if (self->queuedBytes_ < kResumeReadingAt) self->readMore();
    self->writeMore();
  });
}

void Connection::closeNow() {
  if (closed_) return;
  closed_ = true;
  asio::error_code ignored;
  socket_.shutdown(Socket::shutdown_both, ignored);
  socket_.close(ignored);
  outbox_.clear();
  set_->release(this, peer_.credentials.uid);
  if (auto session = std::move(session_); session && service_->ended) service_->ended(session);
}

}  // namespace bcn::ipc
