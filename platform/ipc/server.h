// Server: serves the methods of a ServiceProtocol on listening Unix stream
// sockets, one Session per accepted connection.
//
// Threads: connections run concurrently on the server's small thread pool,
// each staying on the one thread it was given at accept (in turn); within
// one connection everything (session creation, every handleCall, the ended
// hook) runs one at a time in arrival order. A session may answer a
// call at once or keep its Reply and answer later from any thread.
//
// Life of a connection: on accept the peer's credentials are read once;
// the session is made; when the service has a code requirement, a peer
// whose code does not satisfy it is disconnected before any of its calls
// runs. On such a service the connection is also closed, with no further
// call run, when bytes arrive that another process wrote (one the socket
// was passed to), or when, at a call, the peer no longer runs the very
// executable it was admitted with. A frame that is too large or not a well-formed call, an unknown
// selector and arguments of the wrong kinds all close the connection with
// no call executed. Closing, for whatever reason, is the invalidation:
// `ended` runs exactly once with the session, after which replies to the
// connection's calls are silently dropped.
//
// A server may cap the connections one user holds open at once, across all
// its services; a peer in a user namespace counts against the namespace's
// owner (account.h). It may also cap the connections of everyone together,
// below its descriptor limit, so that it never runs out of descriptors to
// refuse with. A connection beyond either cap is refused at accept: before
// anything else the server sends it one reply frame with sequence 0
// carrying connectionLimitReached() or serviceBusy() (ipc_errors.h), then
// closes it; no session is made and `ended` is not called.
//
// Work a connection may cause is bounded: while it has
// Connection::kMaxCallsOutstanding calls unanswered, or much reply data
// unread, the server reads nothing more from it. Idle connections hold no
// read buffer.
//
// The Server object itself is thread-safe. stop() (or destruction) closes
// every connection, runs their ended hooks and joins the threads; it must
// not be called from a session or hook.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/codesign/code_identity_reader.h"
#include "platform/codesign/code_requirement.h"
#include "platform/error.h"
#include "platform/ipc/message.h"
#include "platform/ipc/peer.h"
#include "platform/ipc/method_table.h"

namespace bcn::ipc {

class Connection;

// The answer to one call. Copyable; every copy answers the same call. The
// first invocation (from any thread, at any time) sends the reply; later
// ones are ignored, as is any answer after the connection closed. Replies
// of one connection reach the peer in the order they were given, whichever
// threads gave them.
class Reply {
 public:
  void operator()(ReplyValues reply) const;
  void operator()(PlistDictionary values) const { (*this)(ReplyValues{std::move(values), std::nullopt}); }
  void fail(PlatformError error) const { (*this)(ReplyValues{{}, std::move(error)}); }

  // Whether some copy has answered already.
  bool answered() const;
  // Whether the connection the call came on has closed, so that an answer
  // would be dropped: work queued for the call need not run.
  bool abandoned() const;

 private:
  friend class Connection;
  struct State;
  explicit Reply(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

class Session {
 public:
  virtual ~Session() = default;
  // One call whose arguments match `method`. Runs on the connection's
  // strand; must not block for long, since other connections share the pool.
  virtual void handleCall(const MethodSpec& method, const PlistDictionary& arguments, Reply reply) = 0;
};

struct ServiceRequirement {
  std::string text;  // in the code-requirement language
  std::shared_ptr<const CodeIdentityReader> identities;
};

struct Service {
  const ServiceProtocol* protocol = nullptr;
  // Absent: every peer is served.
  std::optional<ServiceRequirement> requirement;
  // Makes the session of a new connection; nullptr refuses the peer (the
  // connection is closed and `ended` is not called).
  std::function<std::shared_ptr<Session>(const Peer&)> makeSession;
  // Told once when that connection has closed. May be empty.
  std::function<void(const std::shared_ptr<Session>&)> ended;
};

class Server {
 public:
  static std::size_t defaultThreads();

  explicit Server(std::size_t threads = defaultThreads());
  // At most `connectionsPerUID` open connections per user and
  // `connectionsTotal` in all; 0 is no limit.
  Server(std::size_t threads, std::size_t connectionsPerUID, std::size_t connectionsTotal = 0);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Starts serving `service` on the listening socket `listeningFd`, which
  // the server owns from here on (even on failure). Fails when the
  // requirement text does not parse or the descriptor is not usable.
  // REQUIRES: service.protocol and service.makeSession are set.
  std::expected<void, PlatformError> serve(int listeningFd, Service service);

  // Stops accepting, closes every connection and waits for the threads.
  // Idempotent.
  void stop();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace bcn::ipc
