// The two messages of the IPC protocol and their property-list form.
//
// A call carries the caller's sequence number, the method's selector and its
// arguments by slot name; a reply carries the call's sequence number, the
// reply values by slot name and, on failure, a PlatformError. An absent value
// is an absent key. docs/ipc.md describes the bytes.
//
// Pure functions over bytes and values; thread-safe. Decoders survive any
// input and report what was wrong with it.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/plist.h"
#include "platform/ipc/method_table.h"

namespace bcn::ipc {

struct CallMessage {
  std::uint64_t sequence = 0;
  std::string selector;
  PlistDictionary arguments;

  bool operator==(const CallMessage&) const = default;
};

// What a method answers: its reply values, or an error in the IPC layer's
// own slot.
struct ReplyValues {
  PlistDictionary values;
  std::optional<PlatformError> error;

  bool operator==(const ReplyValues&) const = default;
};

struct ReplyMessage {
  std::uint64_t sequence = 0;
  ReplyValues reply;

  bool operator==(const ReplyMessage&) const = default;
};

// Whole frames (length header included), ready to write. Fails when a value
// cannot be encoded (text with a NUL byte, a date out of range) or the
// payload exceeds kMaxFrameBytes.
std::expected<std::vector<std::uint8_t>, PlatformError> callFrame(CallMessage call);
std::expected<std::vector<std::uint8_t>, PlatformError> replyFrame(ReplyMessage reply);

// From one frame's payload (without the header).
std::expected<CallMessage, PlatformError> decodeCall(std::span<const std::uint8_t> payload);
std::expected<ReplyMessage, PlatformError> decodeReply(std::span<const std::uint8_t> payload);

// The method `call` invokes, when `protocol` has its selector and every
// argument fits the method's slots: no unknown names, every required slot
// present, every value of its slot's kind. Otherwise nullptr.
const MethodSpec* checkCall(const ServiceProtocol& protocol, const CallMessage& call);

// Whether `reply` has the shape `method` promises. A reply with an error
// always fits: the IPC layer may fail any call.
bool replyFits(const MethodSpec& method, const ReplyValues& reply);

// An error as the dictionary {"domain", "code", "description"}, and back.
PlistDictionary errorDictionary(const PlatformError& error);
std::optional<PlatformError> errorFromDictionary(const PlistDictionary& dictionary);

}  // namespace bcn::ipc
