#include "netcore/sysconfig/tunnel_owner.h"

#include <nlohmann/json.hpp>

#include "netcore/sysconfig/keyed_fields.h"
#include "netcore/sysconfig/keyed_json.h"

namespace bcn {
namespace {

std::expected<TunnelOwner, PlatformError> ownerFromFields(
    const std::expected<PlistDictionary, PlatformError>& fields) {
  if (!fields) return std::unexpected(fields.error());
  auto pid = keyed::requiredInt32(*fields, "pid");
  if (!pid) return std::unexpected(pid.error());
  auto name = keyed::requiredText(*fields, "name");
  if (!name) return std::unexpected(name.error());
  auto path = keyed::requiredText(*fields, "path");
  if (!path) return std::unexpected(path.error());
  return TunnelOwner{*pid, std::move(*name), std::move(*path)};
}

}  // namespace

PlistDictionary TunnelOwner::toPlist() const {
  return PlistDictionary{{"pid", pid}, {"name", name}, {"path", path}};
}

nlohmann::ordered_json toJson(const TunnelOwner& owner) {
  nlohmann::ordered_json encoded = nlohmann::ordered_json::object();
  encoded["pid"] = owner.pid;
  encoded["name"] = owner.name;
  encoded["path"] = owner.path;
  return encoded;
}

std::expected<TunnelOwner, PlatformError> TunnelOwner::fromPlist(const PlistValue& encoded) {
  return ownerFromFields(keyed::fieldsOf(encoded));
}

std::expected<TunnelOwner, PlatformError> tunnelOwnerFromJson(const nlohmann::ordered_json& encoded) {
  return ownerFromFields(keyed::fieldsOf(encoded));
}

}  // namespace bcn

std::size_t std::hash<bcn::TunnelOwner>::operator()(const bcn::TunnelOwner& owner) const noexcept {
  std::size_t h = std::hash<std::int32_t>{}(owner.pid);
  h = h * 31 + std::hash<std::string>{}(owner.name);
  return h * 31 + std::hash<std::string>{}(owner.path);
}
