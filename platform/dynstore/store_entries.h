// The dynamic store's key space, computed from one kernel reading and the
// saved network preferences. A pure function, so every key and value can be
// checked against canned kernel states.
//
//   State:/Network/Interface                  {Interfaces: [every link name]}
//   State:/Network/Interface/<if>/Link        {Active: carrier and running}
//   State:/Network/Interface/<if>/IPv4|IPv6   {Addresses, SubnetMasks | PrefixLength}
//   State:/Network/Global/IPv4|IPv6           {PrimaryInterface, Router, PrimaryService}
//                                             from the lowest-metric default route
//   State:/Network/Service/<id>/IPv4|IPv6     {InterfaceName, Addresses} for enabled
//                                             services whose device has addresses
//                                             (IPv6: other than link-local)
//   Setup:/Network/Service/<id>               the service's settings (name, __INACTIVE__)
//   Setup:/Network/Service/<id>/Interface     its interface entity
//
// Links that no service of the current set covers (tunnels, new hardware)
// appear as transient services under the id the default set would give
// them: a Setup:/…/Interface entry with "DeviceName", and
// State:/Network/Service/<id> = {__INACTIVE__: 1} while the link is not running.
#pragma once

#include <map>
#include <string>

#include "platform/dynstore/kernel_state.h"
#include "platform/plist.h"

namespace bcn::dynstore {

using StoreEntries = std::map<std::string, PlistValue>;

StoreEntries computeStoreEntries(const KernelState& kernel, const PlistDictionary& preferences);

}  // namespace bcn::dynstore
