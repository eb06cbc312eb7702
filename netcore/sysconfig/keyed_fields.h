// Reading the keyed encodings of the library's values back, from a
// property-list dictionary or from a JSON object, under one set of rules:
// a required key that is missing is a "value not found" error, a key
// present with a value of the wrong type (or a number out of range) is a
// "corrupt" error, and a missing optional key is simply absent. Both are
// PlatformErrors in the Cocoa domain with the codes Foundation's decoders
// use, so callers handle every decoding failure the same way.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/error.h"
#include "platform/plist.h"

namespace bcn::keyed {

inline constexpr std::int64_t kCorruptCode = 4864;
inline constexpr std::int64_t kValueNotFoundCode = 4865;

// The fields of an encoded value; fails when `value` is not a dictionary.
std::expected<PlistDictionary, PlatformError> fieldsOf(const PlistValue& value);

// The members of a JSON object as fields. Strings, booleans and numbers
// keep their kind; a null member is left out, since JSON writes absence
// that way; arrays and objects become empty arrays and dictionaries, which
// are never the type a field reader wants. Fails when `value` is not an
// object.
std::expected<PlistDictionary, PlatformError> fieldsOf(const nlohmann::ordered_json& value);

std::expected<std::string, PlatformError> requiredText(const PlistDictionary& fields, std::string_view key);
std::expected<std::int32_t, PlatformError> requiredInt32(const PlistDictionary& fields, std::string_view key);
std::expected<std::optional<std::string>, PlatformError> optionalText(const PlistDictionary& fields,
                                                                      std::string_view key);
std::expected<std::optional<bool>, PlatformError> optionalBoolean(const PlistDictionary& fields,
                                                                  std::string_view key);

}  // namespace bcn::keyed
