// DynamicStore: reads of the live network state, shaped like the dynamic
// store calls the library makes: one key, or every key matching a set of
// names and patterns in one call (store_entries.h lists the keys).
//
// The live store computes its entries at each read from a fresh kernel
// reading and the saved preferences, so a handle never serves stale state.
// MemoryDynamicStore serves fixed entries, for tests. Every read is
// independent; a handle may be used from one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/dynstore/store_entries.h"
#include "platform/netprefs/network_preferences.h"
#include "platform/plist.h"

namespace bcn::dynstore {

class NETCORE_EXPORT DynamicStore {
 public:
  virtual ~DynamicStore() = default;

  // The value under `key`, or absent.
  virtual std::optional<PlistValue> copyValue(std::string_view key) = 0;
  // Every entry whose key is one of `keys` or matches one of `patterns` in
  // full (POSIX extended syntax). Absent when the state cannot be read at
  // all; patterns that do not compile match nothing.
  virtual std::optional<PlistDictionary> copyMultiple(const std::vector<std::string>& keys,
                                                      const std::vector<std::string>& patterns) = 0;
};

class NETCORE_EXPORT MemoryDynamicStore final : public DynamicStore {
 public:
  explicit MemoryDynamicStore(StoreEntries entries) : entries_(std::move(entries)) {}
  std::optional<PlistValue> copyValue(std::string_view key) override;
  std::optional<PlistDictionary> copyMultiple(const std::vector<std::string>& keys,
                                              const std::vector<std::string>& patterns) override;

 private:
  StoreEntries entries_;
};

// The live store over the calling thread's network namespace and the
// preferences at `location`. Null when rtnetlink cannot be reached.
NETCORE_EXPORT std::unique_ptr<DynamicStore> openDynamicStore(std::string_view clientName,
                                               const netprefs::PreferencesLocation& location);

// The entries of `entries` that `keys` or `patterns` select, in key order.
PlistDictionary selectEntries(const StoreEntries& entries, const std::vector<std::string>& keys,
                              const std::vector<std::string>& patterns);

// All entries as they are now: the kernel reading plus the preferences
// (none while the preferences cannot be read). Absent when the kernel
// cannot be read.
std::optional<StoreEntries> readStoreEntries(std::string_view clientName,
                                             const netprefs::PreferencesLocation& location);

}  // namespace bcn::dynstore
