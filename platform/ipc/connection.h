// Connection: the server side of one accepted socket (internal to the IPC
// library; see server.h for the behaviour services see).
//
// Every member runs on the connection's strand, except send() and close(),
// which any thread may call. The object lives while an operation or a
// posted task holds it; Reply and the server's connection set hold it only
// weakly.
#pragma once

#include <asio.hpp>
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
// many each user holds, so that one user cannot take every descriptor.
struct ConnectionSet {
  std::mutex mutex;
  bool stopping = false;  // guarded by mutex
  std::unordered_map<const Connection*, std::weak_ptr<Connection>> open;  // guarded by mutex
  std::unordered_map<std::uint32_t, std::size_t> openPerUID;              // guarded by mutex
  std::size_t limitPerUID = 0;  // 0: no limit; fixed before the first accept

  // Records `connection` of `uid` as open, unless the server is stopping
  // or the user already holds limitPerUID connections (nothing recorded).
  enum class Admission { admitted, stopping, overLimit };
  Admission admit(const std::shared_ptr<Connection>& connection, std::uint32_t uid);
  // Forgets a connection admit() recorded; a no-op for any other.
  void release(const Connection* connection, std::uint32_t uid);
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  using Socket = asio::local::stream_protocol::socket;

  // Stop reading calls while this much reply data waits for a peer that
  // does not read; resume once it drains below the lower mark.
  static constexpr std::size_t kPauseReadingAt = 4u << 20;
  static constexpr std::size_t kResumeReadingAt = 1u << 20;

  Connection(std::shared_ptr<asio::io_context> io, Socket socket, std::shared_ptr<const ServiceState> service,
             std::shared_ptr<ConnectionSet> set, PeerCredentials credentials, int pidfd);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Makes the session, checks the requirement and starts reading.
  void start();
  // Queues a whole frame for the peer; dropped once closed.
  void send(std::vector<std::uint8_t> frame);
  void close();

 private:
  void begin();
  void readMore();
  void onRead(const asio::error_code& error, std::size_t length);
  void onReadable(const asio::error_code& error);
  void consume(std::size_t length);
  // Whether the admitted process, running the file it was admitted with,
  // is still the one speaking. Always true for a service without a
  // requirement.
  bool speakerStillAdmitted(std::int32_t senderPid) const;
  bool executableUnchanged() const;
  // False when the frame closed the connection.
  bool dispatch(const std::vector<std::uint8_t>& payload);
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
  std::vector<std::uint8_t> readBuffer_;
  std::deque<std::vector<std::uint8_t>> outbox_;
  std::vector<std::vector<std::uint8_t>> inFlight_;
  std::size_t queuedBytes_ = 0;
  bool reading_ = false;
  bool writing_ = false;
  bool closed_ = false;
};

}  // namespace bcn::ipc
