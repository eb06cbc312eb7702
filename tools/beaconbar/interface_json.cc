#include "tools/beaconbar/interface_json.h"

#include <cmath>

#include "netcore/interfaces/bit_names.h"
#include "tools/beaconbar/interface_text.h"

namespace bcn::cli {
namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json optional(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json bitWord(const std::optional<std::uint32_t>& value, const BitNames& names) {
  if (!value) return nullptr;
  return Json{{"value", *value}, {"names", names.names(*value)}};
}

Json ipv4Json(const IPv4Address& a) {
  return Json{{"address", a.address},
              {"netmask", optional(a.netmask)},
              {"prefixLength", optional(a.prefixLength)},
              {"broadcast", optional(a.broadcast)},
              {"destination", optional(a.destination)}};
}

Json ipv6Json(const IPv6Address& a) {
  return Json{{"address", a.address},
              {"prefixLength", optional(a.prefixLength)},
              {"scopeID", a.scopeID},
              {"flags", Json{{"value", a.flags}, {"names", a.flagNames()}}}};
}

Json countersJson(const InterfaceCounters& c) {
  return Json{{"bytesIn", c.bytesIn},         {"bytesOut", c.bytesOut},         {"packetsIn", c.packetsIn},
              {"packetsOut", c.packetsOut},   {"errorsIn", c.errorsIn},         {"errorsOut", c.errorsOut},
              {"multicastIn", c.multicastIn}, {"multicastOut", c.multicastOut}, {"collisions", c.collisions},
              {"dropsIn", c.dropsIn}};
}

}  // namespace

Json interfaceJson(const InterfaceSnapshot& s) {
  Json ipv4 = Json::array();
  for (const IPv4Address& a : s.ipv4) ipv4.push_back(ipv4Json(a));
  Json ipv6 = Json::array();
  for (const IPv6Address& a : s.ipv6) ipv6.push_back(ipv6Json(a));
  Json media = nullptr;
  if (s.media) {
    media = Json{{"current", s.media->current},
                 {"active", optional(s.media->active)},
                 {"status", mediaStatusKey(s.media->status)},
                 {"description", s.media->description()}};
  }
  return Json{{"name", s.name},
              {"index", s.index},
              {"state", linkState(s)},
              {"flags", bitWord(s.flags, BitNames::interfaceFlags())},
              {"mtu", s.mtu},
              {"ifType", s.ifType},
              {"functionalType", functionalTypeKey(s.functionalType)},
              {"baudrate", s.baudrate},
              {"linkAddress", s.linkAddress ? Json(s.linkAddress->description()) : Json(nullptr)},
              {"ipv4", std::move(ipv4)},
              {"ipv6", std::move(ipv6)},
              {"media", std::move(media)},
              {"capabilities", bitWord(s.capabilities, BitNames::capabilities())},
              {"nd6Flags", bitWord(s.nd6Flags, BitNames::nd6Flags())},
              {"counters", countersJson(s.counters)}};
}

Json jsonNumber(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json rateJson(const std::optional<RateSample>& sample) {
  if (!sample) return nullptr;
  return Json{
      {"in", jsonNumber(sample->rateIn())}, {"out", jsonNumber(sample->rateOut())}, {"seconds", sample->duration}};
}

Json aggregateJson(const RateAggregate& a) {
  if (a.isEmpty()) return nullptr;
  return Json{{"seconds", jsonNumber(a.seconds)},
              {"bytesIn", a.bytesIn},
              {"bytesOut", a.bytesOut},
              {"averageIn", jsonNumber(a.averageIn())},
              {"averageOut", jsonNumber(a.averageOut())},
              {"minIn", jsonNumber(a.minIn)},
              {"maxIn", jsonNumber(a.maxIn)},
              {"minOut", jsonNumber(a.minOut)},
              {"maxOut", jsonNumber(a.maxOut)}};
}

}  // namespace bcn::cli
