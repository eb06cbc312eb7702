// Property lists: the value type every file and message of the system is
// made of (pairing file, history file, IPC frames, Info.plist), and its
// binary/XML codec over libplist.
//
// PlistValue is a plain value: copyable, comparable, hashable, safe to pass
// between threads. Dictionaries keep keys unique and in insertion order,
// which is the order the encoder writes them; equality of dictionaries
// ignores order, as property-list dictionaries are unordered.
//
// Integers span the union of the signed and unsigned 64-bit ranges, as in
// Apple's format: negative values are written as 8-byte signed integers and
// values above INT64_MAX as 16-byte integers, so either kind survives a
// round trip.
//
// Decoding never throws and never crashes on hostile bytes: anything that
// is not a well-formed plist within the limits below is an error value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "netcore/export.h"
#include "platform/date.h"
#include "platform/error.h"

namespace bcn {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistData = std::vector<std::uint8_t>;

class NETCORE_EXPORT PlistDictionary {
 public:
  using Entry = std::pair<std::string, PlistValue>;

  PlistDictionary() = default;
  PlistDictionary(std::initializer_list<Entry> entries);
  // From entries in order; a later entry with an earlier entry's key
  // replaces its value in the earlier position. Linear time, so decoding a
  // huge dictionary stays cheap.
  static PlistDictionary fromEntries(std::vector<Entry> entries);

  // Replaces the value of an existing key in place, otherwise appends.
  // Linear in the size: meant for the handful of keys a message has.
  void set(std::string key, PlistValue value);
  // The value under `key`, or nullptr. The pointer lives until the next
  // change of this dictionary.
  const PlistValue* find(std::string_view key) const;
  PlistValue* find(std::string_view key);
  bool erase(std::string_view key);

  std::size_t size() const;
  bool empty() const;
  const Entry* begin() const;
  const Entry* end() const;

  // Same keys with equal values, in any order.
  bool operator==(const PlistDictionary& other) const;

 private:
  std::vector<Entry> entries_;
};

class NETCORE_EXPORT PlistValue {
 public:
  enum class Kind { text, boolean, integer, real, date, data, array, dictionary };

  PlistValue() : value_(false) {}
  PlistValue(std::string text) : value_(std::move(text)) {}
  PlistValue(std::string_view text) : value_(std::string(text)) {}
  PlistValue(const char* text) : value_(std::string(text)) {}
  PlistValue(bool b) : value_(b) {}
  // Integers above INT64_MAX are kept unsigned and every other integer
  // signed, so each number has exactly one representation.
  template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
  PlistValue(T n) : value_(std::int64_t{0}) {
    if constexpr (std::is_unsigned_v<T>) {
      if (static_cast<std::uint64_t>(n) > static_cast<std::uint64_t>(INT64_MAX)) {
        value_ = static_cast<std::uint64_t>(n);
        return;
      }
    }
    value_ = static_cast<std::int64_t>(n);
  }
  PlistValue(double real) : value_(real) {}
  PlistValue(Date date) : value_(date) {}
  PlistValue(PlistData data) : value_(std::move(data)) {}
  PlistValue(PlistArray array) : value_(std::move(array)) {}
  PlistValue(PlistDictionary dictionary) : value_(std::move(dictionary)) {}

  Kind kind() const;

  // Typed access: absent (or nullptr) when the value is of another kind.
  // The mutable forms let a decoded value's parts be moved out.
  const std::string* text() const { return std::get_if<std::string>(&value_); }
  std::string* text() { return std::get_if<std::string>(&value_); }
  std::optional<bool> boolean() const;
  // Integers: absent when the value is not an integer or does not fit.
  std::optional<std::int64_t> int64() const;
  std::optional<std::uint64_t> uint64() const;
  std::optional<double> real() const;
  std::optional<Date> date() const;
  const PlistData* data() const { return std::get_if<PlistData>(&value_); }
  const PlistArray* array() const { return std::get_if<PlistArray>(&value_); }
  const PlistDictionary* dictionary() const { return std::get_if<PlistDictionary>(&value_); }
  PlistDictionary* dictionary() { return std::get_if<PlistDictionary>(&value_); }

  bool operator==(const PlistValue&) const = default;

 private:
  std::variant<std::string, bool, std::int64_t, std::uint64_t, double, Date, PlistData,
               PlistArray, PlistDictionary>
      value_;
};

// Limits every decode enforces before libplist sees the bytes. libplist
// recurses once per nesting level and expands shared binary objects into
// copies, so unbounded input could exhaust the stack or memory.
struct NETCORE_EXPORT PlistLimits {
  static constexpr std::size_t kMaxBytes = 64u << 20;
  static constexpr std::size_t kMaxDepth = 256;
  static constexpr std::size_t kMaxNodes = 4'000'000;
  // libplist 2.2 inserts each XML dictionary key with a linear search, so
  // XML (meant for hand-written files, never our own) gets a tighter bound
  // that keeps the worst case well under a second.
  static constexpr std::size_t kMaxXmlElements = 200'000;
};

// Binary property list ("bplist00"). Fails for text or keys containing a NUL
// byte or not valid UTF-8, dates outside what the format library can hold
// (years 1933–2069), and values nested deeper than PlistLimits::kMaxDepth.
std::expected<PlistData, PlatformError> encodeBinaryPlist(const PlistValue& value);

// XML property list, for people and tests; same failures as the binary form.
std::expected<std::string, PlatformError> encodeXmlPlist(const PlistValue& value);

// Decodes a binary or XML property list. Unsupported node kinds (keyed
// archive UIDs), inputs beyond PlistLimits, and text, keys or dates the
// encoders would refuse (NUL bytes, not UTF-8, out of range) are errors,
// so whatever decodes can be written back.
std::expected<PlistValue, PlatformError> decodePlist(std::span<const std::uint8_t> bytes);
std::expected<PlistValue, PlatformError> decodePlist(std::string_view bytes);

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::PlistValue> {
  std::size_t operator()(const bcn::PlistValue& v) const noexcept;
};
