// Connection: the server side of one accepted socket (internal to the IPC
// library; see server.h for the behaviour services see).
//
// Every member runs on the connection's strand (the one thread of the
// context the server placed it on), except send() and close(), which any
// thread may call; frames are written in the order send() was called.
// The object lives while an operation or a posted task holds it; Reply and
// the server's connection set hold it only weakly.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/server.h"

namespace bcn::ipc {

// What a listener serves, fixed when it starts.
struct ServiceState {
  const ServiceProtocol* protocol = nullptr;
  std::optional<CodeRequirement> requirement;
  std::shared_ptr<const CodeIdentityReader> identities;
  std::function<std::shared_ptr<Session>(const Peer&)> makeSession;
  std::function<void(const std::shared_ptr<Session>&)> ended;
};

// The server's open connections, so that stop() can close them, and how
// many each account (account.h) holds, so that one person cannot take
// every descriptor, nor all of them together the last ones.
struct ConnectionSet {
  std::mutex mutex;
  bool stopping = false;  // guarded by mutex
  std::unordered_map<const Connection*, std::weak_ptr<Connection>> open;  // guarded by mutex
  std::unordered_map<std::uint32_t, std::size_t> openPerUID;              // guarded by mutex
  // 0: no limit. Both fixed before the first accept.
  std::size_t limitPerUID = 0;
  std::size_t limitTotal = 0;

  // Records `connection` of `account` as open, unless the server is
  // stopping, holds limitTotal connections, or the account already holds
  // limitPerUID (nothing recorded then).
  enum class Admission { admitted, stopping, overLimit, busy };
  Admission admit(const std::shared_ptr<Connection>& connection, std::uint32_t account);
  // Forgets a connection admit() recorded; a no-op for any other.
  void release(const Connection* connection, std::uint32_t account);
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  using Socket = asio::local::stream_protocol::socket;

  // Stop reading calls while this much reply data waits for a peer that
  // does not read; resume once it drains below the lower mark.
  static constexpr std::size_t kPauseReadingAt = 4u << 20;
  static constexpr std::size_t kResumeReadingAt = 1u << 20;
  // Stop reading while this many calls are unanswered: a peer that
  // pipelines calls waits in its own socket buffer, not in the server's
  // memory or its workers' queues. Enough for a pairing wait beside the
  // calls an app makes meanwhile.
  static constexpr std::size_t kMaxCallsOutstanding = 4;

  Connection(std::shared_ptr<asio::io_context> io, Socket socket, std::shared_ptr<const ServiceState> service,
             std::shared_ptr<ConnectionSet> set, PeerCredentials credentials, int pidfd, std::uint32_t account);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Makes the session, checks the requirement and starts reading.
  void start();
  // Queues a whole frame for the peer; dropped once closed.
  void send(std::vector<std::uint8_t> frame);
  void close();
  // Whether the connection has closed (any thread; may lag close()).
  bool closed() const { return gone_.load(std::memory_order_acquire); }
  // A call this connection dispatched was answered or dropped unanswered.
  void callFinished();

 private:
  void begin();
  // Runs the whole frames already read, then reads more, as far as the
  // limits allow.
  void pump();
  void readMore();
  void onReadable(const asio::error_code& error);
  // Whether the admitted process, running the file it was admitted with,
  // is still the one speaking. Always true for a service without a
  // requirement.
  bool speakerStillAdmitted(std::int32_t senderPid) const;
  bool executableUnchanged() const;
  // False when the frame closed the connection.
  bool dispatch(const std::vector<std::uint8_t>& payload);
  // Moves what send() was handed into the outbox and writes.
  void takeHandedOver();
  void writeMore();
  void closeNow();

  // Declared first so it is destroyed last: posting from a late reply must
  // find the context alive.
  std::shared_ptr<asio::io_context> io_;
  Socket socket_;
  std::shared_ptr<const ServiceState> service_;
  std::shared_ptr<ConnectionSet> set_;
  Peer peer_;
  // What the peer ran when its code was judged; set when the service has a
  // requirement and the peer met it.
  std::optional<ExecutableStamp> admittedExecutable_;
  std::shared_ptr<Session> session_;
  FrameReader reader_;
  std::deque<std::vector<std::uint8_t>> outbox_;
  std::vector<std::vector<std::uint8_t>> inFlight_;
  std::size_t queuedBytes_ = 0;
  std::size_t callsOutstanding_ = 0;
  bool reading_ = false;
  bool pumpPosted_ = false;
  bool writing_ = false;
  bool dispatching_ = false;
  bool closed_ = false;
  std::atomic<bool> gone_{false};
  std::mutex handOverMutex_;
  std::vector<std::vector<std::uint8_t>> handedOver_;  // guarded by handOverMutex_, in send() order
  bool handOverPosted_ = false;                        // guarded by handOverMutex_
  // Set while reading waits for calls to be answered, when no operation
  // holds the connection; a peer that hangs up meanwhile is noticed once
  // one is.
  std::shared_ptr<Connection> keepAlive_;
};

}  // namespace bcn::ipc
