#include "platform/dynstore/store_entries.h"

#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <set>

#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/preferences_document.h"

namespace bcn::dynstore {
namespace {

using netprefs::KernelLink;
using netprefs::PreferencesService;

struct LinkAddresses {
  PlistArray ipv4;
  PlistArray ipv4Masks;
  PlistArray ipv6;
  PlistArray ipv6Prefixes;
  PlistArray ipv6Routable;  // without link-local addresses
};

std::string subnetMask(std::uint8_t prefixLength) {
  const std::uint32_t bits =
      prefixLength == 0 ? 0 : ~std::uint32_t{0} << (32 - std::min<std::uint8_t>(prefixLength, 32));
  return std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xff) + "." +
         std::to_string((bits >> 8) & 0xff) + "." + std::to_string(bits & 0xff);
}

bool isLinkLocalIPv6(const std::string& address) {
  if (address.size() < 4) return false;
  std::string head = address.substr(0, 4);
  std::ranges::transform(head, head.begin(), [](unsigned char c) { return std::tolower(c); });
  return head == "fe80" || head == "fe90" || head == "fea0" || head == "feb0";
}

std::map<std::int32_t, LinkAddresses> groupAddresses(const KernelState& kernel) {
  std::map<std::int32_t, LinkAddresses> byLink;
  for (const KernelAddress& address : kernel.addresses) {
    LinkAddresses& entry = byLink[address.linkIndex];
    if (address.family == AF_INET) {
      entry.ipv4.emplace_back(address.address);
      entry.ipv4Masks.emplace_back(subnetMask(address.prefixLength));
    } else if (address.family == AF_INET6) {
      entry.ipv6.emplace_back(address.address);
      entry.ipv6Prefixes.emplace_back(static_cast<std::int64_t>(address.prefixLength));
      if (!isLinkLocalIPv6(address.address)) entry.ipv6Routable.emplace_back(address.address);
    }
  }
  return byLink;
}

// The current set's services, enabled ones in the user's service order first.
std::vector<PreferencesService> servicesInOrder(const netprefs::PreferencesSet& set) {
  std::map<std::string, std::size_t> position;
  if (set.serviceOrder) {
    for (std::size_t i = 0; i < set.serviceOrder->size(); ++i) position.emplace((*set.serviceOrder)[i], i);
  }
  std::vector<PreferencesService> services = set.services;
  std::ranges::stable_sort(services, {}, [&](const PreferencesService& s) {
    const auto found = position.find(s.serviceID);
    return found == position.end() ? std::numeric_limits<std::size_t>::max() : found->second;
  });
  return services;
}

class EntryBuilder {
 public:
  EntryBuilder(const KernelState& kernel, const PlistDictionary& preferences)
      : kernel_(kernel), preferences_(preferences), addresses_(groupAddresses(kernel)) {}

  StoreEntries build() {
    addInterfaces();
    addConfiguredServices();
    addTransientServices();
    addGlobal(AF_INET, "State:/Network/Global/IPv4");
    addGlobal(AF_INET6, "State:/Network/Global/IPv6");
    return std::move(entries_);
  }

 private:
  void addInterfaces() {
    PlistArray names;
    for (const KernelLink& link : kernel_.links) {
      names.emplace_back(link.name);
      const std::string prefix = "State:/Network/Interface/" + link.name;
      entries_[prefix + "/Link"] = PlistDictionary{{"Active", link.running}};
      const auto found = addresses_.find(link.index);
      if (found == addresses_.end()) continue;
      const LinkAddresses& a = found->second;
      if (!a.ipv4.empty()) {
        entries_[prefix + "/IPv4"] = PlistDictionary{{"Addresses", a.ipv4}, {"SubnetMasks", a.ipv4Masks}};
      }
      if (!a.ipv6.empty()) {
        entries_[prefix + "/IPv6"] = PlistDictionary{{"Addresses", a.ipv6}, {"PrefixLength", a.ipv6Prefixes}};
      }
    }
    entries_["State:/Network/Interface"] = PlistDictionary{{"Interfaces", std::move(names)}};
  }

  // State:/Network/Service/<id>/IPv4|IPv6 for a service running on `device`.
  void addServiceState(const std::string& id, const std::string& device) {
    const KernelLink* link = linkNamed(device);
    if (link == nullptr) return;
    const auto found = addresses_.find(link->index);
    if (found == addresses_.end()) return;
    const std::string prefix = "State:/Network/Service/" + id;
    if (!found->second.ipv4.empty()) {
      entries_[prefix + "/IPv4"] = PlistDictionary{{"InterfaceName", device}, {"Addresses", found->second.ipv4}};
    }
    if (!found->second.ipv6Routable.empty()) {
      entries_[prefix + "/IPv6"] =
          PlistDictionary{{"InterfaceName", device}, {"Addresses", found->second.ipv6Routable}};
    }
    primaryServiceByDevice_.emplace(device, id);
  }

  void addConfiguredServices() {
    const std::optional<netprefs::PreferencesSet> set = netprefs::currentSet(preferences_);
    if (!set) return;
    for (const PreferencesService& service : servicesInOrder(*set)) {
      const std::string setupKey = "Setup:/Network/Service/" + service.serviceID;
      const std::optional<PlistValue> raw = netprefs::valueAtPath(preferences_, "/NetworkServices/" + service.serviceID);
      if (raw && raw->dictionary() != nullptr) {
        PlistDictionary settings = *raw->dictionary();
        if (const PlistValue* entity = settings.find(netprefs::PreferencesKeys::interface)) {
          entries_[setupKey + "/Interface"] = *entity;
        }
        settings.erase(netprefs::PreferencesKeys::interface);
        entries_[setupKey] = std::move(settings);
      }
      if (!service.interface) continue;
      if (std::optional<std::string> device = netprefs::underlyingBSDName(*service.interface)) {
        covered_.insert(*device);
      }
      if (service.enabled && service.interface->bsdName) {
        addServiceState(service.serviceID, *service.interface->bsdName);
      }
    }
  }

  void addTransientServices() {
    for (const KernelLink& link : kernel_.links) {
      if (link.loopback || link.name.empty() || covered_.contains(link.name)) continue;
      const std::string id = netprefs::stableServiceID(link.name);
      PlistDictionary entity{{"DeviceName", link.name}};
      if (netprefs::isConfigurableLink(link)) {
        entity.set("Type", netprefs::describeLink(link).entityType);
        entity.set("UserDefinedName", netprefs::defaultServiceName(link));
      }
      entries_["Setup:/Network/Service/" + id + "/Interface"] = std::move(entity);
      if (!link.running) {
        entries_["State:/Network/Service/" + id] = PlistDictionary{{"__INACTIVE__", 1}};
      } else {
        addServiceState(id, link.name);
      }
    }
  }

  void addGlobal(int family, const std::string& key) {
    const KernelDefaultRoute* best = nullptr;
    for (const KernelDefaultRoute& route : kernel_.defaultRoutes) {
      if (route.family != family || linkWithIndex(route.linkIndex) == nullptr) continue;
      if (best == nullptr || route.metric < best->metric) best = &route;
    }
    if (best == nullptr) return;
    const std::string& device = linkWithIndex(best->linkIndex)->name;
    PlistDictionary global{{"PrimaryInterface", device}};
    if (best->gateway) global.set("Router", *best->gateway);
    if (const auto service = primaryServiceByDevice_.find(device); service != primaryServiceByDevice_.end()) {
      global.set("PrimaryService", service->second);
    }
    entries_[key] = std::move(global);
  }

  const KernelLink* linkNamed(const std::string& name) const {
    const auto found = std::ranges::find(kernel_.links, name, &KernelLink::name);
    return found == kernel_.links.end() ? nullptr : &*found;
  }
  const KernelLink* linkWithIndex(std::int32_t index) const {
    const auto found = std::ranges::find(kernel_.links, index, &KernelLink::index);
    return found == kernel_.links.end() ? nullptr : &*found;
  }

  const KernelState& kernel_;
  const PlistDictionary& preferences_;
  const std::map<std::int32_t, LinkAddresses> addresses_;
  std::set<std::string> covered_;
  std::map<std::string, std::string> primaryServiceByDevice_;  // first service per device wins
  StoreEntries entries_;
};

}  // namespace

StoreEntries computeStoreEntries(const KernelState& kernel, const PlistDictionary& preferences) {
  return EntryBuilder(kernel, preferences).build();
}

}  // namespace bcn::dynstore
