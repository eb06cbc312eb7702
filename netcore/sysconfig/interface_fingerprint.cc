#include "netcore/sysconfig/interface_fingerprint.h"

#include <nlohmann/json.hpp>

#include "netcore/sysconfig/keyed_fields.h"
#include "netcore/sysconfig/keyed_json.h"

namespace bcn {
namespace {

std::expected<InterfaceFingerprint, PlatformError> fromFields(
    const std::expected<PlistDictionary, PlatformError>& fields) {
  if (!fields) return std::unexpected(fields.error());
  auto key = keyed::requiredText(*fields, "key");
  if (!key) return std::unexpected(key.error());
  auto name = keyed::requiredText(*fields, "name");
  if (!name) return std::unexpected(name.error());
  auto title = keyed::optionalText(*fields, "title");
  if (!title) return std::unexpected(title.error());
  auto address = keyed::optionalText(*fields, "address");
  if (!address) return std::unexpected(address.error());
  auto permanent = keyed::optionalBoolean(*fields, "permanentAddress");
  if (!permanent) return std::unexpected(permanent.error());
  return InterfaceFingerprint{std::move(*key), std::move(*name), std::move(*title),
                              std::move(*address), permanent->value_or(false)};
}

}  // namespace

PlistDictionary InterfaceFingerprint::toPlist() const {
  PlistDictionary encoded{{"key", key}, {"name", name}};
  if (title) encoded.set("title", *title);
  if (address) encoded.set("address", *address);
  encoded.set("permanentAddress", permanentAddress);
  return encoded;
}

nlohmann::ordered_json toJson(const InterfaceFingerprint& fingerprint) {
  nlohmann::ordered_json encoded = nlohmann::ordered_json::object();
  encoded["key"] = fingerprint.key;
  encoded["name"] = fingerprint.name;
  if (fingerprint.title) encoded["title"] = *fingerprint.title;
  if (fingerprint.address) encoded["address"] = *fingerprint.address;
  encoded["permanentAddress"] = fingerprint.permanentAddress;
  return encoded;
}

std::expected<InterfaceFingerprint, PlatformError> InterfaceFingerprint::fromPlist(const PlistValue& encoded) {
  return fromFields(keyed::fieldsOf(encoded));
}

std::expected<InterfaceFingerprint, PlatformError> fingerprintFromJson(const nlohmann::ordered_json& encoded) {
  return fromFields(keyed::fieldsOf(encoded));
}

}  // namespace bcn

std::size_t std::hash<bcn::InterfaceFingerprint>::operator()(
    const bcn::InterfaceFingerprint& fingerprint) const noexcept {
  std::size_t h = std::hash<std::string>{}(fingerprint.key);
  h = h * 31 + std::hash<std::string>{}(fingerprint.name);
  h = h * 31 + std::hash<std::optional<std::string>>{}(fingerprint.title);
  h = h * 31 + std::hash<std::optional<std::string>>{}(fingerprint.address);
  return h * 31 + std::hash<bool>{}(fingerprint.permanentAddress);
}
