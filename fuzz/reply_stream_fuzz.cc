// Bytes from the service a client connected to, as the client reads them:
// cut into reads at arbitrary points and fed to the reply stream. Whatever
// the bytes, the stream gives the same replies and the same reason to end
// however they were cut, nothing after that reason, and replies that
// re-encode to themselves.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/ipc/message.h"
#include "platform/ipc/reply_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bcn;
  if (size == 0) return 0;
  // The first byte picks how the stream is cut into reads.
  const std::size_t chunk = 1 + data[0] % 64;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);

  ipc::ReplyStream whole;
  const ipc::ReplyStream::Batch expected = whole.take(stream);

  ipc::ReplyStream cut;
  std::vector<ipc::ReplyMessage> replies;
  std::optional<PlatformError> ending;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    auto batch = cut.take(stream.subspan(at, std::min(chunk, stream.size() - at)));
    if (ending && (!batch.replies.empty() || batch.ending)) std::abort();
    for (auto& reply : batch.replies) replies.push_back(std::move(reply));
    if (batch.ending) ending = batch.ending;
  }
  if (!(replies == expected.replies) || ending != expected.ending) std::abort();

  for (const auto& reply : replies) {
    if (reply.sequence == 0 && reply.reply.error) std::abort();  // a refusal is an ending
    auto frame = ipc::replyFrame(reply);
    if (!frame) continue;
    ipc::ReplyStream again;
    auto decoded = again.take(*frame);
    if (decoded.ending || decoded.replies.size() != 1 || !(decoded.replies.front() == reply)) std::abort();
  }
  return 0;
}
