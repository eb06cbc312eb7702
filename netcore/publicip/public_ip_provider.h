// PublicIPProvider: the lookup services a user can choose from. Two are
// built in (public HTTPS services answering GET /ip with the caller's
// address as plain text); `custom` stands for a URL the caller supplies.
//
// A provider is stored as its raw value alone ("echoA", "echoB", "custom"),
// either as a property-list text value or as a JSON text; decoding anything
// else (another type, an unknown name, malformed JSON) is an error, never a
// default provider.
//
// Plain value: copyable, comparable, hashable; thread-safe.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "netcore/export.h"
#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

struct NETCORE_EXPORT PublicIPProvider {
  enum class Kind { echoA, echoB, custom };

  Kind kind = Kind::echoA;

  static const PublicIPProvider echoA;
  static const PublicIPProvider echoB;
  static const PublicIPProvider custom;
  // In declaration order: echoA, echoB, custom.
  static const std::array<PublicIPProvider, 3> allCases;

  // Exactly the three raw values construct a provider; any other text,
  // including other letter cases, yields nothing.
  static std::optional<PublicIPProvider> fromRawValue(std::string_view raw);

  std::string_view rawValue() const;
  // The identity in lists: the raw value.
  std::string_view id() const { return rawValue(); }
  // The service's host name for the built-ins, "Custom URL" for custom.
  std::string_view title() const;
  // "https://<host>/ip" for the built-ins; absent for custom.
  std::optional<std::string> url() const;

  PlistValue toPlist() const;
  static std::expected<PublicIPProvider, PlatformError> fromPlist(const PlistValue& value);
  // A JSON text holding one string, e.g. "\"echoB\"".
  std::string toJSON() const;
  static std::expected<PublicIPProvider, PlatformError> fromJSON(std::string_view json);

  bool operator==(const PublicIPProvider&) const = default;
  auto operator<=>(const PublicIPProvider&) const = default;
};

inline constexpr PublicIPProvider PublicIPProvider::echoA{Kind::echoA};
inline constexpr PublicIPProvider PublicIPProvider::echoB{Kind::echoB};
inline constexpr PublicIPProvider PublicIPProvider::custom{Kind::custom};
inline constexpr std::array<PublicIPProvider, 3> PublicIPProvider::allCases{
    PublicIPProvider::echoA, PublicIPProvider::echoB, PublicIPProvider::custom};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::PublicIPProvider> {
  std::size_t operator()(const bcn::PublicIPProvider& p) const noexcept {
    return std::hash<int>{}(static_cast<int>(p.kind));
  }
};
