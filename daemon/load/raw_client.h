// RawClient: one connection to a daemon socket that writes the wire format
// by hand (docs/ipc.md), so that the load and soak programs can send what no
// well-behaved client would (bad lengths, non-plist payloads, wrong argument
// types) next to ordinary calls, and can check what the daemon sends back:
// each reply matched to a call sent, and never twice.
//
// Test-only. Not thread-safe: one thread uses a client at a time. The
// connection may be opened under another effective uid (root callers only);
// the switch affects the calling thread alone and is undone before
// connect() returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/message.h"

namespace bcn::load {

class RawClient {
 public:
  // Connects to the socket at `path`, as effective uid `uid` when given.
  static std::unique_ptr<RawClient> connect(const std::filesystem::path& path,
                                            std::optional<std::uint32_t> uid = std::nullopt);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  int descriptor() const { return fd_; }

  // Writes bytes as they are; false once the daemon no longer reads.
  bool sendBytes(std::span<const std::uint8_t> bytes);
  // Sends a call and remembers its sequence number as waiting for a reply.
  bool sendCall(std::uint64_t sequence, std::string_view selector, PlistDictionary arguments);
  // Sends several calls in one write.
  bool sendCalls(const std::vector<ipc::CallMessage>& calls);

  // Reads whatever is there within `limit` (no wait when zero) and files
  // the replies it completes. False when the connection has ended.
  bool pump(std::chrono::milliseconds limit);

  // Waits up to `limit` for the reply to `sequence`.
  std::optional<ipc::ReplyValues> awaitReply(std::uint64_t sequence, std::chrono::milliseconds limit);
  // Waits up to `limit` for the daemon to close the connection.
  bool awaitClose(std::chrono::milliseconds limit);

  bool closed() const { return closed_; }
  // The replies received so far, by sequence number (taken ones excluded).
  std::optional<ipc::ReplyValues> take(std::uint64_t sequence);
  bool waiting(std::uint64_t sequence) const { return waiting_.contains(sequence); }

  // The refusal the daemon sends a user over its connection limit
  // (a reply to sequence 0), if it came.
  const std::optional<PlatformError>& refusal() const { return refusal_; }

  // Protocol faults seen on the daemon's side of the stream.
  struct Faults {
    std::size_t duplicates = 0;  // a second reply to one call
    std::size_t unexpected = 0;  // a reply to a call never sent
    std::size_t garbage = 0;     // a frame that is not a well-formed reply
    std::size_t replies = 0;     // replies received in all
  };
  const Faults& faults() const { return faults_; }

  // Ends the connection at once, whatever is in flight.
  void close();

 private:
  explicit RawClient(int fd) : fd_(fd) {}
  void file(std::vector<std::uint8_t> payload);

  int fd_;
  bool closed_ = false;
  ipc::FrameReader reader_;
  std::set<std::uint64_t> waiting_;
  std::set<std::uint64_t> answered_;
  std::map<std::uint64_t, ipc::ReplyValues> replies_;
  std::optional<PlatformError> refusal_;
  Faults faults_;
};

// Reads from every open client in `clients` for `limit`, as data arrives.
void pumpAll(const std::vector<std::unique_ptr<RawClient>>& clients, std::chrono::milliseconds limit);

// The frame of a call, for sending with sendBytes.
std::vector<std::uint8_t> callBytes(std::uint64_t sequence, std::string_view selector, PlistDictionary arguments);

// A frame header announcing `length` bytes.
std::vector<std::uint8_t> frameHeader(std::uint32_t length);

}  // namespace bcn::load
