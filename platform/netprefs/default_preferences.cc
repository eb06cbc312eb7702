#include "platform/netprefs/default_preferences.h"

#include <net/if_arp.h>

#include <set>

#include "platform/crypto.h"
#include "platform/netprefs/preferences_document.h"

namespace bcn::netprefs {
namespace {

namespace Keys = PreferencesKeys;

std::string uuidFromDigest(std::string_view seed) {
  crypto::Sha256Digest digest = crypto::sha256(seed);
  // Name-based UUID layout: version 5 and the RFC 4122 variant.
  digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0f) | 0x50);
  digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3f) | 0x80);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0xf];
  }
  return text;
}

}  // namespace

bool isConfigurableLink(const KernelLink& link) {
  if (link.loopback || link.name.empty()) return false;
  if (link.arpType != ARPHRD_ETHER && link.arpType != ARPHRD_IEEE80211) return false;
  return link.kind != "tun" && link.kind != "wireguard";
}

LinkDescription describeLink(const KernelLink& link) {
  if (link.wireless || link.arpType == ARPHRD_IEEE80211) {
    return {"IEEE80211", "Ethernet", "AirPort", "Wi-Fi"};
  }
  if (link.kind == "bridge") return {"Bridge", "Bridge", "Bridge", "Bridge"};
  if (link.kind == "vlan") return {"VLAN", "VLAN", "VLAN", "VLAN"};
  if (link.kind == "bond") return {"Bond", "Bond", "Bond", "Bond"};
  return {"Ethernet", "Ethernet", "Ethernet", "Ethernet"};
}

std::string defaultServiceName(const KernelLink& link) {
  return describeLink(link).label + " (" + link.name + ")";
}

std::string stableServiceID(std::string_view deviceName) {
  return uuidFromDigest("beaconbar network service " + std::string(deviceName));
}

PlistDictionary defaultPreferences(const std::vector<KernelLink>& links) {
  const std::string setID = uuidFromDigest("beaconbar network set Automatic");
  // Built as entry lists, not by set(): a dictionary's set() is linear, and
  // a machine can have hundreds of links.
  std::vector<PlistDictionary::Entry> services;
  std::vector<PlistDictionary::Entry> members;
  std::set<std::string> seen;
  PlistArray order;
  for (const KernelLink& link : links) {
    if (!isConfigurableLink(link)) continue;
    std::string id = stableServiceID(link.name);
    if (!seen.insert(id).second) continue;
    const LinkDescription description = describeLink(link);
    const std::string name = defaultServiceName(link);
    PlistDictionary service{
        {std::string(Keys::userDefinedName), name},
        {std::string(Keys::interface),
         PlistDictionary{{std::string(Keys::deviceName), link.name},
                         {std::string(Keys::type), description.entityType},
                         {std::string(Keys::hardware), description.entityHardware},
                         {std::string(Keys::userDefinedName), name}}}};
    if (!link.up) service.set(std::string(Keys::inactive), 1);
    members.emplace_back(id, PlistDictionary{{std::string(Keys::link), "/NetworkServices/" + id}});
    order.push_back(id);
    services.emplace_back(std::move(id), std::move(service));
  }
  PlistDictionary set{
      {std::string(Keys::userDefinedName), "Automatic"},
      {std::string(Keys::network),
       PlistDictionary{
           {std::string(Keys::service), PlistDictionary::fromEntries(std::move(members))},
           {std::string(Keys::global),
            PlistDictionary{{std::string(Keys::ipv4),
                             PlistDictionary{{std::string(Keys::serviceOrder), std::move(order)}}}}}}}};
  return PlistDictionary{{std::string(Keys::currentSet), "/Sets/" + setID},
                         {std::string(Keys::sets), PlistDictionary{{setID, std::move(set)}}},
                         {std::string(Keys::networkServices), PlistDictionary::fromEntries(std::move(services))}};
}

}  // namespace bcn::netprefs
