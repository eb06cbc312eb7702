#include "netcore/publicip/public_ip_provider.h"

#include <nlohmann/json.hpp>

namespace bcn {
namespace {

// Deployment values: any public HTTPS service that answers GET /ip with the
// caller's address as plain text will do.
constexpr std::string_view kEchoAHost = "ifconfig.co";
constexpr std::string_view kEchoBHost = "ipinfo.io";

PlatformError invalidValue(const std::string& what) {
  return PlatformError::corruptData("Cannot initialize PublicIPProvider from " + what);
}

}  // namespace

std::optional<PublicIPProvider> PublicIPProvider::fromRawValue(std::string_view raw) {
  for (const PublicIPProvider& p : allCases) {
    if (p.rawValue() == raw) return p;
  }
  return std::nullopt;
}

std::string_view PublicIPProvider::rawValue() const {
  switch (kind) {
    case Kind::echoA:
      return "echoA";
    case Kind::echoB:
      return "echoB";
    case Kind::custom:
      return "custom";
  }
  return {};
}

std::string_view PublicIPProvider::title() const {
  switch (kind) {
    case Kind::echoA:
      return kEchoAHost;
    case Kind::echoB:
      return kEchoBHost;
    case Kind::custom:
      return "Custom URL";
  }
  return {};
}

std::optional<std::string> PublicIPProvider::url() const {
  if (kind == Kind::custom) return std::nullopt;
  return "https://" + std::string(title()) + "/ip";
}

PlistValue PublicIPProvider::toPlist() const { return PlistValue(rawValue()); }

std::expected<PublicIPProvider, PlatformError> PublicIPProvider::fromPlist(const PlistValue& value) {
  const std::string* text = value.text();
  if (text == nullptr) return std::unexpected(invalidValue("a value that is not a string"));
  if (auto p = fromRawValue(*text)) return *p;
  return std::unexpected(invalidValue("invalid String value " + *text));
}

std::string PublicIPProvider::toJSON() const { return nlohmann::json(std::string(rawValue())).dump(); }

std::expected<PublicIPProvider, PlatformError> PublicIPProvider::fromJSON(std::string_view json) {
  const nlohmann::json value = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::unexpected(invalidValue("data that is not valid JSON"));
  if (!value.is_string()) return std::unexpected(invalidValue("a value that is not a string"));
  return fromPlist(PlistValue(value.get_ref<const std::string&>()));
}

}  // namespace bcn
