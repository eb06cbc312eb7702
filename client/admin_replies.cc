#include "client/admin_replies.h"

#include <limits>

#include "protocol/admin_keys.h"

namespace bcn {
namespace {

// The reply values, or the failure the result stands for.
std::expected<const PlistDictionary*, PlatformError> valuesOf(const IpcResult& result) {
  if (!result) return std::unexpected(result.error());
  if (result->error) return std::unexpected(*result->error);
  return &result->values;
}

const PlistDictionary* dictionaryAt(const PlistDictionary& d, std::string_view key) {
  const PlistValue* v = d.find(key);
  return v ? v->dictionary() : nullptr;
}

const std::string* textAt(const PlistDictionary& d, std::string_view key) {
  const PlistValue* v = d.find(key);
  return v ? v->text() : nullptr;
}

template <typename T, typename Decode>
std::expected<std::vector<T>, PlatformError> decodeItems(const IpcResult& result, Decode decodeOne) {
  auto values = valuesOf(result);
  if (!values) return std::unexpected(values.error());
  const PlistValue* items = (*values)->find("items");
  if (!items || !items->array()) return std::unexpected(ipc::replyInvalid());
  std::vector<T> out;
  for (const PlistValue& item : *items->array()) {
    const PlistDictionary* d = item.dictionary();
    std::optional<T> one = d ? decodeOne(*d) : std::nullopt;
    if (!one) return std::unexpected(ipc::replyInvalid());
    out.push_back(std::move(*one));
  }
  return out;
}

}  // namespace

std::expected<AdminStatus, PlatformError> decodeStatus(const IpcResult& result, bool withPaired) {
  auto values = valuesOf(result);
  if (!values) return std::unexpected(values.error());
  const PlistDictionary* status = dictionaryAt(**values, "status");
  if (!status) return std::unexpected(ipc::replyInvalid());
  const std::string* version = textAt(*status, AdminStatusKey::version);
  const PlistValue* protocol = status->find(AdminStatusKey::protocolVersion);
  const PlistValue* paired = status->find(AdminStatusKey::paired);
  if (!version || !protocol || !protocol->int64()) return std::unexpected(ipc::replyInvalid());
  AdminStatus out{*version, *protocol->int64(), std::nullopt};
  if (withPaired) {
    if (!paired || !paired->boolean()) return std::unexpected(ipc::replyInvalid());
    out.paired = *paired->boolean();
  }
  return out;
}

std::expected<std::string, PlatformError> decodeText(const IpcResult& result) {
  auto values = valuesOf(result);
  if (!values) return std::unexpected(values.error());
  const std::string* text = textAt(**values, "value");
  if (!text) return std::unexpected(ipc::replyInvalid());
  return *text;
}

std::expected<void, PlatformError> decodeNothing(const IpcResult& result) {
  auto values = valuesOf(result);
  if (!values) return std::unexpected(values.error());
  return {};
}

std::expected<std::vector<TunnelOwnerEntry>, PlatformError> decodeTunnelOwners(const IpcResult& result) {
  return decodeItems<TunnelOwnerEntry>(result, [](const PlistDictionary& d) -> std::optional<TunnelOwnerEntry> {
    const std::string* interface = textAt(d, TunnelOwnerKey::interface);
    const std::string* name = textAt(d, TunnelOwnerKey::name);
    const std::string* path = textAt(d, TunnelOwnerKey::path);
    const PlistValue* pid = d.find(TunnelOwnerKey::pid);
    auto pidValue = pid ? pid->int64() : std::nullopt;
    if (!interface || !name || !path || !pidValue || *pidValue < std::numeric_limits<std::int32_t>::min() ||
        *pidValue > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    return TunnelOwnerEntry{*interface, *name, static_cast<std::int32_t>(*pidValue), *path};
  });
}

std::expected<std::vector<PendingPairing>, PlatformError> decodePendingPairings(const IpcResult& result) {
  return decodeItems<PendingPairing>(result, [](const PlistDictionary& d) -> std::optional<PendingPairing> {
    const std::string* id = textAt(d, PendingPairingKey::id);
    const PlistValue* created = d.find(PendingPairingKey::created);
    if (!id || !created || !created->date()) return std::nullopt;
    return PendingPairing{*id, *created->date()};
  });
}

}  // namespace bcn
