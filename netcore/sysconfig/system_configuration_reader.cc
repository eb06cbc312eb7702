#include "netcore/sysconfig/system_configuration_reader.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <set>

#include "platform/dynstore/kernel_state.h"
#include "platform/dynstore/key_pattern.h"
#include "platform/dynstore/store_entries.h"

namespace bcn {
namespace {

constexpr std::string_view kTransientPattern = "Setup:/Network/Service/[^/]+/Interface";
constexpr std::string_view kGlobalIPv4 = "State:/Network/Global/IPv4";
constexpr std::string_view kGlobalIPv6 = "State:/Network/Global/IPv6";

std::optional<std::string> textIn(const PlistDictionary& dictionary, std::string_view key) {
  const PlistValue* value = dictionary.find(key);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  return *value->text();
}

bool hiddenFlag(const PlistDictionary& dictionary) {
  const PlistValue* value = dictionary.find("HiddenConfiguration");
  return value != nullptr && value->boolean().value_or(false);
}

// The configured services of the current set: visible before hidden, then
// by position in the service order (unlisted last), then as the set lists them.
std::vector<NetworkService> readServices(SystemConfigurationSource& source) {
  const auto preferences = source.openPreferences(SystemConfigurationReader::kClientName);
  if (!preferences) return {};
  const std::optional<netprefs::PreferencesSet> set = preferences->copyCurrentSet();
  if (!set) return {};

  std::map<std::string, std::int64_t> position;
  if (set->serviceOrder) {
    for (std::size_t i = 0; i < set->serviceOrder->size(); ++i) {
      position.emplace((*set->serviceOrder)[i], static_cast<std::int64_t>(i));
    }
  }
  const std::set<std::string> hidden = netprefs::hiddenServiceIDs(preferences->document());
  std::vector<NetworkService> services;
  for (const netprefs::PreferencesService& entry : set->services) {
    if (entry.serviceID.empty()) continue;
    NetworkService service;
    service.id = entry.serviceID;
    service.name = entry.name.value_or(entry.serviceID);
    service.enabled = entry.enabled;
    if (entry.interface) service.bsdName = netprefs::underlyingBSDName(*entry.interface);
    service.hidden = hidden.contains(entry.serviceID);
    services.push_back(std::move(service));
  }
  auto rank = [&](const NetworkService& service) {
    const auto found = position.find(service.id);
    return std::pair(service.hidden,
                     found == position.end() ? std::numeric_limits<std::int64_t>::max() : found->second);
  };
  std::ranges::stable_sort(services, {}, rank);
  return services;
}

// The fourth non-empty "/"-separated component of a key.
std::optional<std::string> serviceIDOfKey(std::string_view key) {
  int seen = 0;
  while (!key.empty()) {
    const std::size_t slash = key.find('/');
    const std::string_view part = key.substr(0, slash);
    if (!part.empty() && ++seen == 4) return std::string(part);
    if (slash == std::string_view::npos) break;
    key.remove_prefix(slash + 1);
  }
  return std::nullopt;
}

// Everything the reader needs from the store, taken in one call: the live
// store computes its entries from a whole kernel reading per call, so one
// call per service would make a reading quadratic in the number of links,
// and the parts could disagree with each other.
std::optional<PlistDictionary> storeSnapshot(dynstore::DynamicStore& store) {
  return store.copyMultiple({std::string(kGlobalIPv4), std::string(kGlobalIPv6)},
                            {std::string(kTransientPattern), "State:/Network/Service/[^/]+",
                             "State:/Network/Service/[^/]+/IPv[46]"});
}

const PlistDictionary* entryIn(const PlistDictionary& snapshot, const std::string& key) {
  const PlistValue* value = snapshot.find(key);
  return value != nullptr ? value->dictionary() : nullptr;
}

std::vector<NetworkService> transientServices(const PlistDictionary& snapshot) {
  const dynstore::KeyPattern transient{std::string(kTransientPattern)};
  std::vector<NetworkService> services;
  for (const auto& [key, value] : snapshot) {
    if (!transient.matches(key)) continue;
    const PlistDictionary* entity = value.dictionary();
    if (entity == nullptr || entity->empty()) continue;
    const std::optional<std::string> device = textIn(*entity, "DeviceName");
    const std::optional<std::string> id = serviceIDOfKey(key);
    if (!device || !id) continue;
    const PlistDictionary* stateFields = entryIn(snapshot, "State:/Network/Service/" + *id);
    NetworkService service;
    service.id = *id;
    service.name = textIn(*entity, "UserDefinedName").value_or(*device);
    service.enabled = stateFields == nullptr || stateFields->find("__INACTIVE__") == nullptr;
    service.bsdName = device;
    service.hidden = hiddenFlag(*entity);
    services.push_back(std::move(service));
  }
  std::ranges::stable_sort(services, {}, &NetworkService::id);
  return services;
}

void attachTunnels(std::vector<NetworkService>& services, const PlistDictionary& snapshot) {
  for (NetworkService& service : services) {
    if (service.bsdName) continue;
    for (const char* entity : {"IPv4", "IPv6"}) {
      const PlistDictionary* fields = entryIn(snapshot, "State:/Network/Service/" + service.id + "/" + entity);
      if (fields == nullptr) continue;
      if (std::optional<std::string> name = textIn(*fields, "InterfaceName")) {
        service.bsdName = std::move(name);
        break;
      }
    }
  }
}

std::optional<std::string> primaryInterface(const PlistDictionary& snapshot, std::string_view key) {
  const PlistDictionary* fields = entryIn(snapshot, std::string(key));
  return fields != nullptr ? textIn(*fields, "PrimaryInterface") : std::nullopt;
}

// The machine's configuration as one reading sees it. The live source reads
// the kernel for each of its parts (and for the preferences' default when
// there is no file), which is four dumps of every link per reading; this one
// reads the kernel once and serves every part from that, so the parts also
// agree with each other.
class SnapshotSource final : public SystemConfigurationSource {
 public:
  explicit SnapshotSource(netprefs::PreferencesLocation location)
      : location_(std::move(location)), kernel_(dynstore::readKernelState()) {}

  std::vector<netprefs::NetworkInterfaceInfo> copyAllInterfaces() override {
    if (!kernel_) return netprefs::copyAllNetworkInterfaces();
    return netprefs::networkInterfaces(kernel_->links);
  }
  std::unique_ptr<netprefs::NetworkPreferences> openPreferences(std::string_view clientName) override {
    auto preferences = kernel_ ? netprefs::NetworkPreferences::create(clientName, location_, kernel_->links)
                               : netprefs::NetworkPreferences::create(clientName, location_);
    document_ = preferences ? preferences->document() : PlistDictionary{};
    return preferences;
  }
  // Computed from the preferences the services were read from, when they
  // were: the file is then loaded once per reading, and a save in between
  // cannot make the two parts disagree.
  std::unique_ptr<dynstore::DynamicStore> openDynamicStore(std::string_view clientName) override {
    if (!kernel_) return nullptr;
    if (!document_) openPreferences(clientName);
    return std::make_unique<dynstore::MemoryDynamicStore>(dynstore::computeStoreEntries(*kernel_, *document_));
  }

 private:
  netprefs::PreferencesLocation location_;
  std::optional<dynstore::KernelState> kernel_;
  std::optional<PlistDictionary> document_;  // of the last openPreferences(); empty when it failed
};

}  // namespace

NetworkMetadata SystemConfigurationReader::read() {
  SnapshotSource source(netprefs::PreferencesLocation::systemDefault());
  return read(source);
}

NetworkMetadata SystemConfigurationReader::read(SystemConfigurationSource& source) {
  NetworkMetadata metadata;
  for (netprefs::NetworkInterfaceInfo& info : source.copyAllInterfaces()) {
    if (!info.bsdName) continue;
    const std::string name = *info.bsdName;
    metadata.interfaces.insert_or_assign(
        name, InterfaceMetadata{name, std::move(info.displayName), std::move(info.interfaceType),
                                std::move(info.hardwareAddress)});
  }
  metadata.services = readServices(source);

  const auto store = source.openDynamicStore(kClientName);
  if (!store) return metadata;
  const std::optional<PlistDictionary> snapshot = storeSnapshot(*store);
  if (!snapshot) return metadata;
  std::set<std::string> configured;
  for (const NetworkService& service : metadata.services) configured.insert(service.id);
  for (NetworkService& transient : transientServices(*snapshot)) {
    if (!configured.contains(transient.id)) metadata.services.push_back(std::move(transient));
  }
  attachTunnels(metadata.services, *snapshot);
  metadata.primaryIPv4Interface = primaryInterface(*snapshot, kGlobalIPv4);
  metadata.primaryIPv6Interface = primaryInterface(*snapshot, kGlobalIPv6);
  return metadata;
}

}  // namespace bcn
