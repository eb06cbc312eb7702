// Where SystemConfigurationReader gets its picture from: the configuration's
// interface list, a network-preferences session and a dynamic-store handle.
// The live source uses the machine's own; tests inject their own to reach
// every sorting and merging rule without a kernel.
//
// A source is used by one read at a time; the live one keeps no state
// besides the preferences location, so separate instances may run
// concurrently.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/dynstore/dynamic_store.h"
#include "platform/netprefs/network_interfaces.h"
#include "platform/netprefs/network_preferences.h"

namespace bcn {

class NETCORE_EXPORT SystemConfigurationSource {
 public:
  virtual ~SystemConfigurationSource() = default;

  // Every interface the configuration knows, in its order.
  virtual std::vector<netprefs::NetworkInterfaceInfo> copyAllInterfaces() = 0;
  // A preferences session, or null when the preferences cannot be opened.
  virtual std::unique_ptr<netprefs::NetworkPreferences> openPreferences(std::string_view clientName) = 0;
  // A dynamic-store handle, or null when the store cannot be opened.
  virtual std::unique_ptr<dynstore::DynamicStore> openDynamicStore(std::string_view clientName) = 0;
};

class NETCORE_EXPORT LiveSystemConfigurationSource final : public SystemConfigurationSource {
 public:
  explicit LiveSystemConfigurationSource(
      netprefs::PreferencesLocation location = netprefs::PreferencesLocation::systemDefault())
      : location_(std::move(location)) {}

  std::vector<netprefs::NetworkInterfaceInfo> copyAllInterfaces() override {
    return netprefs::copyAllNetworkInterfaces();
  }
  std::unique_ptr<netprefs::NetworkPreferences> openPreferences(std::string_view clientName) override {
    return netprefs::NetworkPreferences::create(clientName, location_);
  }
  std::unique_ptr<dynstore::DynamicStore> openDynamicStore(std::string_view clientName) override {
    return dynstore::openDynamicStore(clientName, location_);
  }

 private:
  netprefs::PreferencesLocation location_;
};

}  // namespace bcn
