// ReplyStream: the client's end of the byte stream, turned into replies.
// Fed whatever the socket delivered, it hands back every whole reply in the
// order sent, and the reason the connection has to end when the bytes carry
// one: a broken frame or reply, or the server refusing the connection (a
// reply to sequence 0 with an error). Nothing is decoded after that reason.
//
// Pure over bytes; a single-owner value (not thread-safe). Whoever holds
// the client's reading role feeds it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/error.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/message.h"

namespace bcn::ipc {

class ReplyStream {
 public:
  struct Batch {
    std::vector<ReplyMessage> replies;
    std::optional<PlatformError> ending;
  };

  Batch take(std::span<const std::uint8_t> bytes);

 private:
  FrameReader reader_;
  bool ended_ = false;
};

}  // namespace bcn::ipc
