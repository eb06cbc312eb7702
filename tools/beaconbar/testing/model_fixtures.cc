#include "tools/beaconbar/testing/model_fixtures.h"

#include "tools/beaconbar/history_file.h"

namespace bcn::cli::testing {

InterfaceSnapshot ethernet() {
  InterfaceSnapshot s;
  s.name = "en0";
  s.index = 4;
  s.flags = 0x8863;
  s.mtu = 1500;
  s.ifType = 6;
  s.baudrate = 1'000'000'000;
  s.counters = {.bytesIn = 123456789,
                .bytesOut = 2048,
                .packetsIn = 1000,
                .packetsOut = 20,
                .errorsIn = 1,
                .errorsOut = 2,
                .multicastIn = 3,
                .multicastOut = 0,
                .collisions = 4,
                .dropsIn = 5};
  s.linkAddress = LinkAddress{{0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}, 6};
  s.ipv4 = {IPv4Address{"192.168.1.20", "255.255.255.0", 24, "192.168.1.255", std::nullopt}};
  s.ipv6 = {IPv6Address{"fe80::21c:42ff:feab:cdef", 64, 4, 0}, IPv6Address{"2001:db8::20", 64, 0, 0x40 | 0x400}};
  s.media = MediaInfo{"autoselect", "1000baseT <full-duplex>", MediaStatus::active};
  s.capabilities = 0x3;
  s.nd6Flags = 0x201;
  s.functionalType = FunctionalType::wired;
  return s;
}

InterfaceSnapshot loopback() {
  InterfaceSnapshot s;
  s.name = "lo";
  s.index = 1;
  s.flags = 0x49;
  s.mtu = 65536;
  s.ifType = 24;
  s.counters.bytesIn = s.counters.bytesOut = 4096;
  s.linkAddress = LinkAddress{{0, 0, 0, 0, 0, 0}, 24};
  s.ipv4 = {IPv4Address{"127.0.0.1", "255.0.0.0", 8, std::nullopt, std::nullopt}};
  s.ipv6 = {IPv6Address{"::1", 128, 0, 0}};
  s.functionalType = FunctionalType::loopback;
  return s;
}

InterfaceSnapshot tunnel() {
  InterfaceSnapshot s;
  s.name = "utun3";
  s.index = 9;
  s.flags = 0x8051;
  s.mtu = 1380;
  s.ipv4 = {IPv4Address{"10.8.0.2", "255.255.255.255", 32, std::nullopt, "10.8.0.1"}};
  // An address on another interface's scope keeps its number.
  s.ipv6 = {IPv6Address{"fe80::1", std::nullopt, 7, 0x2 | 0x200 | 0x10}};
  return s;
}

InterfaceSnapshot downInterface() {
  InterfaceSnapshot s;
  s.name = "en5";
  s.index = 6;
  s.flags = 0x8862;
  s.mtu = 1500;
  s.linkAddress = LinkAddress{{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, 6};
  s.media = MediaInfo{"autoselect", std::nullopt, MediaStatus::inactive};
  s.functionalType = FunctionalType::wired;
  return s;
}

NetworkMetadata configuration() {
  NetworkMetadata m;
  m.services = {NetworkService{"8C1D2E3F-0001", "Ethernet", true, "en0", false},
                NetworkService{"8C1D2E3F-0002", "Wi-Fi", false, "en1", false},
                NetworkService{"8C1D2E3F-0003", "Büro VPN", true, "utun3", true}};
  m.primaryIPv4Interface = "en0";
  m.primaryIPv6Interface = "en0";
  return m;
}

RateHistory historyWithSample(double end) {
  RateHistory history(kHistoryRetention);
  history.add(RateSample{Date{end}, 10, 5000, 1000});
  return history;
}

}  // namespace bcn::cli::testing
