#include "platform/netprefs/preferences_document.h"

#include <map>
#include <set>
#include <utility>

namespace bcn::netprefs {
namespace {

namespace Keys = PreferencesKeys;

const PlistDictionary* dictionaryAt(const PlistDictionary& parent, std::string_view key) {
  const PlistValue* value = parent.find(key);
  return value != nullptr ? value->dictionary() : nullptr;
}

std::optional<std::string> textAt(const PlistDictionary& parent, std::string_view key) {
  const PlistValue* value = parent.find(key);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  return *value->text();
}

std::vector<std::string_view> pathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) components.push_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

// The service a set's entry stands for: its "__LINK__" path when there is
// one, otherwise the entry's own key under NetworkServices.
std::optional<std::string> linkedServiceID(std::string_view key, const PlistValue& entry) {
  const PlistDictionary* fields = entry.dictionary();
  if (fields == nullptr) return std::nullopt;
  const std::optional<std::string> link = textAt(*fields, Keys::link);
  if (!link) return std::string(key);
  const std::vector<std::string_view> parts = pathComponents(*link);
  if (parts.size() != 2 || parts[0] != Keys::networkServices) return std::nullopt;
  return std::string(parts[1]);
}

std::optional<std::vector<std::string>> serviceOrderOf(const PlistDictionary& set) {
  const std::optional<PlistValue> order =
      valueAtPath(set, "Network/Global/IPv4/ServiceOrder");
  if (!order || order->array() == nullptr) return std::nullopt;
  std::vector<std::string> ids;
  for (const PlistValue& id : *order->array()) {
    if (id.text() != nullptr) ids.push_back(*id.text());
  }
  return ids;
}

}  // namespace

std::optional<PlistValue> valueAtPath(const PlistDictionary& document, std::string_view path) {
  const PlistDictionary* node = &document;
  const std::vector<std::string_view> parts = pathComponents(path);
  if (parts.empty()) return PlistValue(document);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    node = dictionaryAt(*node, parts[i]);
    if (node == nullptr) return std::nullopt;
  }
  const PlistValue* value = node->find(parts.back());
  if (value == nullptr) return std::nullopt;
  return *value;
}

PreferencesInterface interfaceFromEntity(const PlistDictionary& entity) {
  PreferencesInterface interface;
  interface.type = textAt(entity, Keys::type);
  if (textAt(entity, Keys::hardware) == "AirPort") interface.type = "IEEE80211";
  interface.displayName = textAt(entity, Keys::userDefinedName);
  std::optional<std::string> device = textAt(entity, Keys::deviceName);
  if (device && device->empty()) device.reset();
  // A PPP entity names the device the link runs over, not an interface of
  // its own: the PPP interface gets its name only while connected.
  if (interface.type == "PPP") {
    if (device) {
      auto below = std::make_shared<PreferencesInterface>();
      below->bsdName = std::move(device);
      interface.underlying = std::move(below);
    }
  } else {
    interface.bsdName = std::move(device);
  }
  return interface;
}

std::optional<std::string> underlyingBSDName(const PreferencesInterface& interface) {
  for (const PreferencesInterface* layer = &interface; layer != nullptr;
       layer = layer->underlying.get()) {
    if (layer->bsdName) return layer->bsdName;
  }
  return std::nullopt;
}

namespace {

PreferencesService serviceFromFields(std::string_view serviceID, const PlistDictionary& fields) {
  PreferencesService service;
  service.serviceID = std::string(serviceID);
  service.name = textAt(fields, Keys::userDefinedName);
  service.enabled = fields.find(Keys::inactive) == nullptr;
  if (const PlistDictionary* entity = dictionaryAt(fields, Keys::interface)) {
    service.interface = interfaceFromEntity(*entity);
  }
  return service;
}

bool hiddenFields(const PlistDictionary& fields) {
  const PlistDictionary* entity = dictionaryAt(fields, Keys::interface);
  if (entity == nullptr) return false;
  const PlistValue* hidden = entity->find(Keys::hiddenConfiguration);
  return hidden != nullptr && hidden->boolean().value_or(false);
}

}  // namespace

std::optional<PreferencesService> serviceWithID(const PlistDictionary& document,
                                                std::string_view serviceID) {
  if (serviceID.empty()) return std::nullopt;
  const PlistDictionary* services = dictionaryAt(document, Keys::networkServices);
  const PlistDictionary* fields = services != nullptr ? dictionaryAt(*services, serviceID) : nullptr;
  if (fields == nullptr) return std::nullopt;
  return serviceFromFields(serviceID, *fields);
}

std::optional<PreferencesSet> currentSet(const PlistDictionary& document) {
  const std::optional<std::string> link = textAt(document, Keys::currentSet);
  if (!link) return std::nullopt;
  const std::vector<std::string_view> parts = pathComponents(*link);
  if (parts.size() != 2 || parts[0] != Keys::sets) return std::nullopt;
  const std::optional<PlistValue> setValue = valueAtPath(document, *link);
  if (!setValue || setValue->dictionary() == nullptr) return std::nullopt;
  const PlistDictionary& set = *setValue->dictionary();

  PreferencesSet result;
  result.setID = std::string(parts[1]);
  result.name = textAt(set, Keys::userDefinedName);
  result.serviceOrder = serviceOrderOf(set);
  const std::optional<PlistValue> members = valueAtPath(set, "Network/Service");
  if (!members || members->dictionary() == nullptr) return result;
  // Indexed once: a dictionary's find() is linear, and a set can link
  // hundreds of services.
  std::map<std::string_view, const PlistDictionary*> services;
  if (const PlistDictionary* all = dictionaryAt(document, Keys::networkServices)) {
    for (const auto& [id, fields] : *all) {
      if (fields.dictionary() != nullptr) services.try_emplace(id, fields.dictionary());
    }
  }
  for (const auto& [key, entry] : *members->dictionary()) {
    const std::optional<std::string> id = linkedServiceID(key, entry);
    if (!id || id->empty()) continue;
    const auto found = services.find(*id);
    if (found != services.end()) result.services.push_back(serviceFromFields(*id, *found->second));
  }
  return result;
}

bool setServiceEnabled(PlistDictionary& document, std::string_view serviceID, bool enabled) {
  if (serviceID.empty()) return false;
  const PlistDictionary* services = dictionaryAt(document, Keys::networkServices);
  const PlistDictionary* fields = services != nullptr ? dictionaryAt(*services, serviceID) : nullptr;
  if (fields == nullptr) return false;
  PlistDictionary updatedService = *fields;
  if (enabled) {
    updatedService.erase(Keys::inactive);
  } else {
    updatedService.set(std::string(Keys::inactive), 1);
  }
  PlistDictionary updatedServices = *services;
  updatedServices.set(std::string(serviceID), std::move(updatedService));
  document.set(std::string(Keys::networkServices), std::move(updatedServices));
  return true;
}

bool isHiddenService(const PlistDictionary& document, std::string_view serviceID) {
  const PlistDictionary* services = dictionaryAt(document, Keys::networkServices);
  const PlistDictionary* fields = services != nullptr ? dictionaryAt(*services, serviceID) : nullptr;
  return fields != nullptr && hiddenFields(*fields);
}

std::set<std::string> hiddenServiceIDs(const PlistDictionary& document) {
  std::set<std::string> hidden;
  if (const PlistDictionary* services = dictionaryAt(document, Keys::networkServices)) {
    for (const auto& [id, fields] : *services) {
      if (fields.dictionary() != nullptr && hiddenFields(*fields.dictionary())) hidden.insert(id);
    }
  }
  return hidden;
}

}  // namespace bcn::netprefs
