#include "platform/ipc/reply_stream.h"

#include "platform/ipc/ipc_errors.h"

namespace bcn::ipc {

ReplyStream::Batch ReplyStream::take(std::span<const std::uint8_t> bytes) {
  Batch batch;
  if (ended_) return batch;
  reader_.append(bytes);
  for (;;) {
    auto frame = reader_.next();
    if (!frame) {
      batch.ending = replyInvalid();
      break;
    }
    if (!*frame) break;
    auto reply = decodeReply(**frame);
    if (!reply) {
      batch.ending = replyInvalid();
      break;
    }
    // Calls are numbered from 1: sequence 0 is the server refusing the
    // connection, which it closes next. Every waiting call gets the reason.
    if (reply->sequence == 0 && reply->reply.error) {
      batch.ending = *reply->reply.error;
      break;
    }
    batch.replies.push_back(std::move(*reply));
  }
  ended_ = batch.ending.has_value();
  return batch;
}

}  // namespace bcn::ipc
