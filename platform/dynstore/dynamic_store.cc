#include "platform/dynstore/dynamic_store.h"

#include "platform/dynstore/key_pattern.h"
#include "platform/netprefs/netlink_handles.h"

namespace bcn::dynstore {
namespace {

class LiveDynamicStore final : public DynamicStore {
 public:
  LiveDynamicStore(std::string_view clientName, netprefs::PreferencesLocation location)
      : clientName_(clientName), location_(std::move(location)) {}

  std::optional<PlistValue> copyValue(std::string_view key) override {
    const std::optional<StoreEntries> entries = readStoreEntries(clientName_, location_);
    if (!entries) return std::nullopt;
    const auto found = entries->find(std::string(key));
    if (found == entries->end()) return std::nullopt;
    return found->second;
  }

  std::optional<PlistDictionary> copyMultiple(const std::vector<std::string>& keys,
                                              const std::vector<std::string>& patterns) override {
    const std::optional<StoreEntries> entries = readStoreEntries(clientName_, location_);
    if (!entries) return std::nullopt;
    return selectEntries(*entries, keys, patterns);
  }

 private:
  std::string clientName_;
  netprefs::PreferencesLocation location_;
};

}  // namespace

std::optional<PlistValue> MemoryDynamicStore::copyValue(std::string_view key) {
  const auto found = entries_.find(std::string(key));
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

std::optional<PlistDictionary> MemoryDynamicStore::copyMultiple(const std::vector<std::string>& keys,
                                                                const std::vector<std::string>& patterns) {
  return selectEntries(entries_, keys, patterns);
}

PlistDictionary selectEntries(const StoreEntries& entries, const std::vector<std::string>& keys,
                              const std::vector<std::string>& patterns) {
  const KeySelection selection(keys, patterns);
  std::vector<PlistDictionary::Entry> selected;
  for (const auto& [key, value] : entries) {
    if (selection.contains(key)) selected.emplace_back(key, value);
  }
  return PlistDictionary::fromEntries(std::move(selected));
}

std::optional<StoreEntries> readStoreEntries(std::string_view clientName,
                                             const netprefs::PreferencesLocation& location) {
  const std::optional<KernelState> kernel = readKernelState();
  if (!kernel) return std::nullopt;
  const auto preferences = netprefs::NetworkPreferences::create(clientName, location);
  return computeStoreEntries(*kernel, preferences ? preferences->document() : PlistDictionary{});
}

std::unique_ptr<DynamicStore> openDynamicStore(std::string_view clientName,
                                               const netprefs::PreferencesLocation& location) {
  if (!netlink::connectRoute()) return nullptr;
  return std::make_unique<LiveDynamicStore>(clientName, location);
}

}  // namespace bcn::dynstore
