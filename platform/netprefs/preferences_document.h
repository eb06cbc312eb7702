// The network-preferences document: one property-list dictionary in the
// macOS preferences key layout, and the pure reads and edits the session
// makes on it.
//
//   CurrentSet                      "/Sets/<set id>"
//   Sets/<set>/UserDefinedName      set name
//   Sets/<set>/Network/Service/<id> {__LINK__ = "/NetworkServices/<id>"}
//   Sets/<set>/Network/Global/IPv4/ServiceOrder  [service ids]
//   NetworkServices/<id>            {UserDefinedName, __INACTIVE__ (disabled when
//                                    present), Interface = {DeviceName, Type,
//                                    Hardware, UserDefinedName, HiddenConfiguration}}
//
// Every function tolerates any document shape: what is missing or of the
// wrong type reads as absent. Plain functions over values; thread-safe.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/plist.h"

namespace bcn::netprefs {

namespace PreferencesKeys {
inline constexpr std::string_view currentSet = "CurrentSet";
inline constexpr std::string_view sets = "Sets";
inline constexpr std::string_view network = "Network";
inline constexpr std::string_view service = "Service";
inline constexpr std::string_view global = "Global";
inline constexpr std::string_view ipv4 = "IPv4";
inline constexpr std::string_view serviceOrder = "ServiceOrder";
inline constexpr std::string_view link = "__LINK__";
inline constexpr std::string_view networkServices = "NetworkServices";  // kSCPrefNetworkServices
inline constexpr std::string_view interface = "Interface";              // kSCEntNetInterface
inline constexpr std::string_view userDefinedName = "UserDefinedName";
inline constexpr std::string_view inactive = "__INACTIVE__";
inline constexpr std::string_view deviceName = "DeviceName";
inline constexpr std::string_view type = "Type";
inline constexpr std::string_view hardware = "Hardware";
inline constexpr std::string_view hiddenConfiguration = "HiddenConfiguration";
}  // namespace PreferencesKeys

// One interface of a service's interface chain. A layered interface (PPP
// over Ethernet) has no BSD name of its own and names the interface it runs
// on in `underlying`.
struct NETCORE_EXPORT PreferencesInterface {
  std::optional<std::string> bsdName;
  std::optional<std::string> type;
  std::optional<std::string> displayName;
  std::shared_ptr<const PreferencesInterface> underlying;
};

struct NETCORE_EXPORT PreferencesService {
  std::string serviceID;
  std::optional<std::string> name;
  bool enabled = true;
  std::optional<PreferencesInterface> interface;
};

struct NETCORE_EXPORT PreferencesSet {
  std::string setID;
  std::optional<std::string> name;
  // In the order the set lists them; links to missing services are left out.
  std::vector<PreferencesService> services;
  // Absent when the set has no order or it is not a list; non-text entries
  // are left out.
  std::optional<std::vector<std::string>> serviceOrder;
};

// The value at a "/"-separated path ("/" is the whole document); empty
// components are ignored.
std::optional<PlistValue> valueAtPath(const PlistDictionary& document, std::string_view path);

std::optional<PreferencesSet> currentSet(const PlistDictionary& document);
std::optional<PreferencesService> serviceWithID(const PlistDictionary& document,
                                                std::string_view serviceID);

// The interface chain an "Interface" entity describes.
PreferencesInterface interfaceFromEntity(const PlistDictionary& entity);

// The BSD name of the first interface in the chain that has one.
std::optional<std::string> underlyingBSDName(const PreferencesInterface& interface);

// Marks the service enabled (drops "__INACTIVE__") or disabled (sets it
// to 1). False when the document has no such service.
bool setServiceEnabled(PlistDictionary& document, std::string_view serviceID, bool enabled);

// Whether the service's interface entity carries the boolean
// "HiddenConfiguration" set to true. Every other shape answers false.
bool isHiddenService(const PlistDictionary& document, std::string_view serviceID);
// The ids of every hidden service, in one pass over the document.
std::set<std::string> hiddenServiceIDs(const PlistDictionary& document);

}  // namespace bcn::netprefs
