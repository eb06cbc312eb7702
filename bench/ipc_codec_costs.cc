#include "bench/ipc_codec_costs.h"

#include <plist/plist.h>

#include <chrono>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/message.h"

namespace bcn::bench {
namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double microsecondsEach(F step) {
  constexpr int kRounds = 20000;
  for (int i = 0; i < kRounds / 10; ++i) step();  // warm up
  const auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) step();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;
}

}  // namespace

LibraryCoding::LibraryCoding(std::span<const std::uint8_t> payload) {
  plist_t nodes = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(payload.data()), static_cast<std::uint32_t>(payload.size()), &nodes);
  nodes_ = nodes;
}

LibraryCoding::~LibraryCoding() { plist_free(static_cast<plist_t>(nodes_)); }

bool LibraryCoding::encodeFrame(std::vector<std::uint8_t>& frame) const {
  char* bytes = nullptr;
  std::uint32_t size = 0;
  plist_to_bin(static_cast<plist_t>(nodes_), &bytes, &size);
  if (bytes == nullptr) return false;
  frame = ipc::encodeFrame(std::span(reinterpret_cast<const std::uint8_t*>(bytes), size));
  plist_to_bin_free(bytes);
  return true;
}

bool LibraryCoding::decode(std::span<const std::uint8_t> payload) {
  plist_t decoded = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(payload.data()), static_cast<std::uint32_t>(payload.size()), &decoded);
  if (decoded == nullptr) return false;
  plist_free(decoded);
  return true;
}

void printCodecCosts(std::FILE* out) {
  const PlistDictionary answer{{"status", PlistDictionary{{"version", "0.1.0"}, {"protocol", 1}, {"paired", false}}}};
  const PlistDictionary arguments{{"token", std::string(44, 'A')}};
  const auto call = ipc::callFrame({1, "statusWithToken:reply:", arguments});
  const auto reply = ipc::replyFrame({1, {answer, std::nullopt}});
  if (!call || !reply) return (void)std::fprintf(out, "codec: cannot encode the status messages\n");
  const std::span<const std::uint8_t> callPayload = std::span(*call).subspan(ipc::kFrameHeaderBytes);
  const std::span<const std::uint8_t> replyPayload = std::span(*reply).subspan(ipc::kFrameHeaderBytes);
  const LibraryCoding callLibrary(callPayload), replyLibrary(replyPayload);
  if (!callLibrary.valid() || !replyLibrary.valid()) {
    return (void)std::fprintf(out, "codec: the library cannot read the status messages\n");
  }

  const auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  const double encodeCall = microsecondsEach([&] {
    check(ipc::callFrame({1, "statusWithToken:reply:", arguments}).has_value());
  });
  const double decodeCall = microsecondsEach([&] { check(ipc::decodeCall(callPayload).has_value()); });
  const double encodeReply = microsecondsEach([&] { check(ipc::replyFrame({1, {answer, std::nullopt}}).has_value()); });
  const double decodeReply = microsecondsEach([&] { check(ipc::decodeReply(replyPayload).has_value()); });
  std::vector<std::uint8_t> scratch;
  const double libraryEncodeCall = microsecondsEach([&] { check(callLibrary.encodeFrame(scratch)); });
  const double libraryDecodeCall = microsecondsEach([&] { check(LibraryCoding::decode(callPayload)); });
  const double libraryEncodeReply = microsecondsEach([&] { check(replyLibrary.encodeFrame(scratch)); });
  const double libraryDecodeReply = microsecondsEach([&] { check(LibraryCoding::decode(replyPayload)); });
  std::fprintf(out, "codec, us per message (ours / of which the plist library's own encoder or decoder):\n");
  std::fprintf(out, "  call:  encode %5.2f / %5.2f   decode %5.2f / %5.2f\n", encodeCall, libraryEncodeCall, decodeCall,
               libraryDecodeCall);
  std::fprintf(out, "  reply: encode %5.2f / %5.2f   decode %5.2f / %5.2f\n", encodeReply, libraryEncodeReply,
               decodeReply, libraryDecodeReply);
  std::fprintf(out, "  one round trip: %.2f us of coding, %.2f us of it in the library\n",
               encodeCall + decodeCall + encodeReply + decodeReply,
               libraryEncodeCall + libraryDecodeCall + libraryEncodeReply + libraryDecodeReply);
}

}  // namespace bcn::bench
