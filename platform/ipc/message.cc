#include "platform/ipc/message.h"

#include "platform/ipc/frame.h"
#include "platform/plist_budget.h"

namespace bcn::ipc {
namespace {

// What decoding one message may cost, checked before any of it is built.
// Decoding runs on the I/O threads, so these keep it to microseconds.
//
// A call of the largest method in the admin tables (three texts, or a
// request id and a 32-byte authorization form) is under 300 bytes and 13
// nodes, two containers deep; tokens and service ids are short, and a
// token file holds at most 4 KiB. The budget leaves room for that, not for
// a single expanded megabyte.
constexpr PlistBudget kCallBudget{
    .maxInputBytes = 32u << 10, .maxDepth = 4, .maxNodes = 64, .maxExpandedBytes = 16u << 10, .maxXmlElements = 64};
// The largest reply is the tunnel list: up to 512 entries of four keys
// (4,600 nodes), whose paths and names the frame limit bounds; equal paths
// and names are shared, so the expanded size may exceed the frame.
constexpr PlistBudget kReplyBudget{.maxInputBytes = kMaxFrameBytes,
                                   .maxDepth = 8,
                                   .maxNodes = 8192,
                                   .maxExpandedBytes = 8u << 20,
                                   .maxXmlElements = 8192};

constexpr std::string_view kSequence = "sequence";
constexpr std::string_view kSelector = "selector";
constexpr std::string_view kArguments = "arguments";
constexpr std::string_view kValues = "values";
constexpr std::string_view kError = "error";

std::expected<std::vector<std::uint8_t>, PlatformError> frameOf(PlistDictionary message) {
  auto payload = encodeBinaryPlist(PlistValue(std::move(message)));
  if (!payload) return std::unexpected(payload.error());
  if (payload->size() > kMaxFrameBytes) {
    return std::unexpected(PlatformError::fromErrno(EMSGSIZE, "encode IPC message"));
  }
  return encodeFrame(*payload);
}

// The decoded message, known to be a dictionary. Kept whole so that the
// callers copy out only the parts they return.
std::expected<PlistValue, PlatformError> messageValue(std::span<const std::uint8_t> payload,
                                                     const PlistBudget& budget) {
  auto decoded = decodePlistWithin(payload, budget);
  if (!decoded) return std::unexpected(decoded.error());
  if (decoded->dictionary() == nullptr) {
    return std::unexpected(PlatformError::corruptData("IPC message is not a dictionary"));
  }
  return decoded;
}

std::expected<std::uint64_t, PlatformError> sequenceOf(const PlistDictionary& message) {
  const PlistValue* value = message.find(kSequence);
  auto sequence = value ? value->uint64() : std::nullopt;
  if (!sequence) return std::unexpected(PlatformError::corruptData("IPC message lacks an unsigned sequence number"));
  return *sequence;
}

// Every slot named in `values` exists and accepts its value, and every
// required slot is filled. Error slots never appear among plain values.
bool fits(std::span<const WireSlot> slots, const PlistDictionary& values) {
  for (const auto& [name, value] : values) {
    bool known = false;
    for (const WireSlot& slot : slots) {
      if (slot.name == name) {
        if (!slot.accepts(&value)) return false;
        known = true;
      }
    }
    if (!known) return false;
  }
  for (const WireSlot& slot : slots) {
    if (slot.kind == WireKind::error) continue;
    if (values.find(slot.name) == nullptr && !slot.accepts(nullptr)) return false;
  }
  return true;
}

}  // namespace

PlistDictionary errorDictionary(const PlatformError& error) {
  return {{"domain", error.domain}, {"code", error.code}, {"description", error.description}};
}

std::optional<PlatformError> errorFromDictionary(const PlistDictionary& dictionary) {
  const PlistValue* domain = dictionary.find("domain");
  const PlistValue* code = dictionary.find("code");
  const PlistValue* description = dictionary.find("description");
  if (!domain || !domain->text() || !code || !code->int64() || !description || !description->text()) {
    return std::nullopt;
  }
  return PlatformError{*domain->text(), *code->int64(), *description->text()};
}

// Both take their message by value and move its parts into the encoded
// dictionary (set(), unlike a braced list, moves): every call and reply
// passes through here.
std::expected<std::vector<std::uint8_t>, PlatformError> callFrame(CallMessage call) {
  PlistDictionary message;
  message.set(std::string(kSequence), call.sequence);
  message.set(std::string(kSelector), std::move(call.selector));
  message.set(std::string(kArguments), std::move(call.arguments));
  return frameOf(std::move(message));
}

std::expected<std::vector<std::uint8_t>, PlatformError> replyFrame(ReplyMessage reply) {
  PlistDictionary message;
  message.set(std::string(kSequence), reply.sequence);
  message.set(std::string(kValues), std::move(reply.reply.values));
  if (reply.reply.error) message.set(std::string(kError), errorDictionary(*reply.reply.error));
  return frameOf(std::move(message));
}

std::expected<CallMessage, PlatformError> decodeCall(std::span<const std::uint8_t> payload) {
  auto decoded = messageValue(payload, kCallBudget);
  if (!decoded) return std::unexpected(decoded.error());
  PlistDictionary* message = decoded->dictionary();
  auto sequence = sequenceOf(*message);
  if (!sequence) return std::unexpected(sequence.error());
  PlistValue* selector = message->find(kSelector);
  PlistValue* arguments = message->find(kArguments);
  if (!selector || !selector->text()) return std::unexpected(PlatformError::corruptData("IPC call lacks a selector"));
  if (!arguments || !arguments->dictionary()) {
    return std::unexpected(PlatformError::corruptData("IPC call lacks an argument dictionary"));
  }
  return CallMessage{*sequence, std::move(*selector->text()), std::move(*arguments->dictionary())};
}

std::expected<ReplyMessage, PlatformError> decodeReply(std::span<const std::uint8_t> payload) {
  auto decoded = messageValue(payload, kReplyBudget);
  if (!decoded) return std::unexpected(decoded.error());
  PlistDictionary* message = decoded->dictionary();
  auto sequence = sequenceOf(*message);
  if (!sequence) return std::unexpected(sequence.error());
  PlistValue* values = message->find(kValues);
  if (!values || !values->dictionary()) {
    return std::unexpected(PlatformError::corruptData("IPC reply lacks a value dictionary"));
  }
  ReplyMessage reply{*sequence, {std::move(*values->dictionary()), std::nullopt}};
  if (const PlistValue* error = message->find(kError)) {
    reply.reply.error = error->dictionary() ? errorFromDictionary(*error->dictionary()) : std::nullopt;
    if (!reply.reply.error) return std::unexpected(PlatformError::corruptData("IPC reply has a malformed error"));
  }
  return reply;
}

const MethodSpec* checkCall(const ServiceProtocol& protocol, const CallMessage& call) {
  const MethodSpec* method = protocol.find(call.selector);
  if (method == nullptr || !fits(method->arguments, call.arguments)) return nullptr;
  return method;
}

bool replyFits(const MethodSpec& method, const ReplyValues& reply) {
  return reply.error.has_value() || fits(method.reply, reply.values);
}

}  // namespace bcn::ipc
